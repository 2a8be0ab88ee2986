// The money journal's reader on arbitrary bytes, and the writer on whatever the reader took.
#include <cmath>

#include "fuzz_check.h"
#include "shell/paid_file.h"

namespace {

using kv::fuzz::Escape;

// What start-up does with a record must stay within what a real run could have written.
void CheckUsable(const kv::PaidRecord& r, std::string_view from) {
    KV_FUZZ_CHECK(std::isfinite(r.owed) && std::fabs(r.owed) <= 1, "owed %.17g from '%s'", r.owed,
                  Escape(from).c_str());
    KV_FUZZ_CHECK(!r.limit || (std::isfinite(r.limit->before) && std::isfinite(r.limit->after)),
                  "limit from '%s'", Escape(from).c_str());
    KV_FUZZ_CHECK(r.unpaid.sent >= 0 && r.unpaid.received >= 0 && r.unpaid.sent <= 0x1p53 &&
                      r.unpaid.received <= 0x1p53,
                  "unpaid from '%s'", Escape(from).c_str());
    KV_FUZZ_CHECK(r.marks.size() <= 256, "%zu marks from '%s'", r.marks.size(),
                  Escape(from).c_str());
    for (std::size_t i = 0; i < r.marks.size(); ++i) {
        for (std::size_t j = i + 1; j < r.marks.size(); ++j) {
            KV_FUZZ_CHECK(r.marks[i].index != r.marks[j].index, "number %u twice from '%s'",
                          r.marks[i].index, Escape(from).c_str());
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::optional<kv::PaidRecord> read = kv::ParsePaidRecord(bytes);
    if (!read) {
        return 0;
    }
    CheckUsable(*read, bytes);
    const std::string first = kv::SerializePaidRecord(*read);
    const std::optional<kv::PaidRecord> reread = kv::ParsePaidRecord(first);
    KV_FUZZ_CHECK(reread.has_value(), "its own text '%s' is refused (from '%s')",
                  Escape(first).c_str(), Escape(bytes).c_str());
    // Written always in the newest format, whose readings are whole.
    kv::PaidRecord expected = *read;
    expected.lowReadings = false;
    KV_FUZZ_CHECK(*reread == expected, "'%s' read back otherwise (from '%s')",
                  Escape(first).c_str(), Escape(bytes).c_str());
    // A cut anywhere is refused, never read as a shorter record.
    const std::size_t cut = size % first.size();
    if (cut > 0) {
        KV_FUZZ_CHECK(!kv::ParsePaidRecord(std::string_view(first).substr(0, cut)),
                      "'%s' cut at %zu was taken", Escape(first).c_str(), cut);
    }
    return 0;
}
