#pragma once

#include <cstdint>
#include <string>

namespace kv {

// The indicator's player-title state. It outlives the indicator window: unloading the window
// keeps the scroll position.
class PlayerTicker {
  public:
    std::string playerTitle;
    std::string tickerText;
    std::int32_t tickerPos = 0;
};

}  // namespace kv
