#include "stats/traf_meter.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/iftable_layout.h"
#include "platform/win_errors.h"

namespace kv {

namespace {

// No real table comes near this; a larger answer is a broken source, not a big machine.
constexpr std::uint32_t kMaxTableSize = iftable::TableSize(1u << 16);

}  // namespace

void TrafMeter::GetIPStats() {
    std::uint32_t size = 0;
    const std::uint32_t query = platform_.GetIfTable(nullptr, &size, false);
    if (query == win::kErrorNotSupported) {
        // Spelt as users have always seen it; do not correct.
        static constexpr char kNotSupported[] = "ОС не поодерживает требуемые функции.";
        if (showBox_) {
            showBox_(kNotSupported);
        }
        return;
    }
    if (size < iftable::kHeaderSize || size > kMaxTableSize) {
        return;
    }
    buffer_.assign(size, 0);
    if (platform_.GetIfTable(buffer_.data(), &size, false) != win::kNoError) {
        return;
    }
    size = std::min<std::uint32_t>(size, std::uint32_t(buffer_.size()));
    const std::uint32_t count = iftable::ReadU32(buffer_.data());
    if (size < iftable::kHeaderSize || count > (size - iftable::kHeaderSize) / iftable::kRowSize) {
        return;
    }

    next_.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint8_t* row = buffer_.data() + iftable::RowOffset(i);
        Row& out = next_[i];
        out.received = std::int32_t(iftable::ReadU32(row + iftable::kInOctetsOffset));
        out.sent = std::int32_t(iftable::ReadU32(row + iftable::kOutOctetsOffset));
        const std::uint32_t descrLen = iftable::ReadU32(row + iftable::kDescrLenOffset);
        const auto* descr = reinterpret_cast<const char*>(row + iftable::kDescrOffset);
        out.description.assign(descr, std::min<std::size_t>(descrLen, iftable::kDescrSize));
        out.speed = std::int32_t(iftable::ReadU32(row + iftable::kSpeedOffset));
        out.physAddrLen = std::int32_t(iftable::ReadU32(row + iftable::kPhysAddrLenOffset));
        std::copy_n(row + iftable::kPhysAddrOffset, iftable::kPhysAddrSize, out.physAddr);
        out.index = iftable::ReadU32(row + iftable::kIndexOffset);
    }
    rows_.swap(next_);
}

double TrafMeter::UnsignedToDouble(std::int32_t value) {
    return value < 0 ? (double(value) + 1) + 4294967295.0 : double(value);
}

const TrafMeter::Row& TrafMeter::At(std::int32_t cController) const {
    if (cController < 0 || cController >= ControllerCount()) {
        throw std::out_of_range("interface row " + std::to_string(cController) + " of " +
                                std::to_string(ControllerCount()));
    }
    return rows_[std::size_t(cController)];
}

double TrafMeter::BytesReceived(std::int32_t cController) const {
    return UnsignedToDouble(At(cController).received);
}

double TrafMeter::BytesSent(std::int32_t cController) const {
    return UnsignedToDouble(At(cController).sent);
}

const std::string& TrafMeter::ControllerNames(std::int32_t cController) const {
    return At(cController).description;
}

std::string TrafMeter::MaxSpeed(std::int32_t cController) const {
    return std::to_string(At(cController).speed);
}

std::string TrafMeter::MacAddr(std::int32_t cController) const {
    const Row& row = At(cController);
    if (row.physAddrLen <= 0) {
        return "00-00-00-00-00-00";
    }
    // Windows never reports more than the field holds; a larger length reads the whole field.
    const int len = std::min<int>(row.physAddrLen, int(iftable::kPhysAddrSize));
    std::string text;
    for (int i = 0; i < len; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X", row.physAddr[i]);
        if (i > 0) {
            text += '-';
        }
        text += hex;
    }
    return text;
}

std::uint32_t TrafMeter::InterfaceIndex(std::int32_t cController) const {
    return At(cController).index;
}

}  // namespace kv
