#pragma once

#include <optional>
#include <string>

namespace kv {

// The money arithmetic of the readouts. A tariff that is not a positive finite number gives no
// figures at all rather than a division by zero.

// moneyLimit / tariffPerMb in 32 bits, as the traffic-limit labels show it.
std::optional<float> TrafficLimitMb(float moneyLimit, float tariffPerMb);

// moneyLimit / tariffPerMb - usedMb, computed in 64 bits and kept in 32.
std::optional<float> TrafficLeftMb(float moneyLimit, float tariffPerMb, float usedMb);

// (moneyLimit / tariffPerMb - usedMb) * tariffPerMb, computed in 64 bits and kept in 32.
std::optional<float> MoneyLeft(float moneyLimit, float tariffPerMb, float usedMb);

// The balance to carry forward: the money left rounded to two decimals exactly as it is shown,
// with its text ("###0.0#").
struct CarriedBalance {
    float moneyLimit;
    std::string text;
};
std::optional<CarriedBalance> CarryOverBalance(float moneyLimit, float tariffPerMb, float usedMb);

// An automatic carry-over: the cost of usedMb and what was owed before, taken off the limit in
// whole kopecks. What the kopecks leave over, either way, stays owed for the next one, so that
// small sessions are neither rounded away nor each charged a kopeck.
struct KopeckCharge {
    CarriedBalance balance;
    double owed;
};
std::optional<KopeckCharge> ChargeInKopecks(float moneyLimit, float tariffPerMb, float usedMb,
                                            double owed);

}  // namespace kv
