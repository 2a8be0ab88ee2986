#include "accounting/money.h"

#include <cmath>

#include "common/number_format.h"

namespace kv {

namespace {

bool UsableTariff(float tariffPerMb) {
    return std::isfinite(tariffPerMb) && tariffPerMb > 0;
}

std::optional<float> Finite(double value) {
    const auto narrowed = float(value);
    if (!std::isfinite(narrowed)) {
        return std::nullopt;
    }
    return narrowed;
}

}  // namespace

std::optional<float> TrafficLimitMb(float moneyLimit, float tariffPerMb) {
    if (!UsableTariff(tariffPerMb)) {
        return std::nullopt;
    }
    return Finite(moneyLimit / tariffPerMb);
}

std::optional<float> TrafficLeftMb(float moneyLimit, float tariffPerMb, float usedMb) {
    if (!UsableTariff(tariffPerMb)) {
        return std::nullopt;
    }
    return Finite(double(moneyLimit) / tariffPerMb - usedMb);
}

std::optional<float> MoneyLeft(float moneyLimit, float tariffPerMb, float usedMb) {
    if (!UsableTariff(tariffPerMb)) {
        return std::nullopt;
    }
    const double tariff = tariffPerMb;
    return Finite((double(moneyLimit) / tariff - usedMb) * tariff);
}

std::optional<CarriedBalance> CarryOverBalance(float moneyLimit, float tariffPerMb, float usedMb) {
    const std::optional<float> left = MoneyLeft(moneyLimit, tariffPerMb, usedMb);
    if (!left) {
        return std::nullopt;
    }
    std::string text = FormatPattern(*left, patterns::kPlain);
    const std::optional<float> value = ParseSingle(text);
    if (!value) {
        return std::nullopt;
    }
    return CarriedBalance{*value, std::move(text)};
}

std::optional<KopeckCharge> ChargeInKopecks(float moneyLimit, float tariffPerMb, float usedMb,
                                            double owed) {
    if (!UsableTariff(tariffPerMb)) {
        return std::nullopt;
    }
    const double cost = double(usedMb) * double(tariffPerMb) + owed;
    const double charge = std::nearbyint(cost * 100) / 100;
    std::string text = FormatPattern(double(moneyLimit) - charge, patterns::kPlain);
    const std::optional<float> value = ParseSingle(text);
    if (!value || !std::isfinite(cost)) {
        return std::nullopt;
    }
    // What the limit really lost, its own rounding included.
    const double taken = double(moneyLimit) - double(*value);
    return KopeckCharge{{*value, std::move(text)}, cost - taken};
}

}  // namespace kv
