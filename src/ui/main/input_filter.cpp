#include "ui/main/input_filter.h"

#include <algorithm>

namespace kv {

namespace {

bool Accepted(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u',';
}

}  // namespace

std::optional<BoxText> FilterNumberInput(std::u16string_view text) {
    if (std::all_of(text.begin(), text.end(), Accepted)) {
        return std::nullopt;
    }
    std::u16string kept;
    kept.reserve(text.size());
    for (const char16_t c : text) {
        if (Accepted(c)) {
            kept.push_back(c);
        } else if (c == u'.') {
            kept.push_back(u',');
        }
    }
    const std::size_t end = kept.size();
    return BoxText{std::move(kept), end};
}

std::optional<BoxText> AcceptUserEdit(std::u16string_view before, std::u16string_view after,
                                      std::size_t maxChars) {
    // The edit replaced before[prefix, before.size() - suffix) with the middle of `after`.
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t prefix = 0;
    while (prefix < shorter && before[prefix] == after[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::size_t inserted = after.size() - prefix - suffix;
    const std::size_t untouched = prefix + suffix;
    const std::size_t room = maxChars > untouched ? maxChars - untouched : 0;
    if (inserted <= room) {
        return FilterNumberInput(after);
    }
    // As a box with a length limit does: the insertion is cut to the free room as it arrives,
    // and only what was kept is filtered, so dropped letters leave their room empty.
    std::u16string cut(after.substr(0, prefix + room));
    cut.append(after.substr(after.size() - suffix));
    if (std::optional<BoxText> filtered = FilterNumberInput(cut)) {
        // Both ends were already clean, so the caret goes after what is left of the insertion.
        filtered->caret = filtered->text.size() - suffix;
        return filtered;
    }
    return BoxText{std::move(cut), prefix + room};
}

}  // namespace kv
