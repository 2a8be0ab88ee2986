#pragma once

#include <cstdint>
#include <string>

namespace kv {

// The indicator's player-title state. It outlives the indicator window: unloading the window
// keeps the scroll position.
class PlayerTicker {
  public:
    // The trimmed title, with the separator when it scrolls (UTF-8).
    std::string playerTitle;
    std::int32_t tickerPos = 0;
};

}  // namespace kv
