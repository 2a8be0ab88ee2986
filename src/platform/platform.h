#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/link_result.h"

namespace kv {

// One interface as the system lists it.
struct InterfaceRow {
    std::uint32_t index = 0;
    // UTF-8, at most kMaxDescriptionBytes.
    std::string description;
    // The byte counters at the width the system keeps them (InterfaceTable::counterBits).
    std::uint64_t received = 0;
    std::uint64_t sent = 0;
    // Nominal bits per second; all bits set when the link is faster than this can say.
    std::uint32_t speed = 0;
    std::array<std::uint8_t, 8> address{};
    std::uint8_t addressLength = 0;  // 0: none
};

struct InterfaceTable {
    std::vector<InterfaceRow> rows;
    // 32 where the counters wrap at 4 GiB (Windows' GetIfTable), 64 where they never do (Linux).
    int counterBits = 32;
};

// The room Windows gives a description; every backend cuts to it, between letters, so that a
// name reads the same everywhere.
inline constexpr std::size_t kMaxDescriptionBytes = 256;

enum class TableRead { kRead, kNotSupported, kFailed };

// One active dial-up link as a backend listed it. The token means something only to the backend
// that issued it, and only until its next listing.
struct DialUpLink {
    std::uint32_t token = 0;
    std::string name;
};

// More links than this are refused whole (LinkFailure::kTooMany), as rasapi32 does with the
// program's buffer.
inline constexpr std::size_t kMaxDialUpLinks = 256;

// What the program needs from the operating system beyond Qt: the interface table, the dial-up
// links and the media player's title. Everything is called on the user-interface thread.
class Platform {
  public:
    virtual ~Platform() = default;

    // The whole table, into storage of an earlier read so that a refresh need not allocate.
    // kNotSupported: the system has no such table; kFailed: this read went wrong. After either,
    // `table` holds nothing of use.
    virtual TableRead ReadInterfaceTable(InterfaceTable& table) = 0;

    // The active paid links, or a failure and no links.
    virtual std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) = 0;
    // A link that is already down hangs up successfully.
    virtual LinkResult HangUp(const DialUpLink& link) = 0;

    // The running player's title as it shows it ("12. Artist - Song - Winamp [Paused]"), UTF-8;
    // nullopt when no player runs.
    virtual std::optional<std::string> PlayerTitle() = 0;
};

}  // namespace kv
