#pragma once

// A slow model of the number texts, built on exact decimal digit strings instead of floating
// point, so that it shares no code and no shortcuts with the code under test.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::fuzz {

// A non-negative integer as decimal digits, most significant first, no leading zeros ("" is 0).
using Digits = std::string;

inline Digits MulSmall(const Digits& n, std::uint32_t factor) {
    std::string out(n.size() + 11, '0');
    std::uint64_t carry = 0;
    std::size_t o = out.size();
    for (std::size_t i = n.size(); i-- > 0;) {
        const std::uint64_t v = std::uint64_t(n[i] - '0') * factor + carry;
        out[--o] = char('0' + v % 10);
        carry = v / 10;
    }
    while (carry > 0) {
        out[--o] = char('0' + carry % 10);
        carry /= 10;
    }
    out.erase(0, std::min(out.find_first_not_of('0'), out.size()));
    return out;
}

inline Digits FromU64(std::uint64_t v) {
    Digits out;
    while (v > 0) {
        out.insert(out.begin(), char('0' + v % 10));
        v /= 10;
    }
    return out;
}

inline Digits Increment(Digits n) {
    std::size_t i = n.size();
    while (i > 0 && n[i - 1] == '9') {
        n[--i] = '0';
    }
    if (i == 0) {
        n.insert(n.begin(), '1');
    } else {
        ++n[i - 1];
    }
    return n;
}

// value = digits x 10^-scale, exactly.
struct Exact {
    bool negative = false;
    Digits digits;
    int scale = 0;
};

// m x 2^e as an exact decimal.
inline Exact FromBinary(bool negative, std::uint64_t m, int e) {
    Exact x;
    x.negative = negative;
    x.digits = FromU64(m);
    for (; e > 0; e -= std::min(e, 30)) {
        x.digits = MulSmall(x.digits, 1u << std::min(e, 30));
    }
    // 2^-k = 5^k / 10^k
    for (int k = -e; k > 0; k -= std::min(k, 13)) {
        std::uint32_t p = 1;
        for (int i = 0; i < std::min(k, 13); ++i) {
            p *= 5;
        }
        x.digits = MulSmall(x.digits, p);
    }
    x.scale = e < 0 ? -e : 0;
    return x;
}

template <typename T>
struct Binary;
template <>
struct Binary<float> {
    using Bits = std::uint32_t;
    static constexpr int kFracBits = 23, kExpBits = 8, kBias = 127;
};
template <>
struct Binary<double> {
    using Bits = std::uint64_t;
    static constexpr int kFracBits = 52, kExpBits = 11, kBias = 1023;
};

// Mantissa, exponent and sign read straight from the bits.
template <typename T>
struct Parts {
    bool negative;
    bool finite;
    std::uint64_t m;
    int e;
    bool lowerCloser;  // the next value down is half as far as the next up (a power of two)
};

template <typename T>
Parts<T> Split(T value) {
    using B = Binary<T>;
    typename B::Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    const std::uint64_t frac = std::uint64_t(bits) & ((std::uint64_t(1) << B::kFracBits) - 1);
    const int exp = int((std::uint64_t(bits) >> B::kFracBits) & ((1u << B::kExpBits) - 1));
    Parts<T> p{};
    p.negative = (std::uint64_t(bits) >> (B::kFracBits + B::kExpBits)) != 0;
    p.finite = exp != (1 << B::kExpBits) - 1;
    if (exp == 0) {
        p.m = frac;
        p.e = 1 - B::kBias - B::kFracBits;
    } else {
        p.m = frac | std::uint64_t(1) << B::kFracBits;
        p.e = exp - B::kBias - B::kFracBits;
    }
    p.lowerCloser = exp > 1 && frac == 0;
    return p;
}

template <typename T>
Exact ExactValue(T value) {
    const Parts<T> p = Split(value);
    return FromBinary(p.negative, p.m, p.e);
}

// `n` significant digits d1 d2 ... dn, meaning d1,d2...dn x 10^exp10. All zeros for zero.
struct Significant {
    Digits digits;
    int exp10 = 0;
};

// Rounded to n significant digits; an exact tie goes to the even digit, as the exactly rounded
// conversions of the language do.
inline Significant RoundSignificant(const Exact& x, int n) {
    Significant s;
    if (x.digits.empty()) {
        s.digits.assign(std::size_t(n), '0');
        return s;
    }
    s.exp10 = int(x.digits.size()) - 1 - x.scale;
    if (int(x.digits.size()) <= n) {
        s.digits = x.digits + std::string(std::size_t(n) - x.digits.size(), '0');
        return s;
    }
    Digits kept = x.digits.substr(0, std::size_t(n));
    const char next = x.digits[std::size_t(n)];
    const bool restNonZero =
        x.digits.find_first_not_of('0', std::size_t(n) + 1) != std::string::npos;
    const bool up = next > '5' || (next == '5' && (restNonZero || (kept.back() - '0') % 2 == 1));
    if (up) {
        kept = Increment(kept);
        if (int(kept.size()) > n) {
            kept.pop_back();
            ++s.exp10;
        }
    }
    s.digits = kept;
    return s;
}

// Below zero: negative zero is not.
inline bool BelowZero(const Exact& x) {
    return x.negative && !x.digits.empty();
}

// The pattern laid out on a decimal: digits fill the integer positions right-aligned, those with
// no position of their own stand before the first one; literals stay where they are. A value
// below zero is written with "-", whatever its rounded digits.
inline std::string LayOut(bool belowZero, const Significant& s, std::string_view pattern) {
    const std::size_t point = pattern.find('.');
    const std::string_view intPat = pattern.substr(0, point);
    const std::string_view fracPat =
        point == std::string_view::npos ? std::string_view{} : pattern.substr(point + 1);
    const auto isPos = [](char c) { return c == '#' || c == '0'; };
    const auto places = std::size_t(std::count_if(fracPat.begin(), fracPat.end(), isPos));
    const auto positions = std::size_t(std::count_if(intPat.begin(), intPat.end(), isPos));

    // Everything as one integer of units 10^-places, rounded half away from zero.
    const int digitsAfterPoint = int(s.digits.size()) - 1 - s.exp10;
    const int keep = int(s.digits.size()) - (digitsAfterPoint - int(places));
    Digits units;
    bool up = false;
    if (keep >= int(s.digits.size())) {
        units = s.digits + std::string(std::size_t(keep) - s.digits.size(), '0');
    } else if (keep >= 0) {
        units = s.digits.substr(0, std::size_t(keep));
        up = s.digits[std::size_t(keep)] >= '5';
    }  // keep < 0: far below the last place, rounds to zero
    units.erase(0, std::min(units.find_first_not_of('0'), units.size()));
    if (up) {
        units = Increment(units);
    }
    if (units.size() < places + 1) {
        units.insert(0, places + 1 - units.size(), '0');
    }
    Digits whole = units.substr(0, units.size() - places);
    const Digits frac = units.substr(units.size() - places);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));

    std::string out = belowZero ? "-" : "";

    // Integer part, left to right over a copy of the digits padded to the positions with '_'.
    std::string padded = whole;
    std::string extra;
    if (padded.size() > positions) {
        extra = padded.substr(0, padded.size() - positions);
        padded.erase(0, extra.size());
    } else {
        padded.insert(0, positions - padded.size(), '_');
    }
    std::size_t k = 0;
    bool extraPlaced = false;
    for (char c : intPat) {
        if (!isPos(c)) {
            out += c;
            continue;
        }
        if (!extraPlaced) {
            out += extra;
            extraPlaced = true;
        }
        const char d = padded[k++];
        out += d != '_' ? std::string(1, d) : (c == '0' ? "0" : "");
    }
    if (positions == 0) {
        out += whole;
    }
    if (point == std::string_view::npos) {
        return out;
    }
    out += ',';
    // Fraction: '#' places drop trailing zeros up to the last '0' place.
    std::size_t lastZeroPlace = 0, lastNonZero = 0;
    for (std::size_t i = 0, j = 0; i < fracPat.size(); ++i) {
        if (isPos(fracPat[i])) {
            ++j;
            if (fracPat[i] == '0') {
                lastZeroPlace = j;
            }
            if (frac[j - 1] != '0') {
                lastNonZero = j;
            }
        }
    }
    const std::size_t shown = std::max(lastZeroPlace, lastNonZero);
    for (std::size_t i = 0, j = 0; i < fracPat.size(); ++i) {
        if (!isPos(fracPat[i])) {
            out += fracPat[i];
        } else if (j < shown) {
            out += frac[j++];
        }
    }
    return out;
}

template <typename T>
std::string RefPattern(T value, int significant, std::string_view pattern) {
    const Parts<T> p = Split(value);
    if (!p.finite) {
        return {};
    }
    const Exact x = ExactValue(value);
    return LayOut(BelowZero(x), RoundSignificant(x, significant), pattern);
}

// Seven significant digits without trailing zeros, plain from 1E-04 to below 1E+07.
inline std::string RefGeneral(float value) {
    const Parts<float> p = Split(value);
    const Exact x = ExactValue(value);
    if (!p.finite || x.digits.empty()) {
        return "0";
    }
    Significant s = RoundSignificant(x, 7);
    Digits d = s.digits;
    d.erase(d.find_last_not_of('0') + 1);
    std::string out = x.negative ? "-" : "";
    if (s.exp10 >= -4 && s.exp10 <= 6) {
        if (s.exp10 >= 0) {
            const auto wholeLen = std::size_t(s.exp10) + 1;
            const Digits padded =
                d.size() < wholeLen ? d + std::string(wholeLen - d.size(), '0') : d;
            out += padded.substr(0, wholeLen);
            if (padded.size() > wholeLen) {
                out += "," + padded.substr(wholeLen);
            }
        } else {
            out += "0," + std::string(std::size_t(-s.exp10 - 1), '0') + d;
        }
        return out;
    }
    out += d.substr(0, 1);
    if (d.size() > 1) {
        out += "," + d.substr(1);
    }
    const int mag = s.exp10 < 0 ? -s.exp10 : s.exp10;
    out += s.exp10 < 0 ? "E-" : "E+";
    out += char('0' + mag / 10);
    out += char('0' + mag % 10);
    return out;
}

// a x 10^-sa compared with b x 10^-sb.
inline int Compare(Digits a, int sa, Digits b, int sb) {
    if (sa < sb) {
        a.append(std::size_t(sb - sa), '0');
    } else {
        b.append(std::size_t(sa - sb), '0');
    }
    a.erase(0, std::min(a.find_first_not_of('0'), a.size()));
    b.erase(0, std::min(b.find_first_not_of('0'), b.size()));
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

// The magnitudes that read back as |value| under round-to-nearest-even: (lo, hi), ends included
// when the mantissa is even.
template <typename T>
struct Interval {
    Exact lo, hi;
    bool inclusive;
};

template <typename T>
Interval<T> RoundingInterval(T value) {
    const Parts<T> p = Split(value);
    Interval<T> r;
    r.hi = FromBinary(false, 2 * p.m + 1, p.e - 1);
    r.lo = p.lowerCloser ? FromBinary(false, 4 * p.m - 1, p.e - 2)
                         : FromBinary(false, p.m == 0 ? 0 : 2 * p.m - 1, p.e - 1);
    r.inclusive = p.m % 2 == 0;
    return r;
}

template <typename T>
bool Inside(const Interval<T>& r, const Digits& d, int scale) {
    const int lo = Compare(r.lo.digits, r.lo.scale, d, scale);
    const int hi = Compare(d, scale, r.hi.digits, r.hi.scale);
    return r.inclusive ? lo <= 0 && hi <= 0 : lo < 0 && hi < 0;
}

// Fewest significant digits of a decimal that reads back as the value (finite, non-zero).
template <typename T>
int ShortestDigits(T value, int maxDigits) {
    const Exact x = ExactValue(value);
    const Interval<T> r = RoundingInterval(value);
    for (int n = 1; n <= maxDigits; ++n) {
        // The n-digit neighbours of x: cut below, and one unit of the last digit above.
        const int cut = int(x.digits.size()) - n;
        if (cut <= 0) {
            return n;  // x itself has at most n digits
        }
        const Digits below = x.digits.substr(0, std::size_t(n));
        const int scale = x.scale - cut;
        if (Inside(r, below, scale) || Inside(r, Increment(below), scale)) {
            return n;
        }
    }
    return maxDigits + 1;
}

}  // namespace kv::fuzz
