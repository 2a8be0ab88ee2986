#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

// The most characters the user can type or paste into a value box. Text the program puts there
// (a carried-over balance such as "12345,67") may be longer.
inline constexpr std::size_t kMaxTypedChars = 5;

// A box's corrected text and where its caret goes.
struct BoxText {
    std::u16string text;
    std::size_t caret = 0;

    friend bool operator==(const BoxText&, const BoxText&) = default;
};

// Keeps digits and commas and turns full stops into commas; every other UTF-16 unit goes,
// non-ASCII included. The number's shape is not checked: ",", "1,2,3" pass. nullopt when nothing
// had to change, so the caller leaves the text and caret alone; otherwise the caret is at the end.
std::optional<BoxText> FilterNumberInput(std::u16string_view text);

// A user edit that turned `before` (already filtered) into `after`: cuts what was inserted so the
// text gains no room past `maxChars`, then filters it ("9a8.7654" pasted into an empty box keeps
// "9a8.7" and gives "98,7"). Text that was already longer can shrink but never grow. The caret
// follows the kept insertion after a cut, else the end after a filter correction; nullopt when
// `after` stands as it is.
std::optional<BoxText> AcceptUserEdit(std::u16string_view before, std::u16string_view after,
                                      std::size_t maxChars = kMaxTypedChars);

}  // namespace kv
