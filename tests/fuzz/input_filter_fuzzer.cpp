// The value boxes' filter on arbitrary UTF-16 text and arbitrary edits.
#include <string>

#include "fuzz_check.h"
#include "ui/main/input_filter.h"

namespace {

bool OnlyDigitsAndCommas(std::u16string_view t) {
    for (char16_t c : t) {
        if (!((c >= u'0' && c <= u'9') || c == u','))
            return false;
    }
    return true;
}

// Two bytes per UTF-16 unit, or, for a byte below 0x80 after a 0 selector, plain ASCII, so that
// short inputs still reach digits, stops and commas.
std::u16string Units(std::string_view bytes, bool ascii) {
    std::u16string out;
    if (ascii) {
        for (unsigned char c : bytes)
            out += char16_t(c);
    } else {
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            out += char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8);
        }
    }
    return out;
}

std::u16string Model(std::u16string_view t) {
    std::u16string out;
    for (char16_t c : t) {
        if ((c >= u'0' && c <= u'9') || c == u',')
            out += c;
        else if (c == u'.')
            out += u',';
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kv::fuzz::Input in(data, size);
    const std::uint8_t mode = in.U8();
    const std::size_t split = in.U8();
    const std::size_t maxChars = mode & 0x10 ? in.U8() % 12 : kv::kMaxTypedChars;
    const std::u16string all = Units(in.Rest(), (mode & 1) == 0);
    const std::u16string_view rawBefore =
        std::u16string_view(all).substr(0, std::min(split, all.size()));
    const std::u16string_view after = std::u16string_view(all).substr(rawBefore.size());

    // The filter alone.
    const std::optional<kv::BoxText> f = kv::FilterNumberInput(after);
    const std::u16string filtered = f ? f->text : std::u16string(after);
    KV_FUZZ_CHECK(OnlyDigitsAndCommas(filtered), "filter kept a foreign unit");
    KV_FUZZ_CHECK(filtered == Model(after), "filter result differs from the model");
    KV_FUZZ_CHECK(!f || f->caret == f->text.size(), "caret %zu of %zu", f->caret, f->text.size());
    KV_FUZZ_CHECK(f.has_value() != OnlyDigitsAndCommas(after),
                  "changed a clean text or missed a dirty one");
    KV_FUZZ_CHECK(!kv::FilterNumberInput(filtered).has_value(), "second filter changed the text");

    // A user edit from a box that held filtered text: the box stays clean and within its room.
    const std::u16string before = Model(rawBefore);
    const std::optional<kv::BoxText> e = kv::AcceptUserEdit(before, after, maxChars);
    const std::u16string result = e ? e->text : std::u16string(after);
    KV_FUZZ_CHECK(OnlyDigitsAndCommas(result), "edit left a foreign unit");
    KV_FUZZ_CHECK(result.size() <= std::max(maxChars, before.size()),
                  "edit grew a %zu-unit text to %zu (room %zu)", before.size(), result.size(),
                  maxChars);
    KV_FUZZ_CHECK(!e || e->caret <= e->text.size(), "caret %zu past %zu", e->caret, e->text.size());
    KV_FUZZ_CHECK(!kv::FilterNumberInput(result).has_value(),
                  "filtering the accepted text changed it");
    // What the user may type into a box within its room is kept whole.
    if (after.size() <= maxChars) {
        KV_FUZZ_CHECK(result == Model(after), "a short edit was cut");
    }
    // A paste into an empty box keeps what fits of it, and that is filtered.
    if (before.empty()) {
        KV_FUZZ_CHECK(result == Model(after.substr(0, maxChars)),
                      "a paste into an empty box was not cut before filtering");
    }
    // Accepting the accepted text again changes nothing.
    const std::optional<kv::BoxText> again = kv::AcceptUserEdit(before, result, maxChars);
    KV_FUZZ_CHECK(!again || again->text == result, "a second pass changed the text");
    return 0;
}
