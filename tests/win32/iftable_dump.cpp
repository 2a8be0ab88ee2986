// Prints the interface table twice over: the raw rows GetIfTable fills and what the program's
// reader makes of them, one line per row as tab-separated key=value pairs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/win32_core.h"
#include "stats/traf_meter.h"

namespace {

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
    ULONG size = 0;
    const DWORD query = ::GetIfTable(nullptr, &size, FALSE);
    if (query != ERROR_INSUFFICIENT_BUFFER) {
        std::printf("error size-query %lu\n", query);
        return 1;
    }
    std::vector<std::uint8_t> table(size);
    const DWORD fill = ::GetIfTable(reinterpret_cast<PMIB_IFTABLE>(table.data()), &size, FALSE);
    if (fill != NO_ERROR) {
        std::printf("error fill %lu\n", fill);
        return 1;
    }
    kv::win32::Core platform;
    kv::TrafMeter meter(platform);
    meter.GetIPStats();

    const auto* raw = reinterpret_cast<const MIB_IFTABLE*>(table.data());
    std::printf("rows=%lu\tmeter_rows=%d\n", raw->dwNumEntries, meter.ControllerCount());
    for (DWORD i = 0; i < raw->dwNumEntries; ++i) {
        const MIB_IFROW& row = raw->table[i];
        const std::string descr(reinterpret_cast<const char*>(row.bDescr),
                                std::min<DWORD>(row.dwDescrLen, MAXLEN_IFDESCR));
        std::printf(
            "row=%lu\tindex=%lu\ttype=%lu\tmtu=%lu\toper=%lu\tadmin=%lu\tin=%lu\tout=%lu\t"
            "descr=%s",
            i, row.dwIndex, row.dwType, row.dwMtu, DWORD(row.dwOperStatus), row.dwAdminStatus,
            row.dwInOctets, row.dwOutOctets, Escape(descr).c_str());
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
