#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "accounting/traffic_book.h"

namespace kv {

// The money journal, kept beside data.dat (whose ten lines stay as they are). Everything in it
// is valid only within the boot it was written in, except what is owed: the counter readings of
// each interface at its last carry-over, the charged interface's session as last counted, and
// the limit the last change made by the program left, which data.dat may not show yet.
struct PaidRecord {
    // A change of the money limit: data.dat showing `before` has not been told of it yet.
    struct LimitChange {
        float before = 0;
        float after = 0;
        bool operator==(const LimitChange&) const = default;
    };
    struct CountedSession {
        TrafficBook::Session session;
        std::int64_t savedAt = 0;  // seconds since 1970, UTC
        bool operator==(const CountedSession&) const = default;
    };

    std::string bootId;
    std::vector<TrafficBook::PaidMark> marks;
    // Traffic of sessions that ended and could not be priced yet.
    TrafficBook::Totals unpaid;
    // Roubles counted but not yet taken off the limit: less than a kopeck either way.
    double owed = 0;
    std::optional<LimitChange> limit;
    // The receipt line of that change, to append once should the run that made it have stopped
    // before it did.
    std::string receipt;
    // The description of the interface the user chose, kept while its link is away.
    std::string watched;
    std::optional<CountedSession> session;
    // The earlier formats kept only the low 32 bits of each counter reading.
    bool lowReadings = false;
    bool operator==(const PaidRecord&) const = default;
};

// The file beside the given data.dat.
QString PaidRecordPath(const QString& settingsPath);

// A few short lines; descriptions are percent-encoded so that no name can break a line.
std::string SerializePaidRecord(const PaidRecord& record);
// Nothing for a text SerializePaidRecord could not have written, a cut one included; the two
// earlier formats (the first held marks and unpaid traffic only) are read as well.
std::optional<PaidRecord> ParsePaidRecord(std::string_view text);

struct LoadedPaidRecord {
    enum class Status { kAbsent, kRead, kDamaged };
    Status status = Status::kAbsent;
    PaidRecord record;
};
LoadedPaidRecord LoadPaidRecord(const QString& path);
// Atomic, as data.dat.
bool SavePaidRecord(const QString& path, const PaidRecord& record);
// Keeps a damaged file for a person to look at, out of the program's way.
void SetDamagedRecordAside(const QString& path);

}  // namespace kv
