#include "common/number_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kv {
namespace {

using patterns::kBytes, patterns::kPlain, patterns::kMegabytes;

TEST(FormatPattern, WritesDoublesAsTheReadoutsShowThem) {
    const std::tuple<double, std::string_view, std::string_view> cases[] = {
        {4, kMegabytes, "4,0 Мб"},
        {2.5, kMegabytes, "2,5 Мб"},
        {1234.567, kMegabytes, "1234,57 Мб"},
        {-1.5, kMegabytes, "-1,5 Мб"},
        {-0.75, patterns::kRoubles, "-0,75 руб"},
        {0.999, kPlain, "1,0"},
        {-0.001, kPlain, "-0,0"},
        {-0.005, kPlain, "-0,01"},
        {-0.0, kPlain, "0,0"},
        // Below zero keeps its "-" even when the digits shown are all zero; zero never has one.
        {-0.004, kPlain, "-0,0"},
        {-0.004, patterns::kRoubles, "-0,0 руб"},
        {-1e-300, kMegabytes, "-0,0 Мб"},
        {-0.4, kBytes, "-   0 байт"},
        {0.004, kPlain, "0,0"},
        {2.675, kPlain, "2,68"},
        {1.005, kPlain, "1,01"},
        {1234, kBytes, "  1 234 байт"},
        {0, kBytes, "   0 байт"},
        {999.5, kBytes, "  1 000 байт"},
        {-1234, kBytes, "-  1 234 байт"},
        {123456789012345, patterns::kBytesPerSecond, "123456789 012 345 байт/сек"},
        {1.25, "00.000", "01,250"},
        {12.5, ".00", "12,50"},
        {7, "#.# a.b", "7, a.b"}};
    for (const auto& [value, pattern, expected] : cases) {
        EXPECT_EQ(FormatPattern(value, pattern), expected) << value << " " << pattern;
    }
}

TEST(FormatPattern, RoundsFloatsOnTheirSevenDigitDecimalForm) {
    EXPECT_EQ(FormatPattern(1.005f, kPlain), "1,01");
    EXPECT_EQ(FormatPattern(static_cast<double>(1.005f), kPlain), "1,0");
    EXPECT_EQ(FormatPattern(-0.125f, kMegabytes), "-0,13 Мб");
    EXPECT_EQ(FormatPattern(-0.004f, kPlain), "-0,0");
    EXPECT_EQ(FormatPattern(-0.0f, kPlain), "0,0");
    EXPECT_EQ(FormatPattern(16777217.0f, kPlain), "16777220,0");
}

TEST(FormatPattern, WritesEveryDigitOfHugeValuesAndNothingForNonFinite) {
    EXPECT_EQ(FormatPattern(1e300, kPlain), "1" + std::string(300, '0') + ",0");
    EXPECT_EQ(FormatPattern(std::numeric_limits<float>::max(), kBytes),
              "340282300000000000000000000000 000 000 000 байт");
    EXPECT_EQ(FormatPattern(std::numeric_limits<double>::infinity(), kPlain), "");
    EXPECT_EQ(FormatPattern(std::numeric_limits<float>::quiet_NaN(), kPlain), "");
}

TEST(GeneralFloat, WritesTheShortestSevenDigitText) {
    constexpr float kMax = std::numeric_limits<float>::max();
    const std::pair<float, std::string_view> cases[] = {
        {2.5f, "2,5"},
        {10.0f, "10"},
        {7.35f, "7,35"},
        {6.25f, "6,25"},
        {-2.5f, "-2,5"},
        {9999999.0f, "9999999"},
        {1e7f, "1E+07"},
        {12345678.0f, "1,234568E+07"},
        {kMax, "3,402823E+38"},
        {0.0001f, "0,0001"},
        {0.00001f, "1E-05"},
        {-0.000012345f, "-1,2345E-05"},
        {std::numeric_limits<float>::denorm_min(), "1,401298E-45"},
        {1.0f / 3.0f, "0,3333333"},
        {-0.0f, "0"},
        {std::numeric_limits<float>::infinity(), "0"},
        // Seven digits name these four and their lower neighbour alike.
        {std::bit_cast<float>(0x6E013F39u), "9,999999E+27"},
        {std::bit_cast<float>(0x6E013F3Au), "1E+28"},
        {std::bit_cast<float>(0x6E013F3Bu), "1E+28"},
        {std::bit_cast<float>(0x6E013F3Cu), "1E+28"},
        {std::bit_cast<float>(0x6E013F3Du), "1E+28"},
        {std::bit_cast<float>(0x6E013F3Eu), "1,000001E+28"}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(GeneralFloat(value), expected) << value;
    }
}

TEST(ParseDecimal, ReadsCommaNumbersAndRejectsAnythingElse) {
    const std::pair<std::string_view, double> accepted[] = {
        {"2,5", 2.5}, {" -7,35 ", -7.35}, {"+10", 10},        {",5", 0.5},
        {"5,", 5},    {"1E+07", 1e7},     {"1,5e-3", 1.5e-3}, {"1E-400", 0}};
    for (const auto& [text, expected] : accepted) {
        EXPECT_EQ(ParseDecimal(text), expected) << text;
    }
    for (std::string_view text : {".", "1.5", "1,2,3", ",", "", " ", "abc", "nan", "inf", "1e",
                                  "--1", "- 1", "1 2", "0x10", "1E+400", "1e+"}) {
        EXPECT_EQ(ParseDecimal(text), std::nullopt) << text;
    }
}

TEST(ParseSingle, RoundsOnceFromTheTextAndRejectsWhatAFloatCannotHold) {
    EXPECT_EQ(ParseSingle("1,00000005960464477539062500000001"), std::nextafter(1.0f, 2.0f));
    EXPECT_EQ(ParseSingle("3,4028235E+38"), std::numeric_limits<float>::max());
    EXPECT_EQ(ParseSingle("3,5E+38"), std::nullopt);
}

// Every 65537th bit pattern, which visits every exponent and many mantissas, and the floats that
// seven digits name alike with a neighbour.
TEST(GeneralFloat, IsStableAfterOneReadAndWrite) {
    std::vector<std::uint32_t> sample{0x6E013F3Au, 0x6E013F3Bu, 0x6E013F3Cu, 0x6E013F3Du};
    for (std::uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 65537) {
        sample.push_back(std::uint32_t(bits));
    }
    for (const std::uint32_t bits : sample) {
        const float value = std::bit_cast<float>(bits);
        if (!std::isfinite(value)) {
            continue;
        }
        const std::string text = GeneralFloat(value);
        const auto back = ParseSingle(text);
        ASSERT_TRUE(back.has_value()) << text;
        const std::string settled = GeneralFloat(*back);
        ASSERT_EQ(GeneralFloat(*ParseSingle(settled)), settled) << bits;
        char shortest[32];
        const std::string_view sci(shortest, std::to_chars(shortest, shortest + sizeof shortest,
                                                           value, std::chars_format::scientific)
                                                 .ptr);
        if (std::count_if(sci.begin(), sci.begin() + sci.find('e'), ::isdigit) <= 7) {
            ASSERT_EQ(*back, value) << text;  // floats that seven digits can name come back exact
        }
    }
}

}  // namespace
}  // namespace kv
