#include "support/fake_platform.h"

#include <algorithm>

namespace kv::test {

FakePlatform::Interface& FakePlatform::Add(std::uint32_t index, std::string description,
                                           std::uint64_t in, std::uint64_t out) {
    interfaces.push_back({index, std::move(description), in, out});
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
    table.rows = interfaces;
    return TableRead::kRead;
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
