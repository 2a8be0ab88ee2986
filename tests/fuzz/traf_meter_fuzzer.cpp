// TrafMeter over a GetIfTable that answers with fuzzed results, sizes and table bytes.
#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/iftable_layout.h"
#include "platform/platform.h"
#include "platform/win_errors.h"
#include "stats/traf_meter.h"
#include "support/null_platform.h"

namespace {

using namespace kv;
namespace it = kv::iftable;

// One refresh worth of answers.
struct Script {
    std::uint32_t queryResult = win::kErrorInsufficientBuffer;
    std::uint32_t querySize = 0;
    std::uint32_t fillResult = win::kNoError;
    std::optional<std::uint32_t> reportedSize;  // written back by the filling call
    std::string payload;                        // copied to the start of the buffer
    struct Patch {
        std::uint32_t offset;
        std::uint32_t value;
    };
    std::vector<Patch> patches;
};

class FuzzPlatform : public kv::test::NullPlatform {
  public:
    Script script;
    int messages = 0;
    bool filled = false;
    std::vector<std::uint8_t> table;  // what the filling call left in the buffer
    std::uint32_t usable = 0;         // min(reported size, buffer size)

    std::uint32_t GetIfTable(std::uint8_t* buffer, std::uint32_t* size, bool) override {
        if (buffer == nullptr) {
            *size = script.querySize;
            return script.queryResult;
        }
        // The whole announced size is written, so a short buffer shows up under ASan.
        const std::uint32_t given = *size;
        std::memset(buffer, 0, given);
        std::memcpy(buffer, script.payload.data(),
                    std::min<std::size_t>(script.payload.size(), given));
        for (const Script::Patch& p : script.patches) {
            if (std::uint64_t(p.offset) + 4 <= given) {
                it::WriteU32(buffer + p.offset, p.value);
            }
        }
        if (script.reportedSize) {
            *size = *script.reportedSize;
        }
        filled = script.fillResult == win::kNoError;
        table.assign(buffer, buffer + given);
        usable = std::min(*size, given);
        return script.fillResult;
    }
};

struct RowView {
    double received, sent;
    std::string name, speed, mac;
    std::uint32_t index;
    bool operator==(const RowView&) const = default;
};

std::vector<RowView> Snapshot(const TrafMeter& m) {
    std::vector<RowView> rows;
    const std::int32_t n = m.ControllerCount();
    KV_FUZZ_CHECK(n >= 0, "count %d", n);
    for (std::int32_t i = 0; i < n; ++i) {
        rows.push_back({m.BytesReceived(i), m.BytesSent(i), m.ControllerNames(i), m.MaxSpeed(i),
                        m.MacAddr(i), m.InterfaceIndex(i)});
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

// The table read once more, byte by byte, as the layout describes it.
std::vector<RowView> Model(const std::vector<std::uint8_t>& t, std::uint32_t count) {
    const auto u32 = [&](std::size_t at) {
        return std::uint32_t(t[at]) | std::uint32_t(t[at + 1]) << 8 |
               std::uint32_t(t[at + 2]) << 16 | std::uint32_t(t[at + 3]) << 24;
    };
    std::vector<RowView> rows;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t r = 4 + 860 * std::size_t(i);
        RowView v;
        v.received = double(u32(r + 552));
        v.sent = double(u32(r + 576));
        const std::uint32_t descrLen = u32(r + 600);
        v.name.assign(reinterpret_cast<const char*>(&t[r + 604]), descrLen < 256 ? descrLen : 256);
        v.speed = std::to_string(std::int32_t(u32(r + 524)));
        const auto addrLen = std::int32_t(u32(r + 528));
        if (addrLen <= 0) {
            v.mac = "00-00-00-00-00-00";
        } else {
            static const char hex[] = "0123456789ABCDEF";
            for (std::int32_t k = 0; k < addrLen && k < 8; ++k) {
                if (k > 0)
                    v.mac += '-';
                v.mac += hex[t[r + 532 + std::size_t(k)] >> 4];
                v.mac += hex[t[r + 532 + std::size_t(k)] & 15];
            }
        }
        v.index = u32(r + 512);
        rows.push_back(std::move(v));
    }
    return rows;
}

Script ReadScript(fuzz::Input& in) {
    Script s;
    const std::uint8_t modes = in.U8();
    const std::uint8_t rows = in.U8() % 48;
    switch (modes & 3) {
        case 0:
            s.queryResult = win::kErrorInsufficientBuffer;
            break;
        case 1:
            s.queryResult = win::kErrorNotSupported;
            break;
        case 2:
            s.queryResult = win::kNoError;
            break;
        default:
            s.queryResult = in.U32();
    }
    switch ((modes >> 2) & 3) {
        case 0:
            s.querySize = std::uint32_t(it::TableSize(rows));
            break;
        case 1:
            s.querySize = std::uint32_t(it::TableSize(rows)) + in.U8() - 128;
            break;
        case 2:
            s.querySize = in.U32() % (1u << 20);
            break;
        default:
            s.querySize = in.U32();
    }
    switch ((modes >> 4) & 3) {
        case 0:
        case 1:
            s.fillResult = win::kNoError;
            break;
        case 2:
            s.fillResult = win::kErrorInsufficientBuffer;
            break;
        default:
            s.fillResult = in.U32();
    }
    switch ((modes >> 6) & 3) {
        case 0:
            break;
        case 1:
            s.reportedSize = in.U32();
            break;
        case 2:
            s.reportedSize = s.querySize - in.U8();
            break;
        default:
            s.reportedSize = s.querySize + in.U8();
    }
    const std::size_t payloadLow = in.U8();
    const std::size_t payloadSize = payloadLow | std::size_t(in.U8()) << 8;
    s.payload = std::string(in.Bytes(payloadSize));
    const std::uint8_t countMode = in.U8();
    if (countMode < 64) {
        s.patches.push_back({0, rows});
    } else if (countMode < 128) {
        s.patches.push_back({0, in.U32()});
    }
    // Field patches aimed at row fields: huge description and address lengths and the like.
    static constexpr std::uint32_t kFields[] = {600, 528, 552, 576, 524, 512};
    for (int n = in.U8() % 8; n > 0; --n) {
        const std::uint32_t row = in.U8();
        const std::uint32_t field = kFields[in.U8() % 6];
        s.patches.push_back({std::uint32_t(4 + 860 * row + field), in.U32()});
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input in(data, size);
    FuzzPlatform platform;
    TrafMeter meter(platform);
    meter.SetMessageBoxShower([&platform](const std::string&) { ++platform.messages; });
    for (int refresh = 0; refresh < 3 && in.Left() > 0; ++refresh) {
        platform.script = ReadScript(in);
        platform.filled = false;
        platform.messages = 0;
        const std::vector<RowView> before = Snapshot(meter);
        meter.GetIPStats();
        const std::vector<RowView> after = Snapshot(meter);

        if (platform.script.queryResult == win::kErrorNotSupported) {
            KV_FUZZ_CHECK(platform.messages == 1 && after == before, "unsupported: %d messages",
                          platform.messages);
            continue;
        }
        KV_FUZZ_CHECK(platform.messages == 0, "message box on result %u",
                      platform.script.queryResult);
        if (!platform.filled) {
            KV_FUZZ_CHECK(after == before, "snapshot changed without a good filling call");
            continue;
        }
        const std::vector<std::uint8_t>& t = platform.table;
        const std::uint32_t count = t.size() >= 4 ? it::ReadU32(t.data()) : 0;
        const bool fits = platform.usable >= 4 && count <= (platform.usable - 4) / 860;
        if (!fits) {
            KV_FUZZ_CHECK(after == before, "%u rows taken from %u usable bytes", count,
                          platform.usable);
            continue;
        }
        KV_FUZZ_CHECK(after == Model(t, count), "snapshot of %u rows differs from the table",
                      count);
    }
    return 0;
}
