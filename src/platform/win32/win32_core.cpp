#include "platform/win32/win32_core.h"

#include <iphlpapi.h>
#include <shellapi.h>

#include <algorithm>
#include <cstddef>

#include "platform/iftable_layout.h"
#include "platform/ras_layout.h"
#include "platform/utf8_prefix.h"
#include "platform/win32/ras_translate.h"
#include "platform/win_errors.h"

namespace kv::win32 {

// The table is handed through untouched, so the SDK's layout must be the one the reader parses.
static_assert(sizeof(ULONG) == 4);
static_assert(offsetof(MIB_IFTABLE, table) == iftable::kHeaderSize);
static_assert(sizeof(MIB_IFROW) == iftable::kRowSize);
static_assert(offsetof(MIB_IFROW, dwIndex) == iftable::kIndexOffset);
static_assert(offsetof(MIB_IFROW, dwType) == iftable::kTypeOffset);
static_assert(offsetof(MIB_IFROW, dwSpeed) == iftable::kSpeedOffset);
static_assert(offsetof(MIB_IFROW, dwPhysAddrLen) == iftable::kPhysAddrLenOffset);
static_assert(offsetof(MIB_IFROW, bPhysAddr) == iftable::kPhysAddrOffset);
static_assert(offsetof(MIB_IFROW, dwOperStatus) == iftable::kOperStatusOffset);
static_assert(offsetof(MIB_IFROW, dwInOctets) == iftable::kInOctetsOffset);
static_assert(offsetof(MIB_IFROW, dwOutOctets) == iftable::kOutOctetsOffset);
static_assert(offsetof(MIB_IFROW, dwDescrLen) == iftable::kDescrLenOffset);
static_assert(offsetof(MIB_IFROW, bDescr) == iftable::kDescrOffset);
// The names are copied field by field into the same sizes.
static_assert(sizeof(NativeConnection::szEntryName) == ras::kEntryNameSize);
static_assert(sizeof(NativeConnection::szDeviceType) == ras::kDeviceTypeSize);
static_assert(sizeof(NativeConnection::szDeviceName) == ras::kDeviceNameSize);

RasApi SystemRas() {
    return {&::RasEnumConnectionsA, &::RasHangUpA};
}

std::wstring Widen(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0') {
        return {};
    }
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring out(std::size_t(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
    out.resize(std::size_t(n - 1));
    return out;
}

std::string Narrow(const wchar_t* text, int length) {
    if (length <= 0) {
        return {};
    }
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

Core::Core(RasApi ras) : ras_(ras) {}

std::uint32_t Core::GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) {
    return ::GetIfTable(reinterpret_cast<PMIB_IFTABLE>(table), reinterpret_cast<PULONG>(size),
                        order ? TRUE : FALSE);
}

std::uint32_t Core::RasEnumConnectionsA(std::uint8_t* connections, std::uint32_t* size,
                                        std::uint32_t* count) {
    // Same refusal as the other backends for a buffer not in the program's layout.
    if (connections == nullptr || size == nullptr || count == nullptr || *size < ras::kEntrySize ||
        iftable::ReadU32(connections + ras::kSizeOffset) != ras::kEntrySize) {
        return win::kErrorInvalidParameter;
    }
    const std::size_t capacity = *size / ras::kEntrySize;
    native_.assign(capacity, NativeConnection{});
    native_[0].dwSize = sizeof(NativeConnection);
    DWORD nativeBytes = DWORD(capacity * sizeof(NativeConnection));
    DWORD nativeCount = 0;
    const DWORD result = ras_.enumerate(native_.data(), &nativeBytes, &nativeCount);
    if (result == ERROR_BUFFER_TOO_SMALL) {
        *size = CallerBytes(nativeBytes);
        *count = 0;
        return result;
    }
    if (result != ERROR_SUCCESS) {
        *count = 0;
        return result;
    }
    // Handles from an earlier listing may be reused by Windows for other connections.
    connections_.clear();
    const std::size_t n = std::min<std::size_t>(nativeCount, capacity);
    WriteEntries(native_.data(), n, connections, nextToken_);
    for (std::size_t i = 0; i < n; ++i) {
        connections_[nextToken_++] = native_[i].hrasconn;
    }
    *size = std::uint32_t(n * ras::kEntrySize);
    *count = std::uint32_t(n);
    return win::kNoError;
}

std::uint32_t Core::RasHangUpA(std::uint32_t connection) {
    const auto it = connections_.find(connection);
    if (it == connections_.end()) {
        return win::kErrorInvalidHandle;
    }
    return ras_.hangUp(it->second);
}

Platform::PlayerHandle Core::FindWindowA(const char* className, const char* windowName) {
    return reinterpret_cast<Platform::PlayerHandle>(::FindWindowA(className, windowName));
}

// The program's strings are UTF-8 on every platform, so the title is read as UTF-16 and converted,
// not taken in the ANSI code page, which would garble a Cyrillic track name.
int Core::GetWindowTextLengthA(Platform::PlayerHandle window) {
    const HWND hwnd = reinterpret_cast<HWND>(window);
    std::wstring text(std::size_t(std::max(::GetWindowTextLengthW(hwnd), 0)) + 1, L'\0');
    const int n = ::GetWindowTextW(hwnd, text.data(), int(text.size()));
    title_ = Narrow(text.data(), n);
    return int(title_.size());
}

int Core::GetWindowTextA(Platform::PlayerHandle window, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    GetWindowTextLengthA(window);
    const int n = int(Utf8PrefixLength(title_, std::size_t(size - 1)));
    std::copy_n(title_.data(), n, buffer);
    buffer[n] = '\0';
    return n;
}

void Core::ShellExecuteA(const char* operation, const char* file, const char* parameters,
                         const char* directory, int show) {
    const std::wstring op = Widen(operation);
    const std::wstring what = Widen(file);
    const std::wstring params = Widen(parameters);
    const std::wstring dir = Widen(directory);
    ::ShellExecuteW(nullptr, operation ? op.c_str() : nullptr, what.c_str(), params.c_str(),
                    dir.c_str(), show);
}

}  // namespace kv::win32
