#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

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

    std::int32_t ControllerCount() const { return std::int32_t(rows_.size()); }

    // Per-row reads; a position outside 0 .. ControllerCount() - 1 throws std::out_of_range.
    double BytesReceived(std::int32_t cController) const;
    double BytesSent(std::int32_t cController) const;
    const std::string& ControllerNames(std::int32_t cController) const;
    std::string MaxSpeed(std::int32_t cController) const;
    std::string MacAddr(std::int32_t cController) const;
    // The interface's own number: tells a wrapped counter from a recreated interface.
    std::uint32_t InterfaceIndex(std::int32_t cController) const;

  private:
    struct Row {
        std::int32_t received = 0;
        std::int32_t sent = 0;
        std::string description;
        std::int32_t speed = 0;
        std::uint8_t physAddr[8] = {};
        std::int32_t physAddrLen = 0;
        std::uint32_t index = 0;
    };

    static double UnsignedToDouble(std::int32_t value);
    const Row& At(std::int32_t cController) const;

    Platform& platform_;
    MessageBoxShower showBox_;
    std::vector<Row> rows_;
    std::vector<Row> next_;
    std::vector<std::uint8_t> buffer_;
};

}  // namespace kv
