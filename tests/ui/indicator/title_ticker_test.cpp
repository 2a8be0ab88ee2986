#include "ui/indicator/title_ticker.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdint>
#include <limits>
#include <string>

#include "support/fake_platform.h"
#include "ui/indicator/ticker_line.h"

namespace kv {
namespace {

std::size_t CodePoints(const std::string& utf8) {
    return DecodeUtf8(utf8).size();
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += piece;
    }
    return out;
}

// 36 characters: "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789".
const std::string k36 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const std::string k35 = k36.substr(0, 35);

// What the indicator's line shows for the ticker's state, as Form3 hands it over.
std::string Shown(const PlayerTicker& ticker) {
    static int argc = 3;
    static char arg0[] = "title_ticker_test", arg1[] = "-platform", arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    static TickerLine* line = new TickerLine;
    Q_UNUSED(app);
    line->ShowTurned(ticker.playerTitle, ticker.tickerPos);
    return line->text().toStdString();
}

std::string Step(PlayerTicker& ticker, const std::string& windowTitle) {
    ShowPlayerTitle(ticker, windowTitle);
    return Shown(ticker);
}

struct ShowCase {
    const char* name;
    std::string windowTitle;
    std::int32_t posBefore;
    std::string expectedLine;
    std::int32_t expectedPos;
};

class ShowPlayerTitleTest : public testing::TestWithParam<ShowCase> {};

TEST_P(ShowPlayerTitleTest, PutsTheTrimmedTitleIntoTheLine) {
    const ShowCase& c = GetParam();
    PlayerTicker ticker;
    ticker.tickerPos = c.posBefore;
    EXPECT_EQ(Step(ticker, c.windowTitle), c.expectedLine);
    EXPECT_EQ(ticker.tickerPos, c.expectedPos);
}

INSTANTIATE_TEST_SUITE_P(
    Titles, ShowPlayerTitleTest,
    testing::Values(
        ShowCase{"PlaylistNumberAndPlayerNameGoTheBlankStays", "1. Artist - Song - Winamp", 7,
                 " Artist - Song", 0},
        ShowCase{"PausedTrackShowsLikeAPlayingOne", "123. Artist - Song - Winamp [Paused]", 0,
                 " Artist - Song", 0},
        ShowCase{"StoppedTrackShowsLikeAPlayingOne", "9999. Song - Winamp [Stopped]", 0, " Song",
                 0},
        ShowCase{"DotInTheFirstFivePlacesCutsTheHeadEvenWithoutNumber", "Mr. Big - Song - Winamp",
                 0, " Big - Song", 0},
        ShowCase{"DotInSixthPlaceIsKept", "12345. Song", 0, "12345. Song", 0},
        ShowCase{"DotInFirstPlaceIsKept", ".Song", 0, ".Song", 0},
        ShowCase{"SuffixesAreTestedInOrderEachOnTheRest", "Song - Winamp [Stopped] - Winamp", 0,
                 "Song", 0},
        ShowCase{"EachSuffixIsDroppedOnlyOnce", "Song - Winamp - Winamp", 0, "Song - Winamp", 0},
        ShowCase{"EmptyTitleEmptiesTheLine", "", 5, "", 0},
        ShowCase{"ThirtyFiveCharactersStandStill", k35 + " - Winamp", 3, k35, 0},
        ShowCase{"ThirtySixCharactersScrollOneStep", k36, 0, k36.substr(1) + " *** " + "A", 1},
        ShowCase{"ScrollingResumesFromTheStoredPosition", k36, 9,
                 k36.substr(10) + " *** " + k36.substr(0, 10), 10},
        // 35 Cyrillic letters are 70 bytes, yet they fit.
        ShowCase{"CyrillicIsCountedInCharactersNotBytes", Repeat("Ж", 35), 4, Repeat("Ж", 35), 0},
        ShowCase{"CyrillicRotatesWholeLetters", "Б" + Repeat("Я", 35), 0,
                 Repeat("Я", 35) + " *** Б", 1},
        ShowCase{"CyrillicPlaylistDotIsFoundByCharacter", "Ё. Песня - Winamp", 0, " Песня", 0},
        ShowCase{"PositionFromAnEarlierLongerTitleRestartsUnrotated", k36, 45, k36 + " *** ", 0},
        ShowCase{"PositionAtTheTopOf32BitsWrapsSafely", k36,
                 std::numeric_limits<std::int32_t>::max(), k36 + " *** ", 0},
        ShowCase{"NegativePositionRestartsUnrotated", k36, -20, k36 + " *** ", 0}),
    [](const testing::TestParamInfo<ShowCase>& info) { return info.param.name; });

TEST(ShowPlayerTitle, ThirtySixCharactersWrapAfterPosition41SoTheStartShowsTwice) {
    PlayerTicker ticker;
    const std::string unrotated = k36 + " *** ";
    std::vector<std::int32_t> positions;
    std::vector<std::string> lines;
    for (int step = 0; step < 43; ++step) {
        lines.push_back(Step(ticker, k36));
        positions.push_back(ticker.tickerPos);
    }
    EXPECT_EQ(positions[0], 1);
    EXPECT_EQ(positions[40], 41);
    EXPECT_EQ(positions[41], 0);
    EXPECT_EQ(positions[42], 1);
    EXPECT_EQ(lines[40], unrotated);
    EXPECT_EQ(lines[41], unrotated);
    EXPECT_EQ(lines[42], lines[0]);
    EXPECT_EQ(ticker.playerTitle, unrotated);
}

TEST(ShowPlayerTitle, TitleShrinkingBelowThirtySixWhileScrollingResetsThePosition) {
    PlayerTicker ticker;
    for (int step = 0; step < 12; ++step) {
        ShowPlayerTitle(ticker, k36);
    }
    ASSERT_EQ(ticker.tickerPos, 12);
    EXPECT_EQ(Step(ticker, "Short"), "Short");
    EXPECT_EQ(ticker.tickerPos, 0);
    EXPECT_EQ(Step(ticker, k36), k36.substr(1) + " *** A");
}

TEST(ShowPlayerTitle, EveryRotationOfACyrillicTitleIsValidTextOfTheSameLength) {
    PlayerTicker ticker;
    const std::string title = "Кино - Группа крови (концертная запись)";
    const std::size_t length = CodePoints(title) + 5;
    for (std::size_t step = 0; step <= length + 1; ++step) {
        const std::string line = Step(ticker, title);
        EXPECT_EQ(EncodeUtf8(DecodeUtf8(line)), line);
        EXPECT_EQ(CodePoints(line), length);
        EXPECT_EQ(line.find("\xEF\xBF\xBD"), std::string::npos);
    }
}

TEST(ShowPlayerTitle, AHundredThousandCharacterTitleScrollsOneCharacterPerStep) {
    PlayerTicker ticker;
    const std::string title = Repeat("Ж", 40) + "Я" + Repeat("Ф", 99959);
    std::string line;
    for (int step = 0; step < 40; ++step) {
        line = Step(ticker, title);
    }
    EXPECT_EQ(ticker.tickerPos, 40);
    EXPECT_EQ(CodePoints(ticker.playerTitle), 100005u);
    EXPECT_EQ(line, "Я" + Repeat("Ф", TickerLine::kShownCharacters - 1));
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::u32string expected;
};

class DecodeUtf8Test : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8Test, TurnsEachBrokenByteIntoOneReplacementCharacter) {
    EXPECT_EQ(DecodeUtf8(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, DecodeUtf8Test,
    testing::Values(DecodeCase{"Cyrillic", "Яд", U"Яд"},
                    DecodeCase{"CutLetterAtTheEnd", "a\xD0", U"a\uFFFD"},
                    DecodeCase{"LeadByteDoesNotSwallowTheNextLetter", "\xD0Я", U"\uFFFDЯ"},
                    DecodeCase{"OverlongSlash", "\xC0\xAF", U"\uFFFD\uFFFD"},
                    DecodeCase{"CodeZeroIsACharacter", std::string("a\0b", 3),
                               std::u32string(U"a\0b", 3)}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return info.param.name; });

TEST(TickerStep, DoesNothingWhilePaused) {
    test::FakePlatform platform;
    platform.playerTitle = "1. A - Winamp";
    PlayerTicker ticker;
    EXPECT_FALSE(TickerStep(ticker, true, platform));
    EXPECT_EQ(platform.playerTitleReads, 0);
    EXPECT_EQ(ticker.playerTitle, "");
}

TEST(TickerStep, WithoutAPlayerLeavesTheLineAndThePositionAlone) {
    test::FakePlatform platform;
    PlayerTicker ticker;
    ticker.tickerPos = 17;
    ticker.playerTitle = "kept";
    EXPECT_FALSE(TickerStep(ticker, false, platform));
    EXPECT_EQ(platform.playerTitleReads, 1);
    EXPECT_EQ(ticker.tickerPos, 17);
    EXPECT_EQ(ticker.playerTitle, "kept");
}

TEST(TickerStep, ReadsTheFoundPlayersTitle) {
    test::FakePlatform platform;
    platform.playerTitle = "1. A - B - Winamp";
    PlayerTicker ticker;
    EXPECT_TRUE(TickerStep(ticker, false, platform));
    EXPECT_EQ(Shown(ticker), " A - B");
}

// A title that shrank while it was read arrives padded with code 0; it is shown, not cut.
TEST(TickerStep, ShowsCodeZeroOfAShrunkTitleAsCharacters) {
    test::FakePlatform platform;
    platform.playerTitle = std::string("Song\0\0", 6);
    PlayerTicker ticker;
    EXPECT_TRUE(TickerStep(ticker, false, platform));
    EXPECT_EQ(Shown(ticker), std::string("Song\0\0", 6));
}

}  // namespace
}  // namespace kv
