#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"
#include "ui/indicator/player_ticker.h"

namespace kv {

// The player's title line. Titles arrive as UTF-8 bytes, but every length and position below
// counts Unicode code points: a Cyrillic letter is two bytes, and counting bytes would cut it in
// half and put broken text into the line. Bytes that are not valid UTF-8 count as one
// U+FFFD each.

// Titles of at most this many characters stand still; longer ones scroll.
inline constexpr std::size_t kStillTitleMax = 35;
inline constexpr std::u32string_view kTickerSeparator = U" *** ";

std::u32string DecodeUtf8(std::string_view bytes);
std::string EncodeUtf8(std::u32string_view text);

// Drops the player's name and state behind the title and a playlist number in front of it.
std::u32string TrimPlayerTitle(std::u32string title);

// Takes a freshly read window title into the ticker state: the trimmed title standing still, or,
// when it is too long for that, the title with its separator one character further on. The line
// shows `playerTitle` turned by `tickerPos`.
void ShowPlayerTitle(PlayerTicker& ticker, std::string_view windowTitle);

// One step of the ticker; false when the line keeps its text (paused, or no player).
bool TickerStep(PlayerTicker& ticker, bool tickerPaused, Platform& platform);

}  // namespace kv
