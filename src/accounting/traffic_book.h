#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>

#include "stats/traf_meter.h"

namespace kv {

// Byte totals per interface, known by the interface's own number rather than its table row, so
// that interfaces coming and going elsewhere never disturb the one being paid for.
class TrafficBook {
  public:
    struct Totals {
        double sent = 0;
        double received = 0;
    };

    // Reads every row's counters. A counter below the previous reading of the same interface
    // number wrapped at 2^32; a number not seen before starts from its counter. Returns the final
    // totals of the charged interface when it left the table (it is then charged no more).
    std::optional<Totals> Observe(const TrafMeter& meter);

    Totals Of(std::uint32_t index) const;

    // Bytes moved since the previous accounting tick; 0 when that tick did not read the interface.
    double SpeedOf(std::uint32_t index) const;
    // Marks the end of an accounting tick: the next tick measures speeds from here.
    void EndTick();
    // Waiting ticks measure nothing: the next accounting tick shows no speed.
    void ForgetTicks();

    // The interface whose traffic the money figures count.
    void Charge(std::uint32_t index) { charged_ = index; }
    std::optional<std::uint32_t> Charged() const { return charged_; }
    // After the balance was carried over, the charged interface's totals start again from zero.
    void ResetCharged();

  private:
    struct Entry {
        std::uint32_t lastSent = 0;
        std::uint32_t lastReceived = 0;
        Totals totals;
        Totals atLastTick;
        bool ticked = false;
        std::uint64_t seen = 0;
    };

    std::unordered_map<std::uint32_t, Entry> entries_;
    std::optional<std::uint32_t> charged_;
    std::uint64_t generation_ = 0;
};

// Megabytes of a total as the readouts count them: each direction in 32 bits, then their sum.
float UsedMb(const TrafficBook::Totals& totals);

}  // namespace kv
