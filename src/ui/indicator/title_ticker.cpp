#include "ui/indicator/title_ticker.h"

#include <cstdint>

namespace kv {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

constexpr std::u32string_view kSuffixes[] = {U" - Winamp", U" - Winamp [Paused]",
                                             U" - Winamp [Stopped]"};

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

}  // namespace

std::u32string DecodeUtf8(std::string_view bytes) {
    std::u32string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t extra = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1;
            cp = lead & 0x1F;
            min = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2;
            cp = lead & 0x0F;
            min = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3;
            cp = lead & 0x07;
            min = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t k = 1;
        while (k <= extra && i + k < bytes.size() &&
               IsContinuation(static_cast<unsigned char>(bytes[i + k]))) {
            cp = (cp << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
            ++k;
        }
        const bool complete = k == extra + 1;
        if (!complete || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // Only the lead byte is dropped, so a stray byte cannot swallow a valid neighbour.
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        out.push_back(cp);
        i += k;
    }
    return out;
}

std::string EncodeUtf8(std::u32string_view text) {
    // Written into room for the longest case and cut once, cheaper than appending byte by byte.
    std::string out(text.size() * 4, '\0');
    char* p = out.data();
    for (char32_t cp : text) {
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            *p++ = char(cp);
        } else if (cp < 0x800) {
            *p++ = char(0xC0 | (cp >> 6));
            *p++ = char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            *p++ = char(0xE0 | (cp >> 12));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        } else {
            *p++ = char(0xF0 | (cp >> 18));
            *p++ = char(0x80 | ((cp >> 12) & 0x3F));
            *p++ = char(0x80 | ((cp >> 6) & 0x3F));
            *p++ = char(0x80 | (cp & 0x3F));
        }
    }
    out.resize(std::size_t(p - out.data()));
    return out;
}

std::u32string TrimPlayerTitle(std::u32string title) {
    if (!title.empty()) {
        // Each test sees what the ones before left.
        for (std::u32string_view suffix : kSuffixes) {
            if (title.ends_with(suffix)) {
                title.resize(title.size() - suffix.size());
            }
        }
    }
    // A playlist number "1." to "1234."; the blank after it stays.
    for (std::size_t dot = 1; dot <= 4 && dot < title.size(); ++dot) {
        if (title[dot] == U'.') {
            title.erase(0, dot + 1);
            break;
        }
    }
    return title;
}

std::string ShowPlayerTitle(PlayerTicker& ticker, std::string_view windowTitle) {
    std::u32string title = TrimPlayerTitle(DecodeUtf8(windowTitle));
    if (title.size() <= kStillTitleMax) {
        ticker.tickerPos = 0;
        ticker.playerTitle = EncodeUtf8(title);
        return ticker.playerTitle;
    }
    title += kTickerSeparator;
    const auto length = std::int64_t(title.size());
    std::int64_t pos = std::int64_t(ticker.tickerPos) + 1;
    // The position survives a change of title, so it may lie past a shorter one.
    if (pos > length || pos < 0) {
        pos = 0;
    }
    ticker.tickerPos = std::int32_t(pos);
    ticker.playerTitle = EncodeUtf8(title);
    const auto split = std::size_t(pos);
    std::u32string rotated;
    rotated.reserve(title.size());
    rotated.append(title, split);
    rotated.append(title, 0, split);
    ticker.tickerText = EncodeUtf8(rotated);
    return ticker.tickerText;
}

std::optional<std::string> TickerStep(PlayerTicker& ticker, bool tickerPaused, Platform& platform) {
    if (tickerPaused) {
        return std::nullopt;
    }
    const std::optional<std::string> title = platform.PlayerTitle();
    if (!title) {
        return std::nullopt;
    }
    return ShowPlayerTitle(ticker, *title);
}

}  // namespace kv
