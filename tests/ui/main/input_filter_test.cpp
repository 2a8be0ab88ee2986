#include "ui/main/input_filter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kv {
namespace {

std::string Utf8(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        out += c < 0x80 ? std::string(1, char(c)) : "\\u" + std::to_string(int(c));
    }
    return out;
}

TEST(FilterNumberInput, KeepsDigitsAndCommasTurnsFullStopsIntoCommasAndDropsTheRest) {
    const std::pair<std::u16string_view, std::u16string_view> cases[] = {
        {u"2.5", u"2,5"},         {u"1a2b", u"12"},     {u"-3", u"3"},
        {u" 4 ", u"4"},           {u"1\u04302", u"12"},  // Cyrillic letter
        {u"1\u00b72", u"12"},                            // a middle dot is not a full stop
        {u"\uff15", u""},                                // a full-width digit is not a digit
        {u"1\U0001F4B02", u"12"},                        // both halves of a surrogate pair
        {u"1e5", u"15"},          {u"..", u",,"},       {u"abc", u""},
    };
    for (const auto& [typed, kept] : cases) {
        const std::optional<BoxText> fixed = FilterNumberInput(typed);
        ASSERT_TRUE(fixed) << Utf8(typed);
        EXPECT_EQ(fixed->text, kept) << Utf8(typed);
        EXPECT_EQ(fixed->caret, kept.size()) << Utf8(typed);
    }
}

TEST(FilterNumberInput, LeavesTextOfDigitsAndCommasAloneWhateverItsShape) {
    for (const std::u16string_view text : {u"", u"2,5", u",", u"1,2,3", u"02,50", u"12345,67"}) {
        EXPECT_EQ(FilterNumberInput(text), std::nullopt) << Utf8(text);
    }
}

TEST(FilterNumberInput, ChangesNothingWhenRunOnItsOwnResult) {
    for (const std::u16string_view text : {u"2.5", u"a.b,c", u"1\u0430.\u04302", u"--,"}) {
        const std::optional<BoxText> once = FilterNumberInput(text);
        ASSERT_TRUE(once) << Utf8(text);
        EXPECT_EQ(FilterNumberInput(once->text), std::nullopt) << Utf8(text);
    }
}

struct Edit {
    std::u16string_view before;
    std::u16string_view after;
    std::optional<BoxText> result;
};

TEST(AcceptUserEdit, CutsWhatTheUserInsertsSoTheTextStaysWithinFiveCharacters) {
    const Edit cases[] = {
        // A sixth character typed at the end, in the middle or at the start is refused.
        {u"12345", u"123456", BoxText{u"12345", 5}},
        {u"12345", u"129345", BoxText{u"12345", 2}},
        {u"12345", u"912345", BoxText{u"12345", 0}},
        // A paste is cut to the free room first; the letters it carried are dropped after that
        // and leave their room empty.
        {u"", u"9a8.7654", BoxText{u"98,7", 4}},
        {u"", u"1a2b3c4d5e6f7", BoxText{u"123", 3}},
        {u"", u"1234567", BoxText{u"12345", 5}},
        {u"12", u"1abc3456782", BoxText{u"12", 1}},
        {u"12", u"134a56782", BoxText{u"1342", 3}},
        {u"12345", u"12x945", BoxText{u"1245", 2}},  // "3" replaced: one character of room
        // Typing over a selection frees its room.
        {u"12345", u"1a5", BoxText{u"15", 2}},
        {u"12345", u"7", std::nullopt},
    };
    for (const auto& [before, after, result] : cases) {
        EXPECT_EQ(AcceptUserEdit(before, after), result) << Utf8(before) << " -> " << Utf8(after);
    }
}

TEST(AcceptUserEdit, LetsLongerProgramTextShrinkButNeverGrow) {
    const Edit cases[] = {
        {u"12345,67", u"12345,6", std::nullopt},
        {u"12345,67", u"3", std::nullopt},
        {u"12345,67", u"12345,678", BoxText{u"12345,67", 8}},
        {u"12345,67", u"12345,69", BoxText{u"12345,6", 7}},
    };
    for (const auto& [before, after, result] : cases) {
        EXPECT_EQ(AcceptUserEdit(before, after), result) << Utf8(before) << " -> " << Utf8(after);
    }
}

TEST(AcceptUserEdit, FiltersAnEditThatFitsAndReportsTheCaretAtTheEnd) {
    const Edit cases[] = {
        {u"2", u"2.", BoxText{u"2,", 2}}, {u"25", u"2.5", BoxText{u"2,5", 3}},
        {u"", u"x", BoxText{u"", 0}},     {u"2,5", u"2,5", std::nullopt},
        {u"2,5", u"2,55", std::nullopt},
    };
    for (const auto& [before, after, result] : cases) {
        EXPECT_EQ(AcceptUserEdit(before, after), result) << Utf8(before) << " -> " << Utf8(after);
    }
}

}  // namespace
}  // namespace kv
