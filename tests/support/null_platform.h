#pragma once

#include "platform/platform.h"

namespace kv::test {

// A platform where nothing is there: no table, no links, no player. Test doubles derive from it
// and answer only the calls their test is about.
class NullPlatform : public Platform {
  public:
    TableRead ReadInterfaceTable(InterfaceTable&) override { return TableRead::kNotSupported; }
    std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) override {
        result = {};
        return {};
    }
    LinkResult HangUp(const DialUpLink&) override { return {}; }
    std::optional<std::string> PlayerTitle() override { return std::nullopt; }
};

}  // namespace kv::test
