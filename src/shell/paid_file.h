#pragma once

#include <QString>

#include <string>
#include <string_view>
#include <vector>

#include "accounting/traffic_book.h"

namespace kv {

// What has been paid for, kept beside data.dat (whose ten lines stay as they are): the counter
// readings of each interface at its last carry-over, valid only within the boot they were read
// in, and traffic that left the table while no tariff could price it.
struct PaidRecord {
    std::string bootId;
    std::vector<TrafficBook::PaidMark> marks;
    TrafficBook::Totals unpaid;
    bool operator==(const PaidRecord&) const = default;
};

// The file beside the given data.dat.
QString PaidRecordPath(const QString& settingsPath);

// A few short lines; the description is percent-encoded so that no name can break a line.
std::string SerializePaidRecord(const PaidRecord& record);
// Anything but a text SerializePaidRecord could have written gives an empty record: a damaged or
// hand-edited file can only make the program forget, never charge.
PaidRecord ParsePaidRecord(std::string_view text);

// An absent, unreadable or oversized file reads as an empty record.
PaidRecord LoadPaidRecord(const QString& path);
// Atomic, as data.dat; an empty record removes the file.
bool SavePaidRecord(const QString& path, const PaidRecord& record);

}  // namespace kv
