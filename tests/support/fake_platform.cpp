#include "support/fake_platform.h"

#include <algorithm>
#include <cstring>

#include "platform/win_errors.h"

namespace kv::test {

FakePlatform::Interface& FakePlatform::Add(std::uint32_t index, std::string description,
                                           std::uint64_t in, std::uint64_t out) {
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

TableRead FakePlatform::ReadInterfaceTable(InterfaceTable& table) {
    ++tableReads;
    if (readResult) {
        return *readResult;
    }
    table.counterBits = counterBits;
    table.rows.clear();
    for (const Interface& in : interfaces) {
        InterfaceRow row;
        row.index = in.index;
        row.description = in.description;
        row.received = in.inOctets;
        row.sent = in.outOctets;
        row.speed = in.speed;
        row.addressLength = std::uint8_t(std::min(in.physAddr.size(), row.address.size()));
        std::copy_n(in.physAddr.begin(), row.addressLength, row.address.begin());
        table.rows.push_back(std::move(row));
    }
    return TableRead::kRead;
}

std::vector<DialUpLink> FakePlatform::ListDialUpLinks(std::uint32_t& error) {
    error = enumResult.value_or(win::kNoError);
    std::vector<DialUpLink> listed;
    if (error == win::kNoError) {
        for (const Link& link : links) {
            listed.push_back({link.token, link.name});
        }
    }
    return listed;
}

std::uint32_t FakePlatform::HangUp(const DialUpLink& link) {
    hungUp.push_back(link.token);
    for (const Link& l : links) {
        if (l.token == link.token) {
            return l.hangUpResult;
        }
    }
    return win::kErrorInvalidHandle;
}

std::optional<std::string> FakePlatform::PlayerTitle() {
    ++playerTitleReads;
    return playerTitle;
}

}  // namespace kv::test
