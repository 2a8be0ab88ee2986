#include "accounting/traffic_book.h"

namespace kv {

namespace {

constexpr double kCounterRange = 4294967296.0;
constexpr double kBytesPerMb = 1048576.0;

double Advance(std::uint32_t previous, std::uint32_t now) {
    return now >= previous ? double(now - previous) : double(now) + kCounterRange - previous;
}

}  // namespace

std::optional<TrafficBook::Totals> TrafficBook::Observe(const TrafMeter& meter) {
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

    std::optional<Totals> chargedGone;
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->second.seen == generation_) {
            ++it;
            continue;
        }
        if (charged_ == it->first) {
            chargedGone = it->second.totals;
            charged_.reset();
        }
        it = entries_.erase(it);
    }
    return chargedGone;
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

void TrafficBook::ResetCharged() {
    if (!charged_) {
        return;
    }
    const auto it = entries_.find(*charged_);
    if (it != entries_.end()) {
        it->second.totals = {};
        it->second.atLastTick = {};
    }
}

float UsedMb(const TrafficBook::Totals& totals) {
    const auto sentMb = float(totals.sent / kBytesPerMb);
    const auto receivedMb = float(totals.received / kBytesPerMb);
    return receivedMb + sentMb;
}

}  // namespace kv
