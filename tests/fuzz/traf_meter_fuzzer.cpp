// TrafMeter and the traffic book over a table source that answers with fuzzed results, rows and
// counters of either width.
#include <climits>
#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "accounting/traffic_book.h"
#include "fuzz_check.h"
#include "stats/traf_meter.h"
#include "support/null_platform.h"

namespace {

using namespace kv;

class FuzzPlatform : public kv::test::NullPlatform {
  public:
    TableRead result = TableRead::kRead;
    InterfaceTable answer;
    int messages = 0;

    TableRead ReadInterfaceTable(InterfaceTable& table) override {
        if (result == TableRead::kRead) {
            table = answer;
        } else {
            // A failed read may leave anything behind; none of it may reach the snapshot.
            table.rows.assign(3, InterfaceRow{7, "junk", 1, 2, 3, {}, 9});
        }
        return result;
    }
};

struct RowView {
    double received, sent;
    std::uint64_t receivedCounter, sentCounter;
    std::string name, speed, mac;
    std::uint32_t index;
    bool operator==(const RowView&) const = default;
};

std::vector<RowView> Snapshot(const TrafMeter& m) {
    std::vector<RowView> rows;
    const std::int32_t n = m.ControllerCount();
    for (std::int32_t i = 0; i < n; ++i) {
        rows.push_back({m.BytesReceived(i), m.BytesSent(i), m.ReceivedCounter(i), m.SentCounter(i),
                        m.ControllerNames(i), m.MaxSpeed(i), m.MacAddr(i), m.InterfaceIndex(i)});
    }
    for (std::int32_t bad : {std::int32_t(-1), n, std::int32_t(INT32_MIN)}) {
        bool threw = false;
        try {
            (void)m.BytesReceived(bad);
        } catch (const std::out_of_range&) {
            threw = true;
        }
        KV_FUZZ_CHECK(threw, "row %d of %d read without an error", bad, n);
    }
    return rows;
}

// The rows as the readouts must show them, worked out again on their own.
std::vector<RowView> Model(const InterfaceTable& table) {
    std::vector<RowView> rows;
    for (const InterfaceRow& r : table.rows) {
        RowView v{double(r.received % 4294967296u),
                  double(r.sent % 4294967296u),
                  r.received,
                  r.sent,
                  r.description,
                  std::to_string(std::int32_t(r.speed)),
                  "",
                  r.index};
        if (r.addressLength == 0) {
            v.mac = "00-00-00-00-00-00";
        }
        static const char hex[] = "0123456789ABCDEF";
        for (std::size_t k = 0; k < r.addressLength && k < 8; ++k) {
            v.mac += k > 0 ? "-" : "";
            v.mac += hex[r.address[k] >> 4];
            v.mac += hex[r.address[k] & 15];
        }
        rows.push_back(std::move(v));
    }
    return rows;
}

InterfaceTable ReadTable(fuzz::Input& in) {
    InterfaceTable table;
    table.counterBits = in.U8() & 1 ? 64 : 32;
    for (int n = in.U8() % 12; n > 0; --n) {
        InterfaceRow row;
        row.index = in.U8() % 6;  // few numbers, so rows meet their earlier readings
        row.description = std::string(in.Bytes(in.U8() % 8));
        row.received = table.counterBits == 64 ? in.U64() : in.U32();
        row.sent = table.counterBits == 64 ? in.U64() : in.U32();
        row.speed = in.U32();
        for (std::uint8_t& byte : row.address) {
            byte = in.U8();
        }
        row.addressLength = in.U8() % 12;
        table.rows.push_back(std::move(row));
    }
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    FuzzPlatform platform;
    TrafMeter meter(platform);
    meter.SetMessageBoxShower([&platform](const std::string&) { ++platform.messages; });
    TrafficBook book;
    std::map<std::uint32_t, TrafficBook::Totals> before;
    int bits = 0;
    for (int refresh = 0; refresh < 8 && in.Left() > 0; ++refresh) {
        const std::uint8_t mode = in.U8();
        platform.result = mode < 200   ? TableRead::kRead
                          : mode < 228 ? TableRead::kFailed
                                       : TableRead::kNotSupported;
        platform.answer = ReadTable(in);
        // One system keeps one width.
        platform.answer.counterBits = bits != 0 ? bits : platform.answer.counterBits;
        platform.messages = 0;
        const std::vector<RowView> previous = Snapshot(meter);
        meter.GetIPStats();
        const std::vector<RowView> after = Snapshot(meter);
        KV_FUZZ_CHECK(platform.messages == (platform.result == TableRead::kNotSupported ? 1 : 0),
                      "%d messages", platform.messages);
        if (platform.result != TableRead::kRead) {
            KV_FUZZ_CHECK(after == previous, "snapshot changed by a failed read");
            continue;
        }
        bits = platform.answer.counterBits;
        KV_FUZZ_CHECK(after == Model(platform.answer), "snapshot of %zu rows differs",
                      platform.answer.rows.size());

        book.Observe(meter);
        std::map<std::uint32_t, TrafficBook::Totals> now;
        std::map<std::uint32_t, std::int32_t> rowOf;  // a number twice is read at its first row
        for (std::int32_t row = 0; row < meter.ControllerCount(); ++row) {
            const std::uint32_t index = meter.InterfaceIndex(row);
            const TrafficBook::Totals t = book.Of(index);
            KV_FUZZ_CHECK(std::isfinite(t.sent) && std::isfinite(t.received) && t.sent >= 0 &&
                              t.received >= 0,
                          "totals of %u", index);
            now[index] = t;
            rowOf.emplace(index, row);
        }
        for (const auto& [index, t] : now) {
            const auto old = before.find(index);
            // An interface that stayed counts on; one that was replaced starts from its counter.
            if (old != before.end() &&
                (t.sent < old->second.sent || t.received < old->second.received)) {
                const std::int32_t row = rowOf.at(index);
                KV_FUZZ_CHECK(t.sent == double(meter.SentCounter(row)) &&
                                  t.received == double(meter.ReceivedCounter(row)),
                              "totals of %u went back without a new interface", index);
            }
        }
        before = std::move(now);
    }
    return 0;
}
