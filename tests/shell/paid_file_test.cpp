#include "shell/paid_file.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QTemporaryDir>

namespace kv {
namespace {

PaidRecord Record(std::string boot, std::vector<TrafficBook::PaidMark> marks,
                  TrafficBook::Totals unpaid) {
    PaidRecord record;
    record.bootId = std::move(boot);
    record.marks = std::move(marks);
    record.unpaid = unpaid;
    return record;
}

PaidRecord Sample() {
    PaidRecord record =
        Record("6f1c2a80-1b2d-4f35-9a57-0e8b8c1d2e3f",
               {{2, "eth0", 1000, 5000},
                {7, "Беспроводное соединение 2 % x\r\nmark 9 0 0 y", 0, 4294967295u},
                {8, "wlan0", 4612518610u, 18446744073709551615u}},
               {1048576, 9007199254740992.0});
    record.owed = -0.0040000000000000036;
    record.limit = PaidRecord::LimitChange{10, 6.25f};
    record.receipt = "2026-12-09T21:40:05+03:00;кнопка;\"a;b\";1;2;0,5;2,5;10,0;6,25";
    record.watched = "ppp0 (модем)";
    record.session = PaidRecord::CountedSession{
        {9, "ppp0 (модем)", {4294967296.0 * 3, 17}, 4000000000u, 12}, 1800000000};
    return record;
}

TEST(PaidFile, WhatIsWrittenReadsBackAsItWas) {
    const PaidRecord bare = Record("", {}, {5, 0});
    PaidRecord one = Record("boot-132514", {{1, "", 0, 0}}, {});
    one.limit = PaidRecord::LimitChange{-2.5f, 0.01f};
    const PaidRecord records[] = {Sample(), bare, one};
    for (const PaidRecord& record : records) {
        EXPECT_EQ(ParsePaidRecord(SerializePaidRecord(record)), record)
            << SerializePaidRecord(record);
    }
}

// Both kept each counter reading in 32 bits.
TEST(PaidFile, TheEarlierFormatsAreStillRead) {
    PaidRecord first = Record("boot-1", {{3, "eth0 x", 10, 20}}, {5, 6});
    first.lowReadings = true;
    EXPECT_EQ(ParsePaidRecord("kvotomer paid 1\nboot boot-1\nunpaid 5 6\nmark 3 10 20 eth0%20x\n"),
              first);
    PaidRecord second = first;
    second.watched = "ppp0";
    second.session = PaidRecord::CountedSession{{9, "ppp0", {7, 8}, 4000000000u, 12}, 1800000000};
    EXPECT_EQ(ParsePaidRecord("kvotomer paid 2\nboot boot-1\nunpaid 5 6\nowed 0\nlimit\nreceipt "
                              "\nwatch ppp0\nsession 9 7 8 4000000000 12 1800000000 ppp0\nmark 3 "
                              "10 20 eth0%20x\nend\n"),
              second);
}

TEST(PaidFile, ADamagedOrHostileFileIsNoRecordAtAll) {
    const std::string good = SerializePaidRecord(Sample());
    const std::string tail = "receipt \nwatch \nend\n";
    const std::string cases[] = {
        "",
        good.substr(0, good.size() - 1),  // cut before its last line end
        good.substr(0, good.size() / 2),
        good.substr(0, good.rfind("end\n")),  // lost its tail at a line end
        "kvotomer paid 3\nboot x\nunpaid 0 0\n",
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
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed nan\nlimit\n" + tail,
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 5\nlimit\n" + tail,  // never a kopeck's worth
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 0\nlimit 1\n" + tail,
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 0\nlimit 1 inf\n" + tail,
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 0\nlimit\nreceipt \nwatch \nsession 1 0 0 0 0 "
        "0\nend\n",
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 0\nlimit\nreceipt \nwatch \nmark 1 0 0 "
        "a\nsession "
        "1 0 0 0 0 0 a\nend\n",
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 0\nlimit\nwatch \nreceipt \nend\n",
        "kvotomer paid 2\nboot x\nunpaid 0 0\nowed 0\nlimit\n" + tail.substr(0, 16) +
            "mark 1 4294967296 0 a\nend\n",  // wider than that format's readings
        "kvotomer paid 3\nboot x\nunpaid 0 0\nowed 0\nlimit\n" + tail.substr(0, 16) +
            "mark 1 18446744073709551616 0 a\nend\n",
    };
    for (const std::string& text : cases) {
        EXPECT_FALSE(ParsePaidRecord(text)) << text;
    }
}

TEST(PaidFile, LoadingTellsAnAbsentFileFromADamagedOne) {
    QTemporaryDir dir;
    const QString path = PaidRecordPath(dir.filePath("data.dat"));
    EXPECT_EQ(path, dir.filePath("paid.dat"));
    EXPECT_EQ(LoadPaidRecord(path).status, LoadedPaidRecord::Status::kAbsent);
    ASSERT_TRUE(SavePaidRecord(path, Sample()));
    const LoadedPaidRecord read = LoadPaidRecord(path);
    EXPECT_EQ(read.status, LoadedPaidRecord::Status::kRead);
    EXPECT_EQ(read.record, Sample());

    PaidRecord many = Sample();
    many.marks.clear();
    for (std::uint32_t i = 0; i < 300; ++i) {
        many.marks.push_back({i, std::string(200, 'x'), i, i});
    }
    ASSERT_TRUE(SavePaidRecord(path, many));
    EXPECT_EQ(LoadPaidRecord(path).status, LoadedPaidRecord::Status::kDamaged);
    SetDamagedRecordAside(path);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(path + ".damaged"));
}

}  // namespace
}  // namespace kv
