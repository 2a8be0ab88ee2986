#include "shell/receipts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <string_view>

#include "common/number_format.h"
#include "shell/file_sync.h"

namespace kv {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnd = "\r\n";
// A double's fifteen digits keep bytes exact up to 999 TB, beyond any metered session.
constexpr std::string_view kWholeBytes = "0";
// Up to six places, never in exponent form; a float's seven digits fill them below 10 MB.
constexpr std::string_view kMegabytes = "0.0#####";

std::string_view CauseText(Receipt::Cause cause) {
    switch (cause) {
        case Receipt::Cause::kButton:
            return "кнопка";
        case Receipt::Cause::kLinkDropped:
            return "соединение разорвано";
        case Receipt::Cause::kEndedWithoutProgram:
            return "сеанс завершён без программы";
    }
    return "";
}

// Qt writes local time without its offset and UTC as "Z"; the bill's reader wants one form.
std::string TimeText(const QDateTime& when) {
    QString text = when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODate);
    if (text.endsWith(u'Z')) {
        text.chop(1);
        text += QStringLiteral("+00:00");
    }
    return text.toStdString();
}

// A spreadsheet takes a cell that begins with = + - or @ as a formula, also after blanks it trims
// on import, so such a name gets a leading apostrophe: the mark spreadsheets themselves use for
// text, and unlike a blank or a tab no import option strips it and revives the formula. Bytes
// that are not UTF-8 become U+FFFD, so that the file reads as the UTF-8 it says it is.
std::string SafeDescription(const std::string& description) {
    std::string text = QString::fromStdString(description).toStdString();
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && std::string_view("=+-@").find(text[first]) != text.npos) {
        text.insert(0, 1, '\'');
    }
    return text;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Field(std::string_view text) {
    const bool blankEdge = !text.empty() && (IsBlank(text.front()) || IsBlank(text.back()));
    if (!blankEdge && text.find_first_of(";\"\r\n") == text.npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

// Ends a record an earlier torn write left open, so that it never merges with the next one: an
// odd count of quotes means it stopped inside a quoted field. One short line per change of the
// limit keeps the whole file small enough to count through.
std::string_view Closing(const QByteArray& old) {
    if (old.count('"') % 2 != 0) {
        return "\"\r\n";
    }
    if (old.endsWith('\n')) {
        return "";
    }
    return old.endsWith('\r') ? "\n" : kLineEnd;
}

}  // namespace

QString ReceiptsPath(const QString& settingsPath) {
    return QFileInfo(settingsPath).dir().filePath(QStringLiteral("payments.csv"));
}

std::string ReceiptHeader() {
    return "Дата и время;Причина;Интерфейс;Отправлено (байт);Принято (байт);Мегабайт;"
           "Тариф (руб/Мб);Лимит до (руб);Лимит после (руб)" +
           std::string(kLineEnd);
}

std::string ReceiptLine(const Receipt& receipt) {
    // The tariff and the limits in the text the program's labels show them in, which is exact
    // for the kopeck amounts a carry-over leaves.
    const std::string fields[] = {
        TimeText(receipt.when),
        std::string(CauseText(receipt.cause)),
        SafeDescription(receipt.description),
        FormatPattern(receipt.sentBytes, kWholeBytes),
        FormatPattern(receipt.receivedBytes, kWholeBytes),
        FormatPattern(receipt.megabytes, kMegabytes),
        GeneralFloat(receipt.tariffPerMb),
        GeneralFloat(receipt.limitBefore),
        GeneralFloat(receipt.limitAfter),
    };
    std::string line;
    for (const std::string& field : fields) {
        if (&field != fields) {
            line += ';';
        }
        line += Field(field);
    }
    return line + std::string(kLineEnd);
}

bool AppendReceiptLine(const QString& path, std::string_view line) {
    QFile file(path);
    // Read as well, to see how the last record ended; Append never truncates on opening.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        return false;
    }
    // Opening for Append left the position at the end.
    const QByteArray old = file.seek(0) ? file.readAll() : QByteArray();
    const qint64 size = old.size();
    if (size != file.size()) {
        return false;
    }
    std::string text =
        old.isEmpty() ? std::string(kByteOrderMark) + ReceiptHeader() : std::string(Closing(old));
    text += line;
    // One write, so that a crash can only cut this line short at its end.
    const auto length = qint64(text.size());
    if (file.write(text.data(), length) != length) {
        file.resize(size);  // takes back only what this write added, e.g. on a full disk
        return false;
    }
    return file.flush() && SyncToDisk(file);
}

bool AppendReceipt(const QString& path, const Receipt& receipt) {
    return AppendReceiptLine(path, ReceiptLine(receipt));
}

bool EndsWithReceipt(const QString& path, std::string_view line) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < qint64(line.size())) {
        return false;
    }
    file.seek(file.size() - qint64(line.size()));
    return file.read(qint64(line.size())) ==
           QByteArray::fromRawData(line.data(), qsizetype(line.size()));
}

}  // namespace kv
