#pragma once

#include <cstdint>

namespace kv {

// Why listing or hanging up the dial-up links failed, in the program's own words.
enum class LinkFailure {
    kNone,
    kNoService,  // no dial-up service to ask
    kRefused,    // the user may not end this link
    kGone,       // not a link of the last listing
    kTooMany,    // more links than kMaxDialUpLinks
    kNoAnswer,   // the service did not answer in time
    kFailed,     // the service answered with a failure
};

struct LinkResult {
    LinkFailure failure = LinkFailure::kNone;
    // The system's own number, where its dial-up service gives one (rasapi32); else 0.
    std::uint32_t systemError = 0;
};

// The hang-up's public result: the system's own number, or else the Windows error that says the
// same, so that it reads alike on every platform.
inline std::int32_t ReturnCodeOf(const LinkResult& result) {
    if (result.systemError != 0) {
        return std::int32_t(result.systemError);
    }
    switch (result.failure) {
        case LinkFailure::kNone:
            return 0;
        case LinkFailure::kNoService:
            return 711;  // ERROR_RASMAN_CANNOT_INITIALIZE
        case LinkFailure::kRefused:
            return 5;  // ERROR_ACCESS_DENIED
        case LinkFailure::kGone:
            return 6;  // ERROR_INVALID_HANDLE
        case LinkFailure::kTooMany:
            return 603;  // ERROR_BUFFER_TOO_SMALL
        case LinkFailure::kNoAnswer:
            return 638;  // ERROR_REQUEST_TIMEOUT
        case LinkFailure::kFailed:
            break;
    }
    return 31;  // ERROR_GEN_FAILURE
}

}  // namespace kv
