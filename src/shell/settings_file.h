#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

struct ProgramState;

// Written when no settings file exists: nine lines, each ended by CR LF (43 bytes). There is no
// tenth line, so the player line starts shown.
inline constexpr std::string_view kDefaultText =
    "10\r\n2,5\r\n-1\r\n8460\r\n2625\r\n8460\r\n2625\r\n0\r\n0\r\n";

// Position of each value in data.dat; lines have no keys.
enum class SettingsLine : int {
    kMoneyLimit = 1,
    kTariff,
    kAdapterIndex,
    kMainLeft,
    kMainTop,
    kIndicatorLeft,
    kIndicatorTop,
    kOnTop,
    kIndicatorEnabled,
    kPlayerLine,
};
inline constexpr int kSettingsLineCount = 10;

// What the ten lines carry. Positions are in twips.
//
// After ParseSettings every field is usable as it stands: a line 1 to 7 that is absent or not a
// finite number in range holds the default text's value. Line k was in the file exactly when
// Has(k); a short file means "keep what start-up had" for its missing lines, so the caller applies
// a field only when its line is present, except tariffPerMb, which is always applied (absent or
// not above 0 reads as 2,5). ApplyToState does this for the program-wide part.
struct StoredSettings {
    float moneyLimit = 10;
    float tariffPerMb = 2.5F;        // > 0 after reading
    std::int32_t adapterIndex = -1;  // -1: none chosen; never below -1 after reading
    float mainLeft = 8460;
    float mainTop = 2625;
    std::int32_t indicatorLeft = 8460;  // 32-bit: wide desktops pass 32767 twips
    std::int32_t indicatorTop = 2625;

    // Lines 8 to 10 hold exactly "1" (true) or "0" (false); any other text, blanks included, and
    // an absent line give nullopt: change nothing. Saving writes nullopt as the start-up choice.
    std::optional<bool> onTop;             // line 8: main window stays above others
    std::optional<bool> indicatorEnabled;  // line 9
    std::optional<bool> playerLineShown;   // line 10: "1" shown; the state keeps the inverse

    int presentLines = 0;  // 0 to 10; lines past the tenth are not counted

    bool Has(SettingsLine line) const { return static_cast<int>(line) <= presentLines; }
};

// Never fails: LF or CR LF line ends, a last line without an end and a UTF-8 byte-order mark are
// all accepted; lines 3, 6 and 7 are read as numbers and rounded half to even; lines after the
// tenth are ignored.
StoredSettings ParseSettings(std::string_view bytes);

// Exactly ten lines, each ended by CR LF. Numbers use the general float text with the decimal
// comma, except the adapter index, which is a plain integer. Reading the result back and saving
// again gives the same text.
std::string SerializeSettings(const StoredSettings& settings);

// Takes the present lines into the program-wide state: money limit, tariff (always), adapter
// index, indicator position and the three state flags behind lines 9 and 10. The main window's
// position and its stay-on-top choice (lines 4, 5, 8) are left to the window.
void ApplyToState(const StoredSettings& settings, ProgramState& state);

// data.dat beside the executable when a file can be made in that folder, otherwise in the per-user
// configuration folder (created here when missing).
QString SettingsPath(const QString& executableDir);
// The same choice between two given folders. Without a fallback the executable's folder is used
// anyway; a fallback that cannot be created still gives a path there, loading then fails and the
// caller works from kDefaultText.
QString SettingsPath(const QString& executableDir, const QString& fallbackDir);

enum class SettingsLoad {
    kRead,        // bytesOut holds the file, perhaps the default text just written
    kNotCreated,  // nothing was there and the default text could not be written
    kUnreadable,  // something is there but cannot be read: it must not be written over
};

// Reads the file at `path`, first writing kDefaultText there when nothing of that name exists.
// On failure bytesOut holds kDefaultText.
SettingsLoad LoadOrCreate(const QString& path, std::string& bytesOut);

// Replaces the file as a whole: a temporary file is written, flushed to disk and renamed over
// it, so a crash or power cut leaves the old or the new text, never a mix. Returns false on any
// failure (read-only or full folder, missing parent) and leaves the old file as it was.
bool SaveAtomically(const QString& path, std::string_view text);

}  // namespace kv
