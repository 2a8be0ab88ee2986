// The settings reader on arbitrary bytes, and the writer on whatever the reader produced.
#include <cmath>
#include <optional>

#include "common/number_format.h"
#include "fuzz_check.h"
#include "shell/settings_file.h"

namespace {

using kv::fuzz::Escape;

void CheckUsable(const kv::StoredSettings& s, std::string_view from) {
    const float floats[] = {s.moneyLimit, s.tariffPerMb, s.mainLeft, s.mainTop};
    for (float f : floats) {
        KV_FUZZ_CHECK(std::isfinite(f), "non-finite value from '%s'", Escape(from).c_str());
    }
    KV_FUZZ_CHECK(s.tariffPerMb > 0, "tariff %.9g from '%s'", double(s.tariffPerMb),
                  Escape(from).c_str());
    KV_FUZZ_CHECK(s.adapterIndex >= -1, "adapter %d from '%s'", s.adapterIndex,
                  Escape(from).c_str());
    KV_FUZZ_CHECK(s.presentLines >= 0 && s.presentLines <= kv::kSettingsLineCount,
                  "%d lines from '%s'", s.presentLines, Escape(from).c_str());
}

// Ten CR LF lines of numbers and choices, nothing else.
void CheckWritten(const std::string& text) {
    int lines = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        KV_FUZZ_CHECK(end != std::string::npos, "unterminated line in '%s'", Escape(text).c_str());
        const std::string_view line(text.data() + start, end - start);
        ++lines;
        KV_FUZZ_CHECK(!line.empty() && line.size() <= 14, "line %d '%s'", lines,
                      Escape(line).c_str());
        if (lines <= 7) {
            KV_FUZZ_CHECK(kv::ParseDecimal(line).has_value(), "line %d '%s' is not a number", lines,
                          Escape(line).c_str());
        } else {
            KV_FUZZ_CHECK(line == "0" || line == "1", "line %d '%s'", lines, Escape(line).c_str());
        }
        start = end + 2;
    }
    KV_FUZZ_CHECK(lines == kv::kSettingsLineCount, "%d lines in '%s'", lines, Escape(text).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const kv::StoredSettings read = kv::ParseSettings(bytes);
    CheckUsable(read, bytes);

    const std::string first = kv::SerializeSettings(read);
    CheckWritten(first);
    const kv::StoredSettings reread = kv::ParseSettings(first);
    CheckUsable(reread, first);
    KV_FUZZ_CHECK(reread.presentLines == kv::kSettingsLineCount, "'%s'", Escape(first).c_str());
    // Every line the writer produced must be taken, not replaced by a default.
    KV_FUZZ_CHECK(reread.onTop && reread.indicatorEnabled && reread.playerLineShown, "'%s'",
                  Escape(first).c_str());
    KV_FUZZ_CHECK(reread.adapterIndex == read.adapterIndex, "adapter %d became %d",
                  read.adapterIndex, reread.adapterIndex);
    KV_FUZZ_CHECK(*reread.onTop == read.onTop.value_or(false) &&
                      *reread.indicatorEnabled == read.indicatorEnabled.value_or(false) &&
                      *reread.playerLineShown == read.playerLineShown.value_or(true),
                  "a choice changed through '%s'", Escape(first).c_str());

    const std::string second = kv::SerializeSettings(reread);
    KV_FUZZ_CHECK(second == first, "saved '%s', read back and saved '%s' (from '%s')",
                  Escape(first).c_str(), Escape(second).c_str(), Escape(bytes).c_str());
    return 0;
}
