// Pattern texts and the general float text against the decimal-string model, and the comma
// number reader on arbitrary text.
#include <cmath>
#include <cstring>
#include <optional>

#include "common/number_format.h"
#include "decimal_reference.h"
#include "fuzz_check.h"

namespace {

using namespace kv::fuzz;

constexpr std::string_view kPatterns[] = {kv::patterns::kMegabytes, kv::patterns::kRoubles,
                                          kv::patterns::kPlain, kv::patterns::kBytes,
                                          kv::patterns::kBytesPerSecond};

template <typename T>
void CheckPatterns(T value, int significant) {
    const Parts<T> parts = Split(value);
    const Exact exact = ExactValue(value);
    const Significant rounded = RoundSignificant(exact, significant);
    for (std::string_view pattern : kPatterns) {
        const std::string got = kv::FormatPattern(value, pattern);
        const std::string want = parts.finite ? LayOut(BelowZero(exact), rounded, pattern) : "";
        KV_FUZZ_CHECK(got == want, "value %.17g pattern '%.*s': got '%s', want '%s'", double(value),
                      int(pattern.size()), pattern.data(), got.c_str(), want.c_str());
    }
}

void CheckGeneral(float value) {
    const std::string text = kv::GeneralFloat(value);
    const std::string want = RefGeneral(value);
    KV_FUZZ_CHECK(text == want, "GeneralFloat(%.9g): got '%s', want '%s'", double(value),
                  text.c_str(), want.c_str());
    const std::optional<float> back = kv::ParseSingle(text);
    KV_FUZZ_CHECK(back.has_value(), "GeneralFloat(%.9g) = '%s' does not read back", double(value),
                  text.c_str());
    // Seven digits cannot name every float (1.0000001E+28 is written "1E+28", which reads back
    // as a neighbour written "9,999999E+27"), but the text is stable after one read and write.
    const std::string settled = kv::GeneralFloat(*back);
    const std::string again = kv::GeneralFloat(*kv::ParseSingle(settled));
    KV_FUZZ_CHECK(again == settled, "GeneralFloat(%.9g) = '%s' is not stable after one read: '%s'",
                  double(value), settled.c_str(), again.c_str());
    if (std::isfinite(value) && value != 0 && ShortestDigits(value, 7) <= 7) {
        KV_FUZZ_CHECK(*back == value, "%.9g needs at most 7 digits, but '%s' reads back as %.9g",
                      double(value), text.c_str(), double(*back));
    }
}

// The accepted grammar written out once more: [blanks][sign]digits[,digits][E[sign]digits][blanks],
// at least one mantissa digit. Returns the exact value (mantissa digits, decimal scale).
struct Text {
    bool negative = false;
    Digits digits;
    long long scale = 0;
};

std::optional<Text> ModelParse(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t i = 0, end = s.size();
    while (i < end && blank(s[i]))
        ++i;
    while (end > i && blank(s[end - 1]))
        --end;
    Text t;
    if (i < end && (s[i] == '+' || s[i] == '-')) {
        t.negative = s[i++] == '-';
    }
    bool any = false, comma = false;
    for (; i < end; ++i) {
        if (digit(s[i])) {
            any = true;
            t.digits += s[i];
            if (comma)
                ++t.scale;
        } else if (s[i] == ',' && !comma) {
            comma = true;
        } else {
            break;
        }
    }
    if (!any)
        return std::nullopt;
    if (i < end && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        bool minus = false;
        if (i < end && (s[i] == '+' || s[i] == '-'))
            minus = s[i++] == '-';
        const std::size_t start = i;
        long long exp = 0;
        for (; i < end && digit(s[i]); ++i)
            exp = std::min(exp * 10 + (s[i] - '0'), 100000000LL);
        if (i == start)
            return std::nullopt;
        t.scale += minus ? exp : -exp;
    }
    if (i != end)
        return std::nullopt;
    t.digits.erase(0, std::min(t.digits.find_first_not_of('0'), t.digits.size()));
    return t;
}

template <typename T>
void CheckParse(std::string_view text, std::optional<T> got, T max) {
    const std::optional<Text> model = ModelParse(text);
    if (!model) {
        KV_FUZZ_CHECK(!got, "'%s' is not a number but reads as %.17g", Escape(text).c_str(),
                      double(*got));
        return;
    }
    if (got) {
        KV_FUZZ_CHECK(std::isfinite(*got), "'%s' reads as a non-finite value",
                      Escape(text).c_str());
        KV_FUZZ_CHECK(model->digits.empty() || std::signbit(*got) == model->negative,
                      "'%s' reads with the wrong sign", Escape(text).c_str());
    }
    // Exact comparisons only where the digit strings stay small.
    const long long mag = static_cast<long long>(model->digits.size()) - model->scale;
    if (model->digits.size() > 400 || model->scale > 1200 || model->scale < -400) {
        if (model->digits.empty() || mag < -400) {
            KV_FUZZ_CHECK(got && *got == 0, "'%s' is zero or tiny but reads as %s",
                          Escape(text).c_str(), got ? "non-zero" : "nothing");
        } else if (mag > 400) {
            KV_FUZZ_CHECK(!got, "'%s' is far too large but reads", Escape(text).c_str());
        }
        return;
    }
    if (!got) {
        // Refused only when the nearest value overflows: at or beyond max + half a step.
        const Interval<T> r = RoundingInterval(max);
        KV_FUZZ_CHECK(Compare(model->digits, int(model->scale), r.hi.digits, r.hi.scale) >= 0,
                      "'%s' is a number in range but reads as nothing", Escape(text).c_str());
        return;
    }
    if (*got == 0) {
        // Below half the smallest step (or exactly half: ties go to the even zero).
        const T tiny = std::numeric_limits<T>::denorm_min();
        const Interval<T> r = RoundingInterval(tiny);
        KV_FUZZ_CHECK(Compare(model->digits, int(model->scale), r.lo.digits, r.lo.scale) <= 0,
                      "'%s' reads as zero", Escape(text).c_str());
        return;
    }
    KV_FUZZ_CHECK(Inside(RoundingInterval(*got), model->digits, int(model->scale)),
                  "'%s' reads as %.17g, which is not the nearest value", Escape(text).c_str(),
                  double(*got));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    const std::uint32_t fbits = in.U32();
    const std::uint64_t dbits = in.U64();
    float f;
    double d;
    std::memcpy(&f, &fbits, sizeof f);
    std::memcpy(&d, &dbits, sizeof d);

    CheckPatterns(f, 7);
    CheckPatterns(d, 15);
    CheckGeneral(f);

    const std::string_view text = in.Rest();
    CheckParse(text, kv::ParseSingle(text), std::numeric_limits<float>::max());
    CheckParse(text, kv::ParseDecimal(text), std::numeric_limits<double>::max());
    return 0;
}
