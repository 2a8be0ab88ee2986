#pragma once

#include <QDateTime>
#include <QString>

#include <string>
#include <string_view>

namespace kv {

// One change of the money limit made by the program, as payments.csv keeps it for checking the
// operator's bill against.
struct Receipt {
    enum class Cause { kButton, kLinkDropped, kEndedWithoutProgram };
    QDateTime when;  // written ISO 8601 with its offset: 2026-12-09T21:40:05+03:00
    Cause cause;  // "кнопка", "соединение разорвано", "сеанс завершён без программы"
    std::string description;  // the interface's description, UTF-8, any characters
    double sentBytes = 0;     // whole numbers
    double receivedBytes = 0;
    float megabytes = 0;  // the MB charged
    float tariffPerMb = 0;
    float limitBefore = 0;
    float limitAfter = 0;
};

// payments.csv in data.dat's folder.
QString ReceiptsPath(const QString& settingsPath);

// The file is what Excel on Windows opens by double click and LibreOffice reads too: UTF-8 with a
// byte-order mark, ";" between fields, the decimal comma, CR LF line ends. A field is quoted,
// with its quotes doubled, when it holds ; " CR or LF or begins or ends with a blank.
std::string ReceiptHeader();                      // the column names, with the line end
std::string ReceiptLine(const Receipt& receipt);  // one line, with the line end

// Appends one line; a file that is absent or empty first gets the byte-order mark and the
// header. What is there is never rewritten or cut; a record an earlier torn write left open is
// ended first, so records never merge. The line is on the disk before true is returned. False on
// any failure, with nothing of this line left in the file.
bool AppendReceipt(const QString& path, const Receipt& receipt);
// The same for a line ReceiptLine made earlier.
bool AppendReceiptLine(const QString& path, std::string_view line);
// Whether the file's last record is this line: an interrupted change may have appended it.
bool EndsWithReceipt(const QString& path, std::string_view line);

}  // namespace kv
