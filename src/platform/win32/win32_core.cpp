#include "platform/win32/win32_core.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <utility>

#include "platform/utf8_prefix.h"
#include "platform/win32/ras_layout.h"
#include "platform/win32/ras_translate.h"

namespace kv::win32 {

static_assert(MAXLEN_IFDESCR == kMaxDescriptionBytes);
static_assert(MAXLEN_PHYSADDR == sizeof(InterfaceRow::address));
// The names are copied field by field into the same sizes.
static_assert(sizeof(NativeConnection::szEntryName) == ras::kEntryNameSize);
static_assert(sizeof(NativeConnection::szDeviceType) == ras::kDeviceTypeSize);
static_assert(sizeof(NativeConnection::szDeviceName) == ras::kDeviceNameSize);

RasApi SystemRas() {
    return {&::RasEnumConnectionsA, &::RasHangUpA};
}

TitleApi SystemTitle() {
    return {&::FindWindowA, &::GetWindowTextLengthW, &::GetWindowTextW};
}

IfTableApi SystemIfTable() {
    return {&::GetIfTable};
}

namespace {

// No real table comes near this; a larger answer is a broken source, not a big machine.
constexpr std::size_t kMaxTableBytes = offsetof(MIB_IFTABLE, table) + sizeof(MIB_IFROW) * 65536;

// `length` bytes in `codePage`; empty when they are not text in it.
std::wstring ToUtf16(UINT codePage, const char* bytes, int length) {
    const int n = ::MultiByteToWideChar(codePage, 0, bytes, length, nullptr, 0);
    if (n <= 0) {
        return {};
    }
    std::wstring out(std::size_t(n), L'\0');
    ::MultiByteToWideChar(codePage, 0, bytes, length, out.data(), n);
    return out;
}

// rasapi32's number stays the result; the kind only names it.
LinkResult FromRas(std::uint32_t error) {
    constexpr std::pair<std::uint32_t, LinkFailure> kKinds[] = {
        {ERROR_SUCCESS, LinkFailure::kNone},
        {ERROR_RASMAN_CANNOT_INITIALIZE, LinkFailure::kNoService},
        {ERROR_ACCESS_DENIED, LinkFailure::kRefused},
        {ERROR_INVALID_HANDLE, LinkFailure::kGone},
        {ERROR_BUFFER_TOO_SMALL, LinkFailure::kTooMany},
        {ERROR_REQUEST_TIMEOUT, LinkFailure::kNoAnswer}};
    const auto* kind = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [error](const auto& k) { return k.first == error; });
    return {kind != std::end(kKinds) ? kind->second : LinkFailure::kFailed, error};
}

}  // namespace

std::wstring Widen(const char* utf8) {
    if (utf8 == nullptr || *utf8 == '\0') {
        return {};
    }
    return ToUtf16(CP_UTF8, utf8, int(std::strlen(utf8)));
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

std::string DescriptionText(const BYTE* descr, DWORD length, UINT codePage) {
    const auto* bytes = reinterpret_cast<const char*>(descr);
    const int n = int(std::min<DWORD>(length, MAXLEN_IFDESCR));
    const std::wstring text = ToUtf16(codePage, bytes, n);
    std::string utf8 =
        text.empty() ? std::string(bytes, std::size_t(n)) : Narrow(text.data(), int(text.size()));
    utf8.resize(Utf8PrefixLength(utf8, kMaxDescriptionBytes));
    return utf8;
}

bool ParseIfTable(const std::uint8_t* bytes, std::size_t size, UINT codePage,
                  InterfaceTable& table) {
    constexpr std::size_t kFirstRow = offsetof(MIB_IFTABLE, table);
    DWORD count = 0;
    if (size < kFirstRow) {
        return false;
    }
    std::memcpy(&count, bytes, sizeof count);
    if (count > (size - kFirstRow) / sizeof(MIB_IFROW)) {
        return false;
    }
    table.counterBits = 32;
    table.rows.resize(count);
    for (DWORD i = 0; i < count; ++i) {
        MIB_IFROW from;
        std::memcpy(&from, bytes + kFirstRow + i * sizeof from, sizeof from);
        InterfaceRow& to = table.rows[i];
        to.index = from.dwIndex;
        to.description = DescriptionText(from.bDescr, from.dwDescrLen, codePage);
        to.received = from.dwInOctets;
        to.sent = from.dwOutOctets;
        to.speed = from.dwSpeed;
        // Windows never reports more than the field holds; a larger length reads the whole
        // field, and one that is negative as a signed number none of it.
        to.addressLength = std::uint8_t(
            std::clamp<std::int32_t>(std::int32_t(from.dwPhysAddrLen), 0, MAXLEN_PHYSADDR));
        std::copy_n(from.bPhysAddr, MAXLEN_PHYSADDR, to.address.begin());
    }
    return true;
}

Core::Core(RasApi ras, TitleApi title, IfTableApi ifTable)
    : ras_(ras), title_(title), ifTable_(ifTable) {}

TableRead Core::ReadInterfaceTable(InterfaceTable& table) {
    ULONG size = 0;
    if (ifTable_.get(nullptr, &size, FALSE) == ERROR_NOT_SUPPORTED) {
        return TableRead::kNotSupported;
    }
    if (size < offsetof(MIB_IFTABLE, table) || size > kMaxTableBytes) {
        return TableRead::kFailed;
    }
    ifTableBytes_.assign(size, 0);
    if (ifTable_.get(reinterpret_cast<PMIB_IFTABLE>(ifTableBytes_.data()), &size, FALSE) !=
        NO_ERROR) {
        return TableRead::kFailed;
    }
    const std::size_t filled = std::min<std::size_t>(size, ifTableBytes_.size());
    return ParseIfTable(ifTableBytes_.data(), filled, CP_ACP, table) ? TableRead::kRead
                                                                     : TableRead::kFailed;
}

std::uint32_t Core::RasEnumConnectionsA(std::uint8_t* connections, std::uint32_t* size,
                                        std::uint32_t* count) {
    // Same refusal as the other backends for a buffer not in the program's layout.
    if (connections == nullptr || size == nullptr || count == nullptr || *size < ras::kEntrySize ||
        ras::ReadU32(connections + ras::kSizeOffset) != ras::kEntrySize) {
        return ERROR_INVALID_PARAMETER;
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
    return ERROR_SUCCESS;
}

std::uint32_t Core::RasHangUpA(std::uint32_t connection) {
    const auto it = connections_.find(connection);
    if (it == connections_.end()) {
        return ERROR_INVALID_HANDLE;
    }
    return ras_.hangUp(it->second);
}

std::vector<DialUpLink> Core::ListDialUpLinks(LinkResult& result) {
    std::vector<std::uint8_t> buffer(ras::kBufferSize);
    ras::WriteU32(buffer.data() + ras::kSizeOffset, ras::kEntrySize);
    std::uint32_t size = ras::kBufferSize;
    std::uint32_t count = 0;
    result = FromRas(RasEnumConnectionsA(buffer.data(), &size, &count));
    std::vector<DialUpLink> links;
    if (result.failure != LinkFailure::kNone) {
        return links;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = buffer.data() + i * ras::kEntrySize;
        const auto* name = reinterpret_cast<const char*>(entry + ras::kEntryNameOffset);
        links.push_back({ras::ReadU32(entry + ras::kHandleOffset),
                         std::string(name, ::strnlen(name, ras::kEntryNameSize))});
    }
    return links;
}

LinkResult Core::HangUp(const DialUpLink& link) {
    return FromRas(RasHangUpA(link.token));
}

// The program's strings are UTF-8 on every platform, so the title is read as UTF-16 and converted,
// not taken in the ANSI code page, which would garble a Cyrillic track name.
std::optional<std::string> Core::PlayerTitle() {
    const HWND player = title_.find(kPlayerWindowClass, nullptr);
    if (player == nullptr) {
        return std::nullopt;
    }
    const int announced = std::max(title_.length(player), 0);
    // A title that shrank between the two calls keeps the announced length, filled with code 0.
    std::wstring text(std::size_t(announced) + 1, L'\0');
    title_.text(player, text.data(), announced + 1);
    return Narrow(text.data(), announced);
}

}  // namespace kv::win32
