#include "shell/paid_file.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace kv {
namespace {

PaidRecord Sample() {
    return {"6f1c2a80-1b2d-4f35-9a57-0e8b8c1d2e3f",
            {{2, "eth0", 1000, 5000},
             {7, "Беспроводное соединение 2 % x\r\nmark 9 0 0 y", 0, 4294967295u}},
            {1048576, 9007199254740992.0}};
}

TEST(PaidFile, WhatIsWrittenReadsBackAsItWas) {
    const PaidRecord records[] = {Sample(), {"", {}, {5, 0}}, {"boot-132514", {{1, "", 0, 0}}, {}}};
    for (const PaidRecord& record : records) {
        EXPECT_EQ(ParsePaidRecord(SerializePaidRecord(record)), record)
            << SerializePaidRecord(record);
    }
}

TEST(PaidFile, ADamagedOrHostileFileIsForgottenWhole) {
    const std::string good = SerializePaidRecord(Sample());
    const std::string cases[] = {
        "",
        good.substr(0, good.size() - 1),  // cut before its last line end
        good.substr(0, good.size() / 2),
        "kvotomer paid 2\nboot x\nunpaid 0 0\n",
        "kvotomer paid 1\nboot x y\nunpaid 0 0\n",
        "kvotomer paid 1\nboot ../../etc\nunpaid 0 0\n",
        "kvotomer paid 1\nboot x\nunpaid -1 0\n",
        "kvotomer paid 1\nboot x\nunpaid 9007199254740993 0\n",  // not a whole double
        "kvotomer paid 1\nboot x\nunpaid 1e9 0\n",
        "kvotomer paid 1\nboot x\nunpaid 0\n",
        "kvotomer paid 1\nboot x\nunpaid 0 0\nmark 1 4294967296 0 eth0\n",
        "kvotomer paid 1\nboot x\nunpaid 0 0\nmark 1 0 0\n",
        "kvotomer paid 1\nboot x\nunpaid 0 0\nmark 1 0 0 a b\n",
        "kvotomer paid 1\nboot x\nunpaid 0 0\nmark 1 0 0 a\nmark 1 5 5 b\n",  // one number twice
        "kvotomer paid 1\nboot x\nunpaid 0 0\nextra\n",
        "kvotomer paid 1\r\nboot x\r\nunpaid 0 0\r\n",
    };
    for (const std::string& text : cases) {
        EXPECT_EQ(ParsePaidRecord(text), PaidRecord{}) << text;
    }
}

TEST(PaidFile, AnOversizedFileIsNotReadAndAnEmptyRecordLeavesNoFile) {
    QTemporaryDir dir;
    const QString path = PaidRecordPath(dir.filePath("data.dat"));
    EXPECT_EQ(path, dir.filePath("paid.dat"));
    EXPECT_EQ(LoadPaidRecord(path), PaidRecord{});
    ASSERT_TRUE(SavePaidRecord(path, Sample()));
    EXPECT_EQ(LoadPaidRecord(path), Sample());

    PaidRecord many = Sample();
    many.marks.clear();
    for (std::uint32_t i = 0; i < 300; ++i) {
        many.marks.push_back({i, std::string(200, 'x'), i, i});
    }
    ASSERT_TRUE(SavePaidRecord(path, many));
    EXPECT_EQ(LoadPaidRecord(path), PaidRecord{});

    ASSERT_TRUE(SavePaidRecord(path, PaidRecord{"boot-1", {}, {}}));
    EXPECT_FALSE(QFile::exists(path));
}

}  // namespace
}  // namespace kv
