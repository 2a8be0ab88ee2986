#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kv {

// Readout patterns. "#" is an optional digit, "0" a required one, "." the decimal comma; every
// other character is copied where it stands.
namespace patterns {
inline constexpr std::string_view kMegabytes = "###0.0# Мб";
inline constexpr std::string_view kRoubles = "###0.0# руб";
inline constexpr std::string_view kPlain = "###0.0#";
inline constexpr std::string_view kBytes = "### ### ### ##0 байт";
inline constexpr std::string_view kBytesPerSecond = "### ### ##0 байт/сек";
}  // namespace patterns

// Formats by pattern, rounding half away from zero on the value's decimal form as its type
// carries it: 15 significant digits for double, 7 for float. Only the first "." is the decimal
// comma. A value below zero always gets its "-", also when every digit shown is zero (-0.001
// gives "-0,0"); zero of either sign has none (-0.0 gives "0,0"). Non-finite values give "".
std::string FormatPattern(double value, std::string_view pattern);
std::string FormatPattern(float value, std::string_view pattern);

// Shortest text of a 32-bit float with at most 7 significant digits and the decimal comma:
// "2,5", "10", "-7,35", "1E+07", "1E-05". Plain notation from 0,0001 to 9999999 (decided after
// rounding), exponent form outside it. Zero of either sign and non-finite values give "0".
// Seven digits cannot tell every float apart: floats 0x6E013F3A-0x6E013F3D write "1E+28", which
// reads back as 0x6E013F39, written "9,999999E+27". What holds is that the text is stable after
// one read and write, and floats that need no more than seven digits read back exactly.
std::string GeneralFloat(float value);

// Reads a number written with the decimal comma, as the edit boxes and the settings file hold it:
// optional blanks around, optional sign, digits with at most one comma (",5" and "5," are
// accepted), an optional exponent ("1E+07", "e" too). Anything else, and empty text, gives nullopt;
// so do magnitudes too large for a double, while ones too small read as zero.
std::optional<double> ParseDecimal(std::string_view text);

// ParseDecimal's rules for a 32-bit float, rounded once from the text (not through a double);
// nullopt as well when the magnitude is too large for a float.
std::optional<float> ParseSingle(std::string_view text);

}  // namespace kv
