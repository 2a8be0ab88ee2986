#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// Names the current boot of the system: the same text for as long as it runs, another after a
// restart. Empty when the system does not tell, and then nothing may be taken as the same boot.
// Always a plain boot name (below), so that paid.dat can keep it on its line.
std::string BootId();

inline constexpr std::size_t kMaxBootIdSize = 64;

// Letters, digits and '-' only, at most kMaxBootIdSize of them; the empty name too.
constexpr bool IsPlainBootId(std::string_view id) {
    if (id.size() > kMaxBootIdSize) {
        return false;
    }
    for (const char c : id) {
        const bool plain =
            (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
        if (!plain) {
            return false;
        }
    }
    return true;
}

}  // namespace kv
