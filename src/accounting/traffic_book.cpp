#include "accounting/traffic_book.h"

#include <algorithm>

#include "common/units.h"

namespace kv {

namespace {

// Past this, a lower reading is no wrap: no link moves 2 GiB in one step of the timers, but a
// driver that resets its statistics without recreating the interface does step back.
constexpr std::uint32_t kLargestWrapStep = 0x80000000u;

double Advance(std::uint32_t previous, std::uint32_t now) {
    if (now >= previous) {
        return double(now - previous);
    }
    const std::uint32_t wrapped = now - previous;  // modulo 2^32
    return wrapped < kLargestWrapStep ? double(wrapped) : double(now);
}

}  // namespace

void TrafficBook::Observe(const TrafMeter& meter) {
    ++generation_;
    const std::int32_t rows = meter.ControllerCount();
    for (std::int32_t row = 0; row < rows; ++row) {
        const std::uint32_t index = meter.InterfaceIndex(row);
        const auto sent = std::uint32_t(meter.BytesSent(row));
        const auto received = std::uint32_t(meter.BytesReceived(row));
        auto [it, added] = entries_.try_emplace(index);
        Entry& e = it->second;
        if (e.seen == generation_) {
            continue;  // a table naming one interface twice is read once
        }
        if (added) {
            e.totals = {double(sent), double(received)};
        } else {
            e.totals.sent += Advance(e.lastSent, sent);
            e.totals.received += Advance(e.lastReceived, received);
        }
        e.lastSent = sent;
        e.lastReceived = received;
        e.seen = generation_;
    }

    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.seen == generation_) {
            ++it;
            continue;
        }
        if (charged_ == it->first) {
            AddUnpaid(it->second.totals);
            charged_.reset();
        }
        if (it->second.paid) {
            ++paidRevision_;
        }
        it = entries_.erase(it);
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

void TrafficBook::ResetCharged(std::string description) {
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
    e.paid = PaidMark{*charged_, std::move(description), e.lastSent, e.lastReceived};
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

bool TrafficBook::ResumeFrom(const PaidMark& mark, const TrafMeter& meter) {
    const auto it = entries_.find(mark.index);
    if (it == entries_.end()) {
        return false;
    }
    for (std::int32_t row = 0; row < meter.ControllerCount(); ++row) {
        if (meter.InterfaceIndex(row) == mark.index) {
            if (meter.ControllerNames(row) != mark.description) {
                return false;
            }
            Entry& e = it->second;
            e.totals = {Advance(mark.sent, e.lastSent), Advance(mark.received, e.lastReceived)};
            e.atLastTick = {};
            e.paid = mark;
            ++paidRevision_;
            return true;
        }
    }
    return false;
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

float UsedMb(const TrafficBook::Totals& totals) {
    const auto sentMb = float(totals.sent / kBytesPerMb);
    const auto receivedMb = float(totals.received / kBytesPerMb);
    return receivedMb + sentMb;
}

}  // namespace kv
