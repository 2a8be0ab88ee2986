#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace kv {

// A snapshot of the system's interface table, read by 0-based row position. Each GetIPStats
// either replaces the whole snapshot or leaves it exactly as it was.
class TrafMeter {
  public:
    explicit TrafMeter(Platform& platform) : platform_(platform) {}

    void GetIPStats();

    // Shows the reader's critical message box; the owner holds what runs on timers until the box
    // is closed.
    using MessageBoxShower = std::function<void(const std::string& text)>;
    void SetMessageBoxShower(MessageBoxShower show) { showBox_ = std::move(show); }

    std::int32_t ControllerCount() const { return std::int32_t(table_.rows.size()); }

    // Per-row reads; a position outside 0 .. ControllerCount() - 1 throws std::out_of_range.
    // The readouts' counters: 0 to 4294967295, the low 32 bits of what the system keeps.
    double BytesReceived(std::int32_t cController) const;
    double BytesSent(std::int32_t cController) const;
    const std::string& ControllerNames(std::int32_t cController) const;
    std::string MaxSpeed(std::int32_t cController) const;
    std::string MacAddr(std::int32_t cController) const;
    // The interface's own number: tells a wrapped counter from a recreated interface.
    std::uint32_t InterfaceIndex(std::int32_t cController) const;
    // The counters whole, for counting: they wrap at 2^CounterBits().
    std::uint64_t ReceivedCounter(std::int32_t cController) const;
    std::uint64_t SentCounter(std::int32_t cController) const;
    int CounterBits() const { return table_.counterBits; }

  private:
    const InterfaceRow& At(std::int32_t cController) const;

    Platform& platform_;
    MessageBoxShower showBox_;
    InterfaceTable table_;
    InterfaceTable next_;
};

}  // namespace kv
