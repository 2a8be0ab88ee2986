#include "common/number_format.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kv {
namespace {

// Significant digits and decimal exponent of |value|, exactly rounded and locale-independent.
struct Scientific {
    std::string digits;
    int exponent = 0;
};

template <typename T>
Scientific ToScientific(T value, int significant) {
    std::array<char, 64> buffer{};
    const auto result =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value),
                      std::chars_format::scientific, significant - 1);
    const std::string_view text(buffer.data(),
                                static_cast<std::size_t>(result.ptr - buffer.data()));
    const std::size_t e = text.find('e');
    Scientific out;
    for (char c : text.substr(0, e)) {
        if (c != '.') {
            out.digits += c;
        }
    }
    const std::string_view exp_text = text.substr(e + 1);
    std::from_chars(exp_text.data() + (exp_text.front() == '+' ? 1 : 0),
                    exp_text.data() + exp_text.size(), out.exponent);
    return out;
}

// A decimal value split at the point: `whole` without leading zeros, `fraction` as long as needed.
struct DecimalText {
    bool negative = false;
    std::string whole;
    std::string fraction;
};

template <typename T>
DecimalText ToDecimal(T value, int significant) {
    auto [digits, exponent] = ToScientific(value, significant);
    DecimalText out;
    // Zero of either sign is no debt; every value below zero keeps its "-".
    out.negative = value < 0;
    if (exponent >= 0) {
        const auto whole_len = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() < whole_len) {
            digits.append(whole_len - digits.size(), '0');
        }
        out.whole = digits.substr(0, whole_len);
        out.fraction = digits.substr(whole_len);
    } else {
        out.fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    out.whole.erase(0, std::min(out.whole.find_first_not_of('0'), out.whole.size()));
    return out;
}

// Rounds half away from zero: the text already is the exact decimal value, so one digit decides.
void RoundFraction(DecimalText& number, std::size_t places) {
    const bool up = number.fraction.size() > places && number.fraction[places] >= '5';
    number.fraction.resize(places, '0');
    if (!up) {
        return;
    }
    std::string digits = number.whole + number.fraction;
    auto it = digits.rbegin();
    for (; it != digits.rend() && *it == '9'; ++it) {
        *it = '0';
    }
    if (it == digits.rend()) {
        digits.insert(digits.begin(), '1');
    } else {
        ++*it;
    }
    number.whole = digits.substr(0, digits.size() - places);
    number.fraction = digits.substr(digits.size() - places);
}

bool IsDigitPosition(char c) {
    return c == '#' || c == '0';
}

std::string ApplyPattern(DecimalText number, std::string_view pattern) {
    const std::size_t point = pattern.find('.');
    const std::string_view int_part = pattern.substr(0, point);
    const std::string_view frac_part =
        point == std::string_view::npos ? std::string_view{} : pattern.substr(point + 1);
    const auto places = static_cast<std::size_t>(
        std::count_if(frac_part.begin(), frac_part.end(), IsDigitPosition));
    RoundFraction(number, places);

    // Integer positions are filled from the right, so build that part backwards.
    const std::size_t first_position = int_part.find_first_of("#0");
    std::string reversed_int;
    std::size_t next = number.whole.size();
    for (std::size_t i = int_part.size(); i-- > 0;) {
        const char c = int_part[i];
        if (!IsDigitPosition(c)) {
            reversed_int += c;
        } else if (next > 0) {
            reversed_int += number.whole[--next];
        } else if (c == '0') {
            reversed_int += '0';
        }
        if (i == first_position) {
            // Digits beyond the leftmost position all go in front of it.
            while (next > 0) {
                reversed_int += number.whole[--next];
            }
        }
    }
    std::string int_text(reversed_int.rbegin(), reversed_int.rend());
    if (first_position == std::string_view::npos) {
        int_text += number.whole;  // no positions at all: the digits stand before the point
    }

    // "#" positions show a digit only when a later digit is non-zero or a "0" position follows.
    std::size_t shown = 0;
    for (std::size_t i = 0, k = 0; i < frac_part.size(); ++i) {
        if (IsDigitPosition(frac_part[i])) {
            ++k;
            if (frac_part[i] == '0' || number.fraction[k - 1] != '0') {
                shown = k;
            }
        }
    }
    std::string frac_text;
    for (std::size_t i = 0, k = 0; i < frac_part.size(); ++i) {
        if (!IsDigitPosition(frac_part[i])) {
            frac_text += frac_part[i];
        } else if (k < shown) {
            frac_text += number.fraction[k++];
        }
    }

    // The sign stays when the digits shown are all zero: "-0,0" is money just run out.
    std::string out = number.negative ? "-" : "";
    out += int_text;
    if (point != std::string_view::npos) {
        out += ',';
        out += frac_text;
    }
    return out;
}

// Accepts [blanks][sign]digits[,digits][E[sign]digits][blanks] with at least one mantissa digit,
// and returns it in the form std::from_chars reads ("-12.5e+3"), or "" when it does not fit.
std::string NormaliseNumber(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    std::string out;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        if (text[i] == '-') {
            out += '-';
        }
        ++i;
    }
    bool mantissa_digit = false;
    bool comma = false;
    for (; i < text.size(); ++i) {
        if (is_digit(text[i])) {
            mantissa_digit = true;
            out += text[i];
        } else if (text[i] == ',' && !comma) {
            comma = true;
            out += '.';
        } else {
            break;
        }
    }
    if (!mantissa_digit) {
        return {};
    }
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        out += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            out += text[i++];
        }
        const std::size_t start = i;
        while (i < text.size() && is_digit(text[i])) {
            out += text[i++];
        }
        if (i == start) {
            return {};
        }
    }
    return i == text.size() ? out : std::string{};
}

// True when a normalised number is below one in magnitude, to tell underflow from overflow.
bool BelowOne(std::string_view number) {
    const std::size_t e = number.find('e');
    const std::string_view mantissa = number.substr(0, e);
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) {
        return true;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    long long magnitude = first < point ? static_cast<long long>(point - first)
                                        : -static_cast<long long>(first - point - 1);
    if (e != std::string_view::npos) {
        std::string_view exp_text = number.substr(e + 1);
        const bool minus = exp_text.front() == '-';
        if (exp_text.front() == '+' || minus) {
            exp_text.remove_prefix(1);
        }
        long long exponent = 0;
        for (char c : exp_text) {
            exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000LL);
        }
        magnitude += minus ? -exponent : exponent;
    }
    return magnitude <= 0;
}

template <typename T>
std::optional<T> Parse(std::string_view text) {
    const std::string number = NormaliseNumber(text);
    if (number.empty()) {
        return std::nullopt;
    }
    T value{};
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range && BelowOne(number)) {
        return number.front() == '-' ? -T{0} : T{0};
    }
    if (result.ec != std::errc{} || result.ptr != number.data() + number.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::string FormatPattern(double value, std::string_view pattern) {
    if (!std::isfinite(value)) {
        return {};
    }
    return ApplyPattern(ToDecimal(value, 15), pattern);
}

std::string FormatPattern(float value, std::string_view pattern) {
    if (!std::isfinite(value)) {
        return {};
    }
    return ApplyPattern(ToDecimal(value, 7), pattern);
}

std::string GeneralFloat(float value) {
    if (!std::isfinite(value) || value == 0.0f) {
        return "0";
    }
    auto [digits, exponent] = ToScientific(value, 7);
    digits.erase(digits.find_last_not_of('0') + 1);

    std::string out = value < 0 ? "-" : "";
    // Plain notation for 0,0001 up to 9999999, as the settings have always been written.
    if (exponent >= 7 || exponent < -4) {
        out += digits.front();
        if (digits.size() > 1) {
            out += ',';
            out += digits.substr(1);
        }
        out += exponent < 0 ? "E-" : "E+";
        const int magnitude = std::abs(exponent);
        if (magnitude < 10) {
            out += '0';
        }
        out += std::to_string(magnitude);
    } else if (exponent >= 0) {
        const auto whole_len = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= whole_len) {
            out += digits + std::string(whole_len - digits.size(), '0');
        } else {
            out += digits.substr(0, whole_len) + ',' + digits.substr(whole_len);
        }
    } else {
        out += "0," + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    return out;
}

std::optional<double> ParseDecimal(std::string_view text) {
    return Parse<double>(text);
}

std::optional<float> ParseSingle(std::string_view text) {
    return Parse<float>(text);
}

}  // namespace kv
