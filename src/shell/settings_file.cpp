#include "shell/settings_file.h"

#include "accounting/program_state.h"
#include "common/number_format.h"
#include "common/rounding.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kv {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Only ten short lines matter; a huge or endless file must not be pulled into memory whole.
constexpr qint64 kMaxReadBytes = 1 << 20;

// Extremes whose seven-digit text still reads back inside the 32-bit range; beyond them a saved
// position would come back as the default.
constexpr std::int32_t kMaxWrittenPosition = 2147483000;

float ReadFloat(std::string_view text, float fallback) {
    const std::optional<float> value = ParseSingle(text);
    return value && std::isfinite(*value) ? *value : fallback;
}

std::int32_t ReadInt32(std::string_view text, std::int32_t fallback) {
    const std::optional<double> value = ParseDecimal(text);
    if (!value) {
        return fallback;
    }
    try {
        return RoundToInt32(*value);
    } catch (const std::overflow_error&) {
        return fallback;
    }
}

std::optional<bool> ReadChoice(std::string_view text) {
    if (text == "1") {
        return true;
    }
    if (text == "0") {
        return false;
    }
    return std::nullopt;
}

// Seven digits cannot name every float: 1.0000001E+28 is written "1E+28", which reads back as
// another float whose text is "9,999999E+27". The text that reads back to itself is written,
// so that a file saved once stays the same through any number of reads and saves.
std::string WriteFloat(float value) {
    std::string text = GeneralFloat(value);
    for (int step = 0; step < 4; ++step) {
        const std::optional<float> back = ParseSingle(text);
        if (!back) {
            break;
        }
        std::string again = GeneralFloat(*back);
        if (again == text) {
            break;
        }
        text = std::move(again);
    }
    return text;
}

std::string WritePosition(std::int32_t twips) {
    const std::int32_t clamped = std::clamp(twips, -kMaxWrittenPosition, kMaxWrittenPosition);
    return WriteFloat(static_cast<float>(clamped));
}

std::string_view WriteChoice(bool value) {
    return value ? "1" : "0";
}

QString FilePath(const QString& dir) {
    return QDir(dir).filePath(QStringLiteral("data.dat"));
}

}  // namespace

StoredSettings ParseSettings(std::string_view bytes) {
    const StoredSettings defaults;
    StoredSettings out;
    if (bytes.starts_with(kByteOrderMark)) {
        bytes.remove_prefix(kByteOrderMark.size());
    }
    int lineNo = 0;
    while (!bytes.empty() && lineNo < kSettingsLineCount) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        ++lineNo;
        switch (static_cast<SettingsLine>(lineNo)) {
            case SettingsLine::kMoneyLimit:
                out.moneyLimit = ReadFloat(line, defaults.moneyLimit);
                break;
            case SettingsLine::kTariff:
                out.tariffPerMb = ReadFloat(line, defaults.tariffPerMb);
                break;
            case SettingsLine::kAdapterIndex:
                out.adapterIndex = ReadInt32(line, defaults.adapterIndex);
                break;
            case SettingsLine::kMainLeft:
                out.mainLeft = ReadFloat(line, defaults.mainLeft);
                break;
            case SettingsLine::kMainTop:
                out.mainTop = ReadFloat(line, defaults.mainTop);
                break;
            case SettingsLine::kIndicatorLeft:
                out.indicatorLeft = ReadInt32(line, defaults.indicatorLeft);
                break;
            case SettingsLine::kIndicatorTop:
                out.indicatorTop = ReadInt32(line, defaults.indicatorTop);
                break;
            case SettingsLine::kOnTop:
                out.onTop = ReadChoice(line);
                break;
            case SettingsLine::kIndicatorEnabled:
                out.indicatorEnabled = ReadChoice(line);
                break;
            case SettingsLine::kPlayerLine:
                out.playerLineShown = ReadChoice(line);
                break;
        }
    }
    out.presentLines = lineNo;
    // The limit is divided by the tariff in every readout.
    if (!(out.tariffPerMb > 0)) {
        out.tariffPerMb = defaults.tariffPerMb;
    }
    out.adapterIndex = std::max(out.adapterIndex, std::int32_t{-1});
    return out;
}

std::string SerializeSettings(const StoredSettings& s) {
    std::string out;
    const auto line = [&out](std::string_view text) {
        out += text;
        out += "\r\n";
    };
    line(WriteFloat(s.moneyLimit));
    line(WriteFloat(s.tariffPerMb));
    line(std::to_string(s.adapterIndex));
    line(WriteFloat(s.mainLeft));
    line(WriteFloat(s.mainTop));
    line(WritePosition(s.indicatorLeft));
    line(WritePosition(s.indicatorTop));
    line(WriteChoice(s.onTop.value_or(false)));
    line(WriteChoice(s.indicatorEnabled.value_or(false)));
    line(WriteChoice(s.playerLineShown.value_or(true)));
    return out;
}

void ApplyToState(const StoredSettings& s, ProgramState& state) {
    if (s.Has(SettingsLine::kMoneyLimit)) {
        state.moneyLimit = s.moneyLimit;
    }
    state.tariffPerMb = s.tariffPerMb;
    if (s.Has(SettingsLine::kAdapterIndex)) {
        state.adapterIndex = s.adapterIndex;
    }
    if (s.Has(SettingsLine::kIndicatorLeft)) {
        state.indicatorLeft = s.indicatorLeft;
    }
    if (s.Has(SettingsLine::kIndicatorTop)) {
        state.indicatorTop = s.indicatorTop;
    }
    if (s.indicatorEnabled) {
        state.indicatorEnabled = *s.indicatorEnabled;
        if (!*s.indicatorEnabled) {
            state.indicatorShown = false;
        }
    }
    if (s.playerLineShown) {
        state.playerLineHidden = !*s.playerLineShown;
        state.tickerPaused = state.playerLineHidden;
    }
}

QString SettingsPath(const QString& executableDir) {
    return SettingsPath(executableDir,
                        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

QString SettingsPath(const QString& executableDir, const QString& fallbackDir) {
    const QFileInfo exeDir(executableDir);
    // Permission bits do not tell: Windows guards Program Files by access lists, which Qt does
    // not read, and a folder may sit on a read-only mount. Only a file made there does.
    QTemporaryFile probe(QDir(executableDir).filePath(QStringLiteral("data.dat.XXXXXX")));
    if (fallbackDir.isEmpty() || (exeDir.isDir() && exeDir.isWritable() && probe.open())) {
        return FilePath(executableDir);
    }
    QDir().mkpath(fallbackDir);
    return FilePath(fallbackDir);
}

SettingsLoad LoadOrCreate(const QString& path, std::string& bytesOut) {
    bytesOut.assign(kDefaultText);
    if (!QFileInfo::exists(path) && !SaveAtomically(path, kDefaultText)) {
        return SettingsLoad::kNotCreated;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return SettingsLoad::kUnreadable;
    }
    const QByteArray bytes = file.read(kMaxReadBytes);
    if (file.error() != QFileDevice::NoError) {
        return SettingsLoad::kUnreadable;
    }
    bytesOut.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return SettingsLoad::kRead;
}

bool SaveAtomically(const QString& path, std::string_view text) {
    QSaveFile file(path);
    // Writing in place when no temporary file can be made would lose the old-or-new promise.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const auto size = static_cast<qint64>(text.size());
    if (file.write(text.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

}  // namespace kv
