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
    std::optional<BoxText> filtered = FilterNumberInput(after);
    const std::u16string_view text = filtered ? std::u16string_view(filtered->text) : after;

    // The edit replaced before[prefix, before.size() - suffix) with the middle of `text`.
    const std::size_t shorter = std::min(before.size(), text.size());
    std::size_t prefix = 0;
    while (prefix < shorter && before[prefix] == text[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           before[before.size() - 1 - suffix] == text[text.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::size_t inserted = text.size() - prefix - suffix;
    const std::size_t untouched = prefix + suffix;
    const std::size_t room = maxChars > untouched ? maxChars - untouched : 0;
    if (inserted <= room) {
        return filtered;
    }
    std::u16string cut(text.substr(0, prefix + room));
    cut.append(text.substr(text.size() - suffix));
    return BoxText{std::move(cut), prefix + room};
}

}  // namespace kv
