#pragma once

#include <cstdint>
#include <iterator>

namespace kv {

// Why listing or hanging up the dial-up links failed, in the program's own words: no dial-up
// service to ask, the user may not end the link, not a link of the last listing, more links than
// kMaxDialUpLinks, no answer in time, the service answered with a failure.
enum class LinkFailure { kNone, kNoService, kRefused, kGone, kTooMany, kNoAnswer, kFailed };

struct LinkResult {
    LinkFailure failure = LinkFailure::kNone;
    std::uint32_t systemError = 0;  // the system's own number, where it gives one (rasapi32)
};

// The hang-up's public result: the system's own number, or else the Windows error saying the same
// (ERROR_RASMAN_CANNOT_INITIALIZE, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE,
// ERROR_BUFFER_TOO_SMALL, ERROR_REQUEST_TIMEOUT, ERROR_GEN_FAILURE), alike on every platform.
inline std::int32_t ReturnCodeOf(const LinkResult& result) {
    constexpr std::int32_t kWindowsErrors[] = {0, 711, 5, 6, 603, 638, 31};
    static_assert(std::size(kWindowsErrors) == std::size_t(LinkFailure::kFailed) + 1);
    return result.systemError != 0 ? std::int32_t(result.systemError)
                                   : kWindowsErrors[std::size_t(result.failure)];
}

}  // namespace kv
