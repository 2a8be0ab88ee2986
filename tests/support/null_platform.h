#pragma once

#include "platform/platform.h"

namespace kv::test {

// A platform where nothing is there: no table, no links, no player. Test doubles derive from it
// and answer only the calls their test is about.
class NullPlatform : public Platform {
  public:
    std::uint32_t GetIfTable(std::uint8_t*, std::uint32_t*, bool) override { return 50; }
    std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) override {
        result = {};
        return {};
    }
    LinkResult HangUp(const DialUpLink&) override { return {}; }
    std::optional<std::string> PlayerTitle() override { return std::nullopt; }
};

}  // namespace kv::test
