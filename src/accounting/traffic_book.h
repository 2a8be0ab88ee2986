#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "stats/traf_meter.h"

namespace kv {

// Byte totals per interface. An interface is its number together with its description: other
// interfaces coming and going never disturb the one being paid for, and a number that another
// interface takes over is a new interface, never the old one's continuation.
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
        std::uint64_t sent = 0;
        std::uint64_t received = 0;
        bool operator==(const PaidMark&) const = default;
    };

    // The charged interface as counted: what it used since its last carry-over and the counter
    // readings that total was taken at.
    struct Session {
        std::uint32_t index = 0;
        std::string description;
        Totals totals;
        std::uint64_t sent = 0;
        std::uint64_t received = 0;
        bool operator==(const Session&) const = default;
    };

    // Reads every row's counters. A counter below the previous reading of the same interface was
    // restarted from zero, unless it is one of 32 bits that wrapped: that is a step of less than
    // 2^31 bytes. An interface not seen before starts from its counter. The charged interface
    // leaving the table is charged no more: its totals become unpaid.
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
    std::optional<Session> ChargedSession() const;
    // After the balance was carried over, the charged interface's totals start again from zero
    // and its current readings become its paid mark.
    void ResetCharged();

    // Traffic of charged interfaces that left the table before it was paid for.
    Totals Unpaid() const { return unpaid_; }
    void AddUnpaid(Totals totals);
    void ClearUnpaid();

    // Within one boot a mark follows its interface number, through a change of alias. The
    // interface counts what its counters moved since the mark; a counter below the mark was
    // restarted, and everything it shows is new. False, dropping the mark, when the number is
    // gone or another interface has it.
    bool ResumeFrom(const PaidMark& mark);
    // The session goes on when its interface is there with counters not below the session's
    // readings; false otherwise, and then its totals are the caller's to charge.
    bool ResumeSession(const Session& session);
    // Everything the counters of the table show now counts as paid: what a lost record leaves,
    // so that it can only forget traffic, never charge it twice.
    void MarkAllPaid();
    // The marks of the interfaces still in the table, by number.
    std::vector<PaidMark> PaidMarks() const;
    // Changes whenever the unpaid traffic or the set of paid marks does.
    std::uint64_t PaidRevision() const { return paidRevision_; }

  private:
    struct Entry {
        std::string description;
        std::uint64_t lastSent = 0;
        std::uint64_t lastReceived = 0;
        Totals totals;
        Totals atLastTick;
        bool ticked = false;
        std::uint64_t seen = 0;
        std::optional<PaidMark> paid;
    };

    // The entry under the number when it names the same interface; null otherwise.
    Entry* Named(std::uint32_t index, const std::string& description);
    // Its charged traffic becomes unpaid and its mark is forgotten.
    void Forget(std::uint32_t index, const Entry& entry);

    std::unordered_map<std::uint32_t, Entry> entries_;
    std::optional<std::uint32_t> charged_;
    Totals unpaid_;
    std::uint64_t generation_ = 0;
    std::uint64_t paidRevision_ = 0;
};

// Whether `now` names the interface that `before` named under the same number: the same text, or
// the same name with another alias ("eth0" and "eth0 (uplink)").
bool SameInterfaceName(const std::string& before, const std::string& now);

// A reading of which a record kept only the low 32 bits, placed as the latest value with those
// bits not above the counter now: at most 4 GiB before it, as a 32-bit count would have taken it.
std::uint64_t WidenedReading(std::uint64_t low32, std::uint64_t now);

// Megabytes of a total as the readouts count them: each direction in 32 bits, then their sum.
float UsedMb(const TrafficBook::Totals& totals);

}  // namespace kv
