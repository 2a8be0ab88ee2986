#include "shell/paid_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <charconv>
#include <cmath>

#include "platform/boot_id.h"
#include "shell/settings_file.h"

namespace kv {

namespace {

constexpr std::string_view kFirstHeader = "kvotomer paid 1";
constexpr std::string_view kSecondHeader = "kvotomer paid 2";
constexpr std::string_view kHeader = "kvotomer paid 3";
// Far more than any table's worth of marks; a bigger file was not written by the program.
constexpr qint64 kMaxFileSize = 64 * 1024;
constexpr std::size_t kMaxMarks = 256;
// Byte totals are whole numbers a double holds exactly.
constexpr std::uint64_t kMaxWholeBytes = std::uint64_t(1) << 53;

using Fields = std::vector<std::string_view>;

Fields Split(std::string_view text, char separator) {
    Fields parts;
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
std::optional<T> Number(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

template <typename T>
std::optional<T> Finite(std::string_view text) {
    const std::optional<T> value = Number<T>(text);
    return value && std::isfinite(*value) ? value : std::nullopt;
}

std::optional<double> Bytes(std::string_view text) {
    const std::optional<std::uint64_t> value = Number<std::uint64_t>(text);
    if (!value || *value > kMaxWholeBytes) {
        return std::nullopt;
    }
    return double(*value);
}

std::optional<TrafficBook::Totals> TotalsOf(std::string_view sent, std::string_view received) {
    const std::optional<double> s = Bytes(sent);
    const std::optional<double> r = Bytes(received);
    if (!s || !r) {
        return std::nullopt;
    }
    return TrafficBook::Totals{*s, *r};
}

template <typename T>
std::string Text(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string WholeText(double bytes) {
    return std::to_string(std::uint64_t(bytes));
}

std::string Encoded(const std::string& description) {
    return QByteArray::fromStdString(description).toPercentEncoding().toStdString();
}

std::string Decoded(std::string_view text) {
    return QByteArray::fromPercentEncoding(
               QByteArray::fromRawData(text.data(), qsizetype(text.size())))
        .toStdString();
}

// A counter reading at the width the format keeps.
std::optional<std::uint64_t> Reading(std::string_view text, bool low32) {
    if (low32) {
        const auto value = Number<std::uint32_t>(text);
        return value ? std::optional<std::uint64_t>(*value) : std::nullopt;
    }
    return Number<std::uint64_t>(text);
}

std::optional<TrafficBook::PaidMark> ParseMark(const Fields& fields, bool low32) {
    if (fields.size() != 5 || fields[0] != "mark") {
        return std::nullopt;
    }
    const auto index = Number<std::uint32_t>(fields[1]);
    const auto sent = Reading(fields[2], low32);
    const auto received = Reading(fields[3], low32);
    if (!index || !sent || !received) {
        return std::nullopt;
    }
    return TrafficBook::PaidMark{*index, Decoded(fields[4]), *sent, *received};
}

std::optional<PaidRecord::CountedSession> ParseSession(const Fields& fields, bool low32) {
    if (fields.size() != 8 || fields[0] != "session") {
        return std::nullopt;
    }
    const auto index = Number<std::uint32_t>(fields[1]);
    const std::optional<TrafficBook::Totals> totals = TotalsOf(fields[2], fields[3]);
    const auto sent = Reading(fields[4], low32);
    const auto received = Reading(fields[5], low32);
    const auto savedAt = Number<std::int64_t>(fields[6]);
    if (!index || !totals || !sent || !received || !savedAt) {
        return std::nullopt;
    }
    return PaidRecord::CountedSession{{*index, Decoded(fields[7]), *totals, *sent, *received},
                                      *savedAt};
}

// The lines both formats begin with: header, boot and unpaid traffic.
bool ParseCommon(const Fields& lines, PaidRecord& record) {
    const Fields boot = Split(lines[1], ' ');
    if (boot.size() != 2 || boot[0] != "boot" || !IsPlainBootId(boot[1])) {
        return false;
    }
    record.bootId = boot[1];
    const Fields unpaid = Split(lines[2], ' ');
    const std::optional<TrafficBook::Totals> totals =
        unpaid.size() == 3 && unpaid[0] == "unpaid" ? TotalsOf(unpaid[1], unpaid[2]) : std::nullopt;
    if (!totals) {
        return false;
    }
    record.unpaid = *totals;
    return true;
}

bool ParseMarks(const Fields& lines, std::size_t from, PaidRecord& record) {
    if (lines.size() - from > kMaxMarks) {
        return false;
    }
    for (std::size_t i = from; i < lines.size(); ++i) {
        std::optional<TrafficBook::PaidMark> mark =
            ParseMark(Split(lines[i], ' '), record.lowReadings);
        if (!mark) {
            return false;
        }
        for (const TrafficBook::PaidMark& earlier : record.marks) {
            if (earlier.index == mark->index) {
                return false;
            }
        }
        record.marks.push_back(std::move(*mark));
    }
    return true;
}

// Lines 4 to 7 of the second format: owed, limit, receipt, watched.
bool ParseMoneyLines(const Fields& lines, PaidRecord& record) {
    const Fields owed = Split(lines[3], ' ');
    const std::optional<double> roubles =
        owed.size() == 2 && owed[0] == "owed" ? Finite<double>(owed[1]) : std::nullopt;
    if (!roubles || std::fabs(*roubles) > 1) {
        return false;
    }
    record.owed = *roubles;
    const Fields limit = Split(lines[4], ' ');
    if (limit.size() == 1 && limit[0] == "limit") {
        record.limit.reset();
    } else {
        const std::optional<float> before =
            limit.size() == 3 && limit[0] == "limit" ? Finite<float>(limit[1]) : std::nullopt;
        const std::optional<float> after =
            limit.size() == 3 ? Finite<float>(limit[2]) : std::nullopt;
        if (!before || !after) {
            return false;
        }
        record.limit = PaidRecord::LimitChange{*before, *after};
    }
    const Fields receipt = Split(lines[5], ' ');
    if (receipt.size() != 2 || receipt[0] != "receipt") {
        return false;
    }
    record.receipt = Decoded(receipt[1]);
    const Fields watched = Split(lines[6], ' ');
    if (watched.size() != 2 || watched[0] != "watch") {
        return false;
    }
    record.watched = Decoded(watched[1]);
    return true;
}

}  // namespace

QString PaidRecordPath(const QString& settingsPath) {
    return QFileInfo(settingsPath).dir().filePath(QStringLiteral("paid.dat"));
}

std::string SerializePaidRecord(const PaidRecord& record) {
    std::string text(kHeader);
    text += "\nboot " + record.bootId;
    text += "\nunpaid " + WholeText(record.unpaid.sent) + " " + WholeText(record.unpaid.received);
    text += "\nowed " + Text(record.owed);
    text += "\nlimit";
    if (record.limit) {
        text += " " + Text(record.limit->before) + " " + Text(record.limit->after);
    }
    text += "\nreceipt " + Encoded(record.receipt);
    text += "\nwatch " + Encoded(record.watched);
    if (record.session) {
        const TrafficBook::Session& s = record.session->session;
        text += "\nsession " + std::to_string(s.index) + " " + WholeText(s.totals.sent) + " " +
                WholeText(s.totals.received) + " " + std::to_string(s.sent) + " " +
                std::to_string(s.received) + " " + std::to_string(record.session->savedAt) + " " +
                Encoded(s.description);
    }
    for (const TrafficBook::PaidMark& mark : record.marks) {
        text += "\nmark " + std::to_string(mark.index) + " " + std::to_string(mark.sent) + " " +
                std::to_string(mark.received) + " " + Encoded(mark.description);
    }
    // A file that lost its tail would otherwise read as one with fewer marks.
    text += "\nend\n";
    return text;
}

std::optional<PaidRecord> ParsePaidRecord(std::string_view text) {
    if (text.empty() || text.back() != '\n') {
        return std::nullopt;  // a cut file
    }
    Fields lines = Split(text.substr(0, text.size() - 1), '\n');
    if (lines.size() < 3) {
        return std::nullopt;
    }
    PaidRecord record;
    record.lowReadings = lines[0] != kHeader;
    if (lines[0] == kFirstHeader) {
        if (!ParseCommon(lines, record) || !ParseMarks(lines, 3, record)) {
            return std::nullopt;
        }
        return record;
    }
    if ((lines[0] != kHeader && lines[0] != kSecondHeader) || lines.size() < 8 ||
        lines.back() != "end") {
        return std::nullopt;
    }
    lines.pop_back();
    if (!ParseCommon(lines, record) || !ParseMoneyLines(lines, record)) {
        return std::nullopt;
    }
    std::size_t marksFrom = 7;
    if (lines.size() > 7 && lines[7].substr(0, 8) == "session ") {
        record.session = ParseSession(Split(lines[7], ' '), record.lowReadings);
        if (!record.session) {
            return std::nullopt;
        }
        marksFrom = 8;
    }
    if (!ParseMarks(lines, marksFrom, record)) {
        return std::nullopt;
    }
    return record;
}

LoadedPaidRecord LoadPaidRecord(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        return {};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return {LoadedPaidRecord::Status::kDamaged, {}};
    }
    const QByteArray bytes = file.read(kMaxFileSize + 1);
    std::optional<PaidRecord> record;
    if (bytes.size() <= kMaxFileSize) {
        record = ParsePaidRecord(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    }
    if (!record) {
        return {LoadedPaidRecord::Status::kDamaged, {}};
    }
    return {LoadedPaidRecord::Status::kRead, std::move(*record)};
}

bool SavePaidRecord(const QString& path, const PaidRecord& record) {
    return SaveAtomically(path, SerializePaidRecord(record));
}

void SetDamagedRecordAside(const QString& path) {
    const QString aside = path + QStringLiteral(".damaged");
    QFile::remove(aside);
    QFile::rename(path, aside);
}

}  // namespace kv
