#include "shell/receipts.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

namespace kv {
namespace {

using Rows = std::vector<std::vector<std::string>>;
constexpr std::string_view kBom = "\xEF\xBB\xBF";

// Records end at CR LF outside quotes; any other line end there fails the test.
Rows ReadCsv(std::string_view text) {
    Rows rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        std::string& field = rows.back().back();
        if (quoted && c == '"' && text.substr(i, 2) == "\"\"") {
            field += text[i++];
        } else if (c == '"') {
            quoted = !quoted;
        } else if (quoted) {
            field += c;
        } else if (c == ';') {
            rows.back().emplace_back();
        } else if (text.substr(i, 2) == "\r\n") {
            if (++i + 1 < text.size()) {
                rows.emplace_back(1);
            }
        } else {
            EXPECT_TRUE(c != '\r' && c != '\n') << "a lone line end at byte " << i;
            field += c;
        }
    }
    EXPECT_FALSE(quoted) << "the file ends inside quotes";
    return rows;
}

std::string ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<unreadable>";
}

const QDateTime kMoscowEvening(QDate(2026, 12, 9), QTime(21, 40, 5, 250), QTimeZone(10800));

Receipt Sample(std::string description) {
    return {kMoscowEvening, Receipt::Cause::kButton, std::move(description), 0, 0, 1, 2, 3, 4};
}

const struct {
    std::string written;
    std::string read;
} kDescriptions[] = {
    {"Беспроводное соединение 2", "Беспроводное соединение 2"},
    {"a;b \"c\"", "a;b \"c\""},
    {"line\r\nline\nline", "line\r\nline\nline"},
    {"  padded\t", "  padded\t"},
    {"=HYPERLINK(\"x\")", "'=HYPERLINK(\"x\")"},
    {" +1", "' +1"},
    {"-2", "'-2"},
    {"@SUM(A1)", "'@SUM(A1)"},
    {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
};

QString WriteDescriptions(const QTemporaryDir& dir) {
    const QString path = ReceiptsPath(dir.filePath("data.dat"));
    for (const auto& d : kDescriptions) {
        EXPECT_TRUE(AppendReceipt(path, Sample(d.written))) << d.written;
    }
    return path;
}

TEST(Receipts, EveryDescriptionReadsBackAsWrittenUnderOneHeaderWithFormulasDisarmed) {
    QTemporaryDir dir;
    const QString path = WriteDescriptions(dir);
    EXPECT_EQ(path, dir.filePath("payments.csv"));
    const std::string text = ReadAll(path);
    ASSERT_TRUE(text.starts_with(kBom));
    EXPECT_EQ(text.find(kBom, 1), std::string::npos) << "one byte-order mark";
    EXPECT_NE(text.find(";\"  padded\t\";"), std::string::npos) << "spreadsheets trim blanks";
    const Rows rows = ReadCsv(std::string_view(text).substr(kBom.size()));
    ASSERT_EQ(rows.size(), std::size(kDescriptions) + 1);
    EXPECT_EQ(rows[0], ReadCsv(ReceiptHeader())[0]);
    EXPECT_EQ(rows[0].size(), 9U);
    for (std::size_t i = 0; i < std::size(kDescriptions); ++i) {
        ASSERT_EQ(rows[i + 1].size(), 9U) << kDescriptions[i].written;
        EXPECT_EQ(rows[i + 1][2], kDescriptions[i].read);
    }
}

TEST(Receipts, NumbersHaveTheDecimalCommaAndTheTimeItsOffset) {
    setenv("TZ", "MSK-3", 1);  // the program passes local time, whose offset Qt leaves out
    tzset();
    const QDateTime local(kMoscowEvening.date(), kMoscowEvening.time());
    using enum Receipt::Cause;
    const struct {
        Receipt receipt;
        std::string_view line;
    } cases[] = {
        {{local, kButton, "eth0", 1234567, 4294967296.0, 1.5F, 2.5F, 10, 6.25F},
         "2026-12-09T21:40:05+03:00;кнопка;eth0;1234567;4294967296;1,5;2,5;10;6,25\r\n"},
        {{kMoscowEvening.toUTC(), kLinkDropped, "ppp0", 0, 9e12, 0.000123F, 0.35F, -2.5F, 0},
         "2026-12-09T18:40:05+00:00;соединение разорвано;ppp0;"
         "0;9000000000000;0,000123;0,35;-2,5;0\r\n"},
        {{kMoscowEvening.toOffsetFromUtc(-19800), kEndedWithoutProgram, "ppp0", 1, 2, 1234.5678F,
          1.25F, 7.35F, 6.5F},
         "2026-12-09T13:10:05-05:30;сеанс завершён без программы;ppp0;"
         "1;2;1234,568;1,25;7,35;6,5\r\n"},
        {{local, kButton, "eth0", 0, 0, 2.0F / 3, 1E-5F, 0.01F, -0.01F},
         "2026-12-09T21:40:05+03:00;кнопка;eth0;0;0;0,666667;1E-05;0,01;-0,01\r\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReceiptLine(c.receipt), c.line);
    }
}

TEST(Receipts, ATornLastRecordIsEndedBeforeTheNextOne) {
    const std::string start =
        std::string(kBom) + ReceiptHeader() + "2026-12-09T21:40:05+03:00;кнопка;";
    const std::string torn[] = {start + "eth", start + "eth\r", start + "\"two\r\nlines"};
    for (const std::string& before : torn) {
        QTemporaryDir dir;
        const QString path = dir.filePath("payments.csv");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) &&
                    file.write(before.data(), qint64(before.size())));
        file.close();
        ASSERT_TRUE(AppendReceipt(path, Sample("eth0")));
        const std::string after = ReadAll(path);
        EXPECT_TRUE(after.starts_with(before)) << "what was there stays";
        const Rows rows = ReadCsv(std::string_view(after).substr(kBom.size()));
        ASSERT_EQ(rows.size(), 3U) << before;
        EXPECT_EQ(rows[2], ReadCsv(ReceiptLine(Sample("eth0")))[0]);
    }
}

TEST(Receipts, AnAppendThatCannotBeWrittenFailsAndLeavesNothingHalfWritten) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("a-folder"));
    const struct {
        const char* sentence;
        QString path;
    } cases[] = {
        {"the path is a folder", dir.filePath("a-folder")},
        {"the folder is missing", dir.filePath("gone/payments.csv")},
        {"the folder is read-only, for root too", "/sys/kernel/payments.csv"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(AppendReceipt(c.path, Sample("eth0"))) << c.sentence;
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"a-folder"});
    EXPECT_TRUE(QDir(dir.filePath("a-folder")).isEmpty());

    // A file size limit cuts the write short like a full disk.
    const QString path = dir.filePath("payments.csv");
    ASSERT_TRUE(AppendReceipt(path, Sample("eth0")));
    const std::string before = ReadAll(path);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = before.size() + 10;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool appended = AppendReceipt(path, Sample("eth0"));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(appended);
    EXPECT_EQ(ReadAll(path), before);
}

TEST(Receipts, PythonsCsvModuleReadsTheSameRows) {
    const QString python = QStandardPaths::findExecutable("python3");
    if (python.isEmpty()) {
        GTEST_SKIP() << "no python3";
    }
    QTemporaryDir dir;
    const QString path = WriteDescriptions(dir);
    QProcess process;
    process.start(python,
                  {"-c",
                   "import csv, json, sys; print(json.dumps(list(csv.reader(open(sys.argv[1], "
                   "encoding='utf-8-sig', newline=''), delimiter=';'))))",
                   path});
    ASSERT_TRUE(process.waitForFinished(60000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    QJsonArray expected;
    for (const auto& row : ReadCsv(ReadAll(path).substr(kBom.size()))) {
        QJsonArray fields;
        for (const std::string& field : row) {
            fields.append(QString::fromStdString(field));
        }
        expected.append(fields);
    }
    EXPECT_EQ(QJsonDocument::fromJson(process.readAllStandardOutput()).array(), expected);
}

}  // namespace
}  // namespace kv
