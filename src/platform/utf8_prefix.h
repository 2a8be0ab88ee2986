#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kv {

// Length of the longest prefix of `text` of at most `limit` bytes that does not end with an
// incomplete UTF-8 multibyte sequence. Invalid bytes elsewhere are kept as they are.
inline std::size_t Utf8PrefixLength(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) {
        return text.size();
    }
    if (limit == 0) {
        return 0;
    }
    auto byte = [&](std::size_t at) { return std::uint8_t(text[at]); };
    std::size_t start = limit - 1;
    std::size_t present = 1;
    while (present < 4 && start > 0 && (byte(start) & 0xC0) == 0x80) {
        --start;
        ++present;
    }
    const std::uint8_t lead = byte(start);
    const std::size_t needed = lead < 0x80                   ? 1
                               : lead >= 0xC0 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF8 ? 4
                                                             : 0;  // stray byte
    return needed > present ? start : limit;
}

}  // namespace kv
