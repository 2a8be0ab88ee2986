// Prints the interface table twice over: the raw rows GetIfTable fills and what the program's
// reader makes of them, one line per row as tab-separated key=value pairs.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/iftable_layout.h"
#include "platform/win32/win32_core.h"
#include "platform/win_errors.h"
#include "stats/traf_meter.h"

namespace {

namespace it = kv::iftable;

// Descriptions are raw bytes and may carry a counted NUL; keep them on one line and readable.
std::string Escape(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x20 || c == '\\' || c >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

}  // namespace

int main() {
    kv::win32::Core platform;
    std::uint32_t size = 0;
    const std::uint32_t query = platform.GetIfTable(nullptr, &size, false);
    if (query != kv::win::kErrorInsufficientBuffer) {
        std::printf("error size-query %u\n", query);
        return 1;
    }
    std::vector<std::uint8_t> table(size);
    const std::uint32_t fill = platform.GetIfTable(table.data(), &size, false);
    if (fill != kv::win::kNoError) {
        std::printf("error fill %u\n", fill);
        return 1;
    }
    kv::TrafMeter meter(platform);
    meter.GetIPStats();

    const std::uint32_t rows = it::ReadU32(table.data());
    std::printf("rows=%u\tmeter_rows=%d\n", rows, meter.ControllerCount());
    for (std::uint32_t i = 0; i < rows; ++i) {
        const std::uint8_t* row = table.data() + it::RowOffset(i);
        const auto u32 = [row](std::size_t offset) { return it::ReadU32(row + offset); };
        const std::uint32_t descrLen =
            std::min<std::uint32_t>(u32(it::kDescrLenOffset), it::kDescrSize);
        const std::string descr(reinterpret_cast<const char*>(row + it::kDescrOffset), descrLen);
        std::printf("row=%u\tindex=%u\ttype=%u\tmtu=%u\toper=%u\tadmin=%u\tin=%u\tout=%u\tdescr=%s",
                    i, u32(it::kIndexOffset), u32(it::kTypeOffset), u32(it::kMtuOffset),
                    u32(it::kOperStatusOffset), u32(it::kAdminStatusOffset),
                    u32(it::kInOctetsOffset), u32(it::kOutOctetsOffset), Escape(descr).c_str());
        if (std::int32_t(i) < meter.ControllerCount()) {
            std::printf(
                "\tmeter_name=%s\tmeter_in=%.0f\tmeter_out=%.0f\tmeter_mac=%s\tmeter_speed=%s",
                Escape(meter.ControllerNames(std::int32_t(i))).c_str(),
                meter.BytesReceived(std::int32_t(i)), meter.BytesSent(std::int32_t(i)),
                meter.MacAddr(std::int32_t(i)).c_str(), meter.MaxSpeed(std::int32_t(i)).c_str());
        }
        std::printf("\n");
    }
    return 0;
}
