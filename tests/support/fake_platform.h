#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kv::test {

// A scripted stand-in for the operating system: the test sets the interface table, the player and
// the dial-up links, and reads back what the program did.
class FakePlatform : public Platform {
  public:
    using Interface = InterfaceRow;

    struct Link {
        std::uint32_t token;
        std::string name;
        LinkResult hangUpResult;
    };

    // The interface table and a way to break it.
    std::vector<Interface> interfaces;
    int counterBits = 32;                 // as Windows' table; Linux keeps 64
    std::optional<TableRead> readResult;  // replaces the usual kRead
    int tableReads = 0;

    Interface& Add(std::uint32_t index, std::string description, std::uint64_t in = 0,
                   std::uint64_t out = 0);
    Interface* Find(std::uint32_t index);
    void Remove(std::uint32_t index);

    // The player's title; nullopt when no player runs.
    std::optional<std::string> playerTitle;
    int playerTitleReads = 0;

    // Dial-up.
    std::vector<Link> links;
    LinkResult listResult;
    std::vector<std::uint32_t> hungUp;

    TableRead ReadInterfaceTable(InterfaceTable& table) override;
    std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) override;
    LinkResult HangUp(const DialUpLink& link) override;
    std::optional<std::string> PlayerTitle() override;
};

}  // namespace kv::test
