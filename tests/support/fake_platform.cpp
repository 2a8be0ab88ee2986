#include "support/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/iftable_layout.h"
#include "platform/ras_layout.h"
#include "platform/win_errors.h"

namespace kv::test {

FakePlatform::Interface& FakePlatform::Add(std::uint32_t index, std::string description,
                                           std::uint32_t in, std::uint32_t out) {
    Interface row;
    row.index = index;
    row.description = std::move(description);
    row.inOctets = in;
    row.outOctets = out;
    interfaces.push_back(std::move(row));
    return interfaces.back();
}

FakePlatform::Interface* FakePlatform::Find(std::uint32_t index) {
    auto it = std::find_if(interfaces.begin(), interfaces.end(),
                           [&](const Interface& i) { return i.index == index; });
    return it == interfaces.end() ? nullptr : &*it;
}

void FakePlatform::Remove(std::uint32_t index) {
    std::erase_if(interfaces, [&](const Interface& i) { return i.index == index; });
}

std::uint32_t FakePlatform::GetIfTable(std::uint8_t* table, std::uint32_t* size, bool) {
    ++getIfTableCalls;
    const auto needed = std::uint32_t(iftable::TableSize(interfaces.size()));
    if (table == nullptr) {
        *size = sizeQuerySize.value_or(needed);
        return sizeQueryResult.value_or(win::kErrorInsufficientBuffer);
    }
    if (fillResult) {
        return *fillResult;
    }
    if (*size < needed) {
        *size = needed;
        return win::kErrorInsufficientBuffer;
    }
    std::memset(table, 0, needed);
    iftable::WriteU32(table, declaredRows.value_or(std::uint32_t(interfaces.size())));
    for (std::size_t i = 0; i < interfaces.size(); ++i) {
        const Interface& in = interfaces[i];
        std::uint8_t* row = table + iftable::RowOffset(i);
        iftable::WriteU32(row + iftable::kIndexOffset, in.index);
        iftable::WriteU32(row + iftable::kSpeedOffset, in.speed);
        iftable::WriteU32(row + iftable::kInOctetsOffset, in.inOctets);
        iftable::WriteU32(row + iftable::kOutOctetsOffset, in.outOctets);
        const std::size_t addrLen = std::min(in.physAddr.size(), iftable::kPhysAddrSize);
        std::copy_n(in.physAddr.begin(), addrLen, row + iftable::kPhysAddrOffset);
        iftable::WriteU32(row + iftable::kPhysAddrLenOffset,
                          in.physAddrLen.value_or(std::uint32_t(addrLen)));
        const std::size_t descrLen = std::min(in.description.size(), iftable::kDescrSize);
        std::memcpy(row + iftable::kDescrOffset, in.description.data(), descrLen);
        iftable::WriteU32(row + iftable::kDescrLenOffset,
                          in.descrLen.value_or(std::uint32_t(descrLen)));
    }
    return win::kNoError;
}

std::uint32_t FakePlatform::RasEnumConnectionsA(std::uint8_t* buffer, std::uint32_t* size,
                                                std::uint32_t* count) {
    if (enumResult) {
        return *enumResult;
    }
    const std::size_t n = std::min(connections.size(), ras::kEntries);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t* entry = buffer + i * ras::kEntrySize;
        iftable::WriteU32(entry + ras::kSizeOffset, ras::kEntrySize);
        iftable::WriteU32(entry + ras::kHandleOffset, connections[i].handle);
        std::strncpy(reinterpret_cast<char*>(entry + ras::kEntryNameOffset),
                     connections[i].name.c_str(), ras::kEntryNameSize - 1);
    }
    *size = std::uint32_t(n * ras::kEntrySize);
    *count = std::uint32_t(n);
    return win::kNoError;
}

std::uint32_t FakePlatform::RasHangUpA(std::uint32_t connection) {
    hungUp.push_back(connection);
    for (const RasConnection& c : connections) {
        if (c.handle == connection) {
            return c.hangUpResult;
        }
    }
    return win::kErrorInvalidHandle;
}

void FakePlatform::SetWindowPos(WindowHandle window, std::intptr_t insertAfter, int, int, int, int,
                                std::uint32_t) {
    topmost[window] = insertAfter == kHwndTopmost;
}

std::int32_t FakePlatform::GetWindowLongA(WindowHandle window, int) {
    return exStyle[window];
}

void FakePlatform::SetWindowLongA(WindowHandle window, int, std::int32_t value) {
    exStyle[window] = value;
}

void FakePlatform::SetLayeredWindowAttributes(WindowHandle window, std::uint32_t, std::uint8_t a,
                                              std::uint32_t) {
    alpha[window] = a;
}

Platform::PlayerHandle FakePlatform::FindWindowA(const char*, const char*) {
    return player;
}

int FakePlatform::GetWindowTextLengthA(PlayerHandle window) {
    return window == player && player != 0 ? int(playerTitle.size()) : 0;
}

int FakePlatform::GetWindowTextA(PlayerHandle window, char* buffer, int size) {
    if (window != player || player == 0 || size <= 0) {
        return 0;
    }
    const int n = std::min(int(playerTitle.size()), size - 1);
    std::memcpy(buffer, playerTitle.data(), std::size_t(n));
    buffer[n] = '\0';
    return n;
}

void FakePlatform::ShellExecuteA(WindowHandle, const char*, const char* file, const char*,
                                 const char*, int) {
    opened.emplace_back(file);
}

void FakePlatform::ShowMessageBox(const std::string& text, int style) {
    messages.push_back({text, style});
    if (whileBoxIsOpen) {
        const Message shown = messages.back();  // the hook may open another box
        whileBoxIsOpen(shown);
    }
}

void FakePlatform::ExitProcess(int code) {
    throw ProcessExit{code};
}

}  // namespace kv::test
