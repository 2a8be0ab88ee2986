#include "shell/paid_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cstdint>
#include <optional>

#include "platform/boot_id.h"
#include "shell/settings_file.h"

namespace kv {

namespace {

constexpr std::string_view kHeader = "kvotomer paid 1";
// Far more than any table's worth of marks; a bigger file was not written by the program.
constexpr qint64 kMaxFileSize = 64 * 1024;
constexpr std::size_t kMaxMarks = 256;
// Byte totals are whole numbers a double holds exactly.
constexpr std::uint64_t kMaxWholeBytes = std::uint64_t(1) << 53;

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == separator) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

template <typename T>
std::optional<T> Whole(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<double> Bytes(std::string_view text) {
    const std::optional<std::uint64_t> value = Whole<std::uint64_t>(text);
    if (!value || *value > kMaxWholeBytes) {
        return std::nullopt;
    }
    return double(*value);
}

std::string WholeText(double bytes) {
    return std::to_string(std::uint64_t(bytes));
}

std::optional<TrafficBook::PaidMark> ParseMark(const std::vector<std::string_view>& fields) {
    if (fields.size() != 5) {
        return std::nullopt;
    }
    const auto index = Whole<std::uint32_t>(fields[1]);
    const auto sent = Whole<std::uint32_t>(fields[2]);
    const auto received = Whole<std::uint32_t>(fields[3]);
    if (!index || !sent || !received) {
        return std::nullopt;
    }
    const QByteArray description = QByteArray::fromPercentEncoding(
        QByteArray::fromRawData(fields[4].data(), qsizetype(fields[4].size())));
    return TrafficBook::PaidMark{*index, description.toStdString(), *sent, *received};
}

}  // namespace

QString PaidRecordPath(const QString& settingsPath) {
    return QFileInfo(settingsPath).dir().filePath(QStringLiteral("paid.dat"));
}

std::string SerializePaidRecord(const PaidRecord& record) {
    std::string text(kHeader);
    text += "\nboot " + record.bootId;
    text += "\nunpaid " + WholeText(record.unpaid.sent) + " " + WholeText(record.unpaid.received);
    for (const TrafficBook::PaidMark& mark : record.marks) {
        const QByteArray description =
            QByteArray::fromStdString(mark.description).toPercentEncoding();
        text += "\nmark " + std::to_string(mark.index) + " " + std::to_string(mark.sent) + " " +
                std::to_string(mark.received) + " " + description.toStdString();
    }
    text += "\n";
    return text;
}

PaidRecord ParsePaidRecord(std::string_view text) {
    if (text.empty() || text.back() != '\n') {
        return {};  // a cut file
    }
    const std::vector<std::string_view> lines = Split(text.substr(0, text.size() - 1), '\n');
    if (lines.size() < 3 || lines.size() > 3 + kMaxMarks || lines[0] != kHeader) {
        return {};
    }
    PaidRecord record;
    // An empty name (the system named no boot) is kept: such marks never apply, but unpaid
    // traffic still counts.
    const std::vector<std::string_view> boot = Split(lines[1], ' ');
    if (boot.size() != 2 || boot[0] != "boot" || !IsPlainBootId(boot[1])) {
        return {};
    }
    record.bootId = boot[1];
    const std::vector<std::string_view> unpaid = Split(lines[2], ' ');
    const std::optional<double> unpaidSent = unpaid.size() == 3 ? Bytes(unpaid[1]) : std::nullopt;
    const std::optional<double> unpaidReceived =
        unpaid.size() == 3 ? Bytes(unpaid[2]) : std::nullopt;
    if (unpaid[0] != "unpaid" || !unpaidSent || !unpaidReceived) {
        return {};
    }
    record.unpaid = {*unpaidSent, *unpaidReceived};
    for (std::size_t i = 3; i < lines.size(); ++i) {
        const std::vector<std::string_view> fields = Split(lines[i], ' ');
        std::optional<TrafficBook::PaidMark> mark =
            fields[0] == "mark" ? ParseMark(fields) : std::nullopt;
        if (!mark) {
            return {};
        }
        for (const TrafficBook::PaidMark& earlier : record.marks) {
            if (earlier.index == mark->index) {
                return {};
            }
        }
        record.marks.push_back(std::move(*mark));
    }
    return record;
}

PaidRecord LoadPaidRecord(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    if (bytes.size() > kMaxFileSize) {
        return {};
    }
    return ParsePaidRecord(std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

bool SavePaidRecord(const QString& path, const PaidRecord& record) {
    if (record.marks.empty() && record.unpaid.sent == 0 && record.unpaid.received == 0) {
        return !QFile::exists(path) || QFile::remove(path);
    }
    return SaveAtomically(path, SerializePaidRecord(record));
}

}  // namespace kv
