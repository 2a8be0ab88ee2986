#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "stats/traf_meter.h"

namespace kv {

// Byte totals per interface, known by the interface's own number rather than its table row, so
// that interfaces coming and going elsewhere never disturb the one being paid for.
class TrafficBook {
  public:
    struct Totals {
        double sent = 0;
        double received = 0;
        bool operator==(const Totals&) const = default;
    };

    // Counter readings up to which an interface's traffic has been paid for, kept across restarts
    // so that a link that stays up is not charged again for what left the limit already.
    struct PaidMark {
        std::uint32_t index = 0;
        std::string description;
        std::uint32_t sent = 0;
        std::uint32_t received = 0;
        bool operator==(const PaidMark&) const = default;
    };

    // Reads every row's counters. A counter below the previous reading of the same interface
    // number wrapped at 2^32 when that implies less than 2^31 bytes in one step, and otherwise
    // restarted from zero; a number not seen before starts from its counter. The charged
    // interface leaving the table is charged no more: its totals become unpaid.
    void Observe(const TrafMeter& meter);

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
    // After the balance was carried over, the charged interface's totals start again from zero
    // and its current readings become its paid mark.
    void ResetCharged(std::string description);

    // Traffic of charged interfaces that left the table before it was paid for.
    Totals Unpaid() const { return unpaid_; }
    void AddUnpaid(Totals totals);
    void ClearUnpaid();

    // An interface of the first table read that has the mark's number and description counts only
    // what its counters moved since the mark; returns false, dropping the mark, otherwise.
    bool ResumeFrom(const PaidMark& mark, const TrafMeter& meter);
    // The marks of the interfaces still in the table, by number.
    std::vector<PaidMark> PaidMarks() const;
    // Changes whenever the unpaid traffic or the set of paid marks does.
    std::uint64_t PaidRevision() const { return paidRevision_; }

  private:
    struct Entry {
        std::uint32_t lastSent = 0;
        std::uint32_t lastReceived = 0;
        Totals totals;
        Totals atLastTick;
        bool ticked = false;
        std::uint64_t seen = 0;
        std::optional<PaidMark> paid;
    };

    std::unordered_map<std::uint32_t, Entry> entries_;
    std::optional<std::uint32_t> charged_;
    Totals unpaid_;
    std::uint64_t generation_ = 0;
    std::uint64_t paidRevision_ = 0;
};

// Megabytes of a total as the readouts count them: each direction in 32 bits, then their sum.
float UsedMb(const TrafficBook::Totals& totals);

}  // namespace kv
