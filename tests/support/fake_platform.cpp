#include "support/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/iftable_layout.h"
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

std::vector<DialUpLink> FakePlatform::ListDialUpLinks(LinkResult& result) {
    result = listResult;
    std::vector<DialUpLink> listed;
    if (result.failure == LinkFailure::kNone) {
        for (const Link& link : links) {
            listed.push_back({link.token, link.name});
        }
    }
    return listed;
}

LinkResult FakePlatform::HangUp(const DialUpLink& link) {
    hungUp.push_back(link.token);
    for (const Link& l : links) {
        if (l.token == link.token) {
            return l.hangUpResult;
        }
    }
    return {LinkFailure::kGone};
}

std::optional<std::string> FakePlatform::PlayerTitle() {
    ++playerTitleReads;
    return playerTitle;
}

}  // namespace kv::test
