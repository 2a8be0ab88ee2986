#include "stats/traf_meter.h"

#include <stdexcept>

namespace kv {

void TrafMeter::GetIPStats() {
    switch (platform_.ReadInterfaceTable(next_)) {
        case TableRead::kRead:
            std::swap(table_, next_);
            break;
        case TableRead::kNotSupported:
            if (showBox_) {
                // Spelt as users have always seen it; do not correct.
                showBox_("ОС не поодерживает требуемые функции.");
            }
            break;
        case TableRead::kFailed:
            break;
    }
}

const InterfaceRow& TrafMeter::At(std::int32_t cController) const {
    if (cController < 0 || cController >= ControllerCount()) {
        throw std::out_of_range("interface row " + std::to_string(cController) + " of " +
                                std::to_string(ControllerCount()));
    }
    return table_.rows[std::size_t(cController)];
}

double TrafMeter::BytesReceived(std::int32_t cController) const {
    return double(std::uint32_t(At(cController).received));
}

double TrafMeter::BytesSent(std::int32_t cController) const {
    return double(std::uint32_t(At(cController).sent));
}

std::uint64_t TrafMeter::ReceivedCounter(std::int32_t cController) const {
    return At(cController).received;
}

std::uint64_t TrafMeter::SentCounter(std::int32_t cController) const {
    return At(cController).sent;
}

const std::string& TrafMeter::ControllerNames(std::int32_t cController) const {
    return At(cController).description;
}

std::string TrafMeter::MaxSpeed(std::int32_t cController) const {
    return std::to_string(std::int32_t(At(cController).speed));
}

std::string TrafMeter::MacAddr(std::int32_t cController) const {
    const InterfaceRow& row = At(cController);
    if (row.addressLength == 0) {
        return "00-00-00-00-00-00";
    }
    // Built without Qt: the Windows tests run this layer where there is no Qt.
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < row.addressLength && i < row.address.size(); ++i) {
        if (i > 0) {
            text += '-';
        }
        text += kDigits[row.address[i] >> 4];
        text += kDigits[row.address[i] & 15];
    }
    return text;
}

std::uint32_t TrafMeter::InterfaceIndex(std::int32_t cController) const {
    return At(cController).index;
}

}  // namespace kv
