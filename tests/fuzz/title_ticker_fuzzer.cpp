// The player title line on arbitrary title bytes, positions and window-text answers: what the
// indicator's line shows after each step.
#include <QApplication>
#include <algorithm>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "support/null_platform.h"
#include "ui/indicator/ticker_line.h"
#include "ui/indicator/title_ticker.h"

namespace {

using kv::fuzz::Escape;

// Well-formed UTF-8 as the standard defines it (no overlongs, surrogates or values past U+10FFFF).
bool ValidUtf8(std::string_view s, std::u32string* out = nullptr) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = [&](std::size_t k) { return std::uint8_t(s[i + k]); };
        std::size_t n;
        char32_t cp;
        if (b(0) < 0x80) {
            n = 1;
            cp = b(0);
        } else if (b(0) >= 0xC2 && b(0) <= 0xDF) {
            n = 2;
            cp = b(0) & 0x1F;
        } else if (b(0) >= 0xE0 && b(0) <= 0xEF) {
            n = 3;
            cp = b(0) & 0x0F;
        } else if (b(0) >= 0xF0 && b(0) <= 0xF4) {
            n = 4;
            cp = b(0) & 0x07;
        } else
            return false;
        if (i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k) {
            if ((b(k) & 0xC0) != 0x80)
                return false;
            cp = cp << 6 | (b(k) & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        if (out)
            out->push_back(cp);
        i += n;
    }
    return true;
}

std::u32string Trim(std::u32string t) {
    for (std::u32string_view suffix :
         {U" - Winamp", U" - Winamp [Paused]", U" - Winamp [Stopped]"}) {
        if (t.size() >= suffix.size() &&
            t.compare(t.size() - suffix.size(), suffix.size(), suffix) == 0) {
            t.resize(t.size() - suffix.size());
        }
    }
    for (std::size_t k = 2; k <= 5; ++k) {  // positions counted from 1
        if (t.size() >= k && t[k - 1] == U'.') {
            t.erase(0, k);
            break;
        }
    }
    return t;
}

class TitlePlatform : public kv::test::NullPlatform {
  public:
    std::string title;
    std::optional<std::string> PlayerTitle() override { return title; }
};

kv::TickerLine& Line() {
    static int argc = 3;
    static char arg0[] = "title_ticker_fuzzer", arg1[] = "-platform", arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    static kv::TickerLine* line = new kv::TickerLine;
    Q_UNUSED(app);
    return *line;
}

// Hands the ticker's state to the line as the indicator does, and returns what the line shows.
std::string Show(const kv::PlayerTicker& ticker) {
    Line().ShowTurned(ticker.playerTitle, ticker.tickerPos);
    return Line().text().toStdString();
}

void CheckLine(kv::PlayerTicker& ticker, std::int32_t posBefore, std::string_view title,
               const std::string& line) {
    KV_FUZZ_CHECK(ValidUtf8(line), "line '%s' from '%s' is not UTF-8", Escape(line).c_str(),
                  Escape(title).c_str());
    std::u32string decoded = kv::DecodeUtf8(title);
    if (ValidUtf8(title)) {
        std::u32string model;
        ValidUtf8(title, &model);
        KV_FUZZ_CHECK(decoded == model, "valid '%s' decoded differently", Escape(title).c_str());
        KV_FUZZ_CHECK(kv::EncodeUtf8(decoded) == title, "'%s' does not re-encode",
                      Escape(title).c_str());
    } else {
        // Each broken byte stands for one character, so nothing grows past the byte count.
        KV_FUZZ_CHECK(decoded.size() <= title.size(), "'%s' decoded too long",
                      Escape(title).c_str());
    }
    const std::u32string trimmed = Trim(decoded);
    std::u32string shown;
    KV_FUZZ_CHECK(ValidUtf8(line, &shown), "unreachable");
    if (trimmed.size() <= kv::kStillTitleMax) {
        KV_FUZZ_CHECK(ticker.tickerPos == 0 && shown == trimmed, "still title '%s' shown as '%s'",
                      Escape(title).c_str(), Escape(line).c_str());
        return;
    }
    const std::u32string full = trimmed + std::u32string(kv::kTickerSeparator);
    const auto length = std::int64_t(full.size());
    const std::int64_t want =
        std::int64_t(posBefore) + 1 > length || posBefore < 0 ? 0 : posBefore + 1;
    KV_FUZZ_CHECK(ticker.tickerPos == want, "position %d after %d (length %lld)", ticker.tickerPos,
                  posBefore, (long long)length);
    const std::size_t fits = std::min(full.size(), std::size_t(kv::TickerLine::kShownCharacters));
    KV_FUZZ_CHECK(shown.size() == fits, "%zu characters shown of %zu", shown.size(), full.size());
    const std::u32string rotated =
        full.substr(std::size_t(want)) + full.substr(0, std::size_t(want));
    KV_FUZZ_CHECK(shown == rotated.substr(0, fits), "not a left rotation by %lld", (long long)want);
}

}  // namespace

// The line lays its text out through Qt's fonts, and fontconfig under them never frees its font
// lists.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kv::fuzz::Input in(data, size);
    kv::PlayerTicker ticker;
    const std::uint8_t mode = in.U8();
    ticker.tickerPos = std::int32_t(in.U32());
    if (mode & 1) {
        ticker.tickerPos =
            std::int32_t(std::int8_t(ticker.tickerPos));  // small positions are common
    }
    const std::string title(in.Rest());

    // Several steps over the same title walk the rotation.
    for (int step = 0; step < 3; ++step) {
        const std::int32_t pos = ticker.tickerPos;
        kv::ShowPlayerTitle(ticker, title);
        CheckLine(ticker, pos, title, Show(ticker));
    }

    // Through the platform, as a title that changed while it was read may arrive: cut short, or
    // kept at its announced length with code 0 where it shrank.
    TitlePlatform platform;
    const std::size_t change = mode & 0x3F;
    switch (mode >> 6) {
        case 0:
            platform.title = title;
            break;
        case 1:
            platform.title = title + std::string(change, '\0');
            break;
        case 2:
            platform.title = title.substr(0, title.size() - std::min(change, title.size()));
            break;
        default:
            platform.title.clear();
    }
    const std::string& read = platform.title;
    const std::int32_t pos = ticker.tickerPos;
    const std::string before = ticker.playerTitle;
    const bool stepped = kv::TickerStep(ticker, (mode & 2) != 0, platform);
    if (mode & 2) {
        KV_FUZZ_CHECK(!stepped && ticker.tickerPos == pos && ticker.playerTitle == before,
                      "a paused ticker moved");
    } else {
        KV_FUZZ_CHECK(stepped, "no line with a player window");
        CheckLine(ticker, pos, read, Show(ticker));
    }
    return 0;
}
