#include "accounting/traffic_book.h"

#include <algorithm>

#include "common/units.h"

namespace kv {

namespace {

// Past this, a lower reading of a 32-bit counter is no wrap: no link moves 2 GiB in one step of
// the timers, but a driver that resets its statistics without recreating the interface does
// step back. A 64-bit counter never wraps, so any lower reading is such a reset.
constexpr std::uint32_t kLargestWrapStep = 0x80000000u;

double Advance(std::uint64_t previous, std::uint64_t now, int counterBits) {
    if (now >= previous) {
        return double(now - previous);
    }
    const auto wrapped = std::uint32_t(now - previous);  // modulo 2^32
    return counterBits <= 32 && wrapped < kLargestWrapStep ? double(wrapped) : double(now);
}

std::string_view NamePart(std::string_view description) {
    return description.substr(0, description.find(" ("));
}

}  // namespace

bool SameInterfaceName(const std::string& before, const std::string& now) {
    return before == now || NamePart(before) == NamePart(now);
}

void TrafficBook::Observe(const TrafMeter& meter) {
    ++generation_;
    const std::int32_t rows = meter.ControllerCount();
    for (std::int32_t row = 0; row < rows; ++row) {
        const std::uint32_t index = meter.InterfaceIndex(row);
        const std::string& description = meter.ControllerNames(row);
        const std::uint64_t sent = meter.SentCounter(row);
        const std::uint64_t received = meter.ReceivedCounter(row);
        auto [it, added] = entries_.try_emplace(index);
        Entry& e = it->second;
        if (e.seen == generation_) {
            continue;  // a table naming one interface twice is read once
        }
        if (!added && e.description != description) {
            // An alias set on a running link keeps its counters going; anything else under the
            // number is another interface.
            const bool renamed = SameInterfaceName(e.description, description) &&
                                 sent >= e.lastSent && received >= e.lastReceived;
            if (renamed) {
                if (e.paid) {
                    e.paid->description = description;
                    ++paidRevision_;
                }
            } else {
                Forget(index, e);
                e = Entry{};
                added = true;
            }
        }
        if (added) {
            e.totals = {double(sent), double(received)};
        } else {
            e.totals.sent += Advance(e.lastSent, sent, meter.CounterBits());
            e.totals.received += Advance(e.lastReceived, received, meter.CounterBits());
        }
        e.description = description;
        e.lastSent = sent;
        e.lastReceived = received;
        e.seen = generation_;
    }

    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.seen == generation_) {
            ++it;
            continue;
        }
        Forget(it->first, it->second);
        it = entries_.erase(it);
    }
}

void TrafficBook::Forget(std::uint32_t index, const Entry& entry) {
    if (charged_ == index) {
        AddUnpaid(entry.totals);
        charged_.reset();
    }
    if (entry.paid) {
        ++paidRevision_;
    }
}

TrafficBook::Totals TrafficBook::Of(std::uint32_t index) const {
    const auto it = entries_.find(index);
    return it == entries_.end() ? Totals{} : it->second.totals;
}

double TrafficBook::SpeedOf(std::uint32_t index) const {
    const auto it = entries_.find(index);
    if (it == entries_.end() || !it->second.ticked) {
        return 0;
    }
    const Entry& e = it->second;
    return (e.totals.received - e.atLastTick.received) + (e.totals.sent - e.atLastTick.sent);
}

void TrafficBook::EndTick() {
    for (auto& [index, e] : entries_) {
        e.atLastTick = e.totals;
        e.ticked = true;
    }
}

void TrafficBook::ForgetTicks() {
    for (auto& [index, e] : entries_) {
        e.ticked = false;
    }
}

std::optional<TrafficBook::Session> TrafficBook::ChargedSession() const {
    if (!charged_) {
        return std::nullopt;
    }
    const auto it = entries_.find(*charged_);
    if (it == entries_.end()) {
        return std::nullopt;
    }
    const Entry& e = it->second;
    return Session{*charged_, e.description, e.totals, e.lastSent, e.lastReceived};
}

void TrafficBook::ResetCharged() {
    if (!charged_) {
        return;
    }
    const auto it = entries_.find(*charged_);
    if (it == entries_.end()) {
        return;
    }
    Entry& e = it->second;
    e.totals = {};
    e.atLastTick = {};
    e.paid = PaidMark{*charged_, e.description, e.lastSent, e.lastReceived};
    ++paidRevision_;
}

void TrafficBook::AddUnpaid(Totals totals) {
    if (totals.sent == 0 && totals.received == 0) {
        return;
    }
    unpaid_.sent += totals.sent;
    unpaid_.received += totals.received;
    ++paidRevision_;
}

void TrafficBook::ClearUnpaid() {
    unpaid_ = {};
    ++paidRevision_;
}

TrafficBook::Entry* TrafficBook::Named(std::uint32_t index, const std::string& description) {
    const auto it = entries_.find(index);
    return it != entries_.end() && SameInterfaceName(description, it->second.description)
               ? &it->second
               : nullptr;
}

bool TrafficBook::ResumeFrom(const PaidMark& mark) {
    Entry* found = Named(mark.index, mark.description);
    if (found == nullptr) {
        return false;
    }
    Entry& e = *found;
    const bool counting = e.lastSent >= mark.sent && e.lastReceived >= mark.received;
    e.totals = counting
                   ? Totals{double(e.lastSent - mark.sent), double(e.lastReceived - mark.received)}
                   : Totals{double(e.lastSent), double(e.lastReceived)};
    e.atLastTick = {};
    e.paid = PaidMark{mark.index, e.description, mark.sent, mark.received};
    ++paidRevision_;
    return true;
}

bool TrafficBook::ResumeSession(const Session& session) {
    Entry* found = Named(session.index, session.description);
    if (found == nullptr) {
        return false;
    }
    Entry& e = *found;
    if (e.lastSent < session.sent || e.lastReceived < session.received) {
        return false;  // restarted: what it shows now is new traffic
    }
    e.totals = {session.totals.sent + double(e.lastSent - session.sent),
                session.totals.received + double(e.lastReceived - session.received)};
    e.atLastTick = {};
    charged_ = session.index;
    return true;
}

void TrafficBook::MarkAllPaid() {
    for (auto& [index, e] : entries_) {
        e.totals = {};
        e.atLastTick = {};
        e.paid = PaidMark{index, e.description, e.lastSent, e.lastReceived};
    }
    ++paidRevision_;
}

std::vector<TrafficBook::PaidMark> TrafficBook::PaidMarks() const {
    std::vector<PaidMark> marks;
    for (const auto& [index, e] : entries_) {
        if (e.paid) {
            marks.push_back(*e.paid);
        }
    }
    std::sort(marks.begin(), marks.end(),
              [](const PaidMark& a, const PaidMark& b) { return a.index < b.index; });
    return marks;
}

std::uint64_t WidenedReading(std::uint64_t low32, std::uint64_t now) {
    constexpr std::uint64_t kWrap = std::uint64_t(1) << 32;
    const std::uint64_t placed = now / kWrap * kWrap + low32 % kWrap;
    return placed > now && now >= kWrap ? placed - kWrap : placed;
}

float UsedMb(const TrafficBook::Totals& totals) {
    const auto sentMb = float(totals.sent / kBytesPerMb);
    const auto receivedMb = float(totals.received / kBytesPerMb);
    return receivedMb + sentMb;
}

}  // namespace kv
