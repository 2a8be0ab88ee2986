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
    struct Interface {
        std::uint32_t index = 1;
        std::string description;
        std::uint32_t inOctets = 0;
        std::uint32_t outOctets = 0;
        std::uint32_t speed = 0;
        std::vector<std::uint8_t> physAddr;
        std::optional<std::uint32_t> descrLen;     // default: description length
        std::optional<std::uint32_t> physAddrLen;  // default: physAddr size
    };

    struct Link {
        std::uint32_t token;
        std::string name;
        LinkResult hangUpResult;
    };

    // The interface table and ways to break it.
    std::vector<Interface> interfaces;
    std::optional<std::uint32_t> sizeQueryResult;  // replaces the usual 122
    std::optional<std::uint32_t> sizeQuerySize;    // replaces the size the query reports
    std::optional<std::uint32_t> fillResult;       // replaces the usual 0
    std::optional<std::uint32_t> declaredRows;     // replaces the row count written
    int getIfTableCalls = 0;

    Interface& Add(std::uint32_t index, std::string description, std::uint32_t in = 0,
                   std::uint32_t out = 0);
    Interface* Find(std::uint32_t index);
    void Remove(std::uint32_t index);

    // The player's title; nullopt when no player runs.
    std::optional<std::string> playerTitle;
    int playerTitleReads = 0;

    // Dial-up.
    std::vector<Link> links;
    LinkResult listResult;
    std::vector<std::uint32_t> hungUp;

    std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) override;
    std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) override;
    LinkResult HangUp(const DialUpLink& link) override;
    std::optional<std::string> PlayerTitle() override;
};

}  // namespace kv::test
