#include "ui/indicator/title_ticker.h"

#include <QList>
#include <QString>
#include <QStringDecoder>

namespace kv {

namespace {

constexpr std::u32string_view kSuffixes[] = {U" - Winamp", U" - Winamp [Paused]",
                                             U" - Winamp [Stopped]"};

}  // namespace

std::u32string DecodeUtf8(std::string_view bytes) {
    // Each byte of a broken sequence becomes one U+FFFD, so a stray byte cannot swallow a valid
    // neighbour; a leading byte-order mark is a character of the title like any other.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                     QStringDecoder::Flag::Stateless);
    const QList<uint> chars = QString(decoder(QByteArrayView(bytes.data(), bytes.size()))).toUcs4();
    return {chars.begin(), chars.end()};
}

std::string EncodeUtf8(std::u32string_view text) {
    // Char by char: QString::fromUcs4 would drop a leading byte-order mark.
    QString out;
    out.reserve(qsizetype(text.size()));
    for (char32_t c : text) {
        out += QChar::fromUcs4(c);
    }
    return out.toStdString();
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

void ShowPlayerTitle(PlayerTicker& ticker, std::string_view windowTitle) {
    std::u32string title = TrimPlayerTitle(DecodeUtf8(windowTitle));
    if (title.size() <= kStillTitleMax) {
        ticker.tickerPos = 0;
        ticker.playerTitle = EncodeUtf8(title);
        return;
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
}

bool TickerStep(PlayerTicker& ticker, bool tickerPaused, Platform& platform) {
    if (tickerPaused) {
        return false;
    }
    const std::optional<std::string> title = platform.PlayerTitle();
    if (!title) {
        return false;
    }
    ShowPlayerTitle(ticker, *title);
    return true;
}

}  // namespace kv
