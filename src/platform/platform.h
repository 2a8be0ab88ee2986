#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/link_result.h"

namespace kv {

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

    // iphlpapi. With no buffer: returns 122 and the size needed (50 when unsupported). With a
    // buffer: fills the MIB_IFTABLE layout of iftable_layout.h and returns 0, or 122 with the new
    // size when the buffer is too small.
    virtual std::uint32_t GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) = 0;

    // The active paid links, or a failure and no links.
    virtual std::vector<DialUpLink> ListDialUpLinks(LinkResult& result) = 0;
    // A link that is already down hangs up successfully.
    virtual LinkResult HangUp(const DialUpLink& link) = 0;

    // The running player's title as it shows it ("12. Artist - Song - Winamp [Paused]"), UTF-8;
    // nullopt when no player runs.
    virtual std::optional<std::string> PlayerTitle() = 0;
};

}  // namespace kv
