#include "platform/linux/linux_platform.h"

#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QUrl>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/units.h"
#include "platform/iftable_layout.h"
#include "platform/ras_layout.h"
#include "platform/win_errors.h"

namespace kv {

namespace {

constexpr char kExStyleProperty[] = "kvExStyle";
constexpr char kPlayerClass[] = "Winamp v1.X";

}  // namespace

LinuxPlatform::LinuxPlatform(std::string runDirectory)
    : dialUp_(std::move(runDirectory)), players_(std::make_unique<MediaPlayers>()) {}

std::uint32_t LinuxPlatform::GetIfTable(std::uint8_t* table, std::uint32_t* size, bool order) {
    return ifTable_.GetIfTable(table, size, order);
}

std::uint32_t LinuxPlatform::RasEnumConnectionsA(std::uint8_t* buffer, std::uint32_t* size,
                                                 std::uint32_t* count) {
    if (buffer == nullptr || size == nullptr || count == nullptr || *size < ras::kEntrySize ||
        iftable::ReadU32(buffer + ras::kSizeOffset) != ras::kEntrySize) {
        return win::kErrorInvalidParameter;
    }
    std::vector<DialUpLinks::Link> links;
    const std::uint32_t result = dialUp_.List(links);
    if (result != win::kNoError) {
        return result;
    }
    const std::uint32_t needed = std::uint32_t(links.size() * ras::kEntrySize);
    if (needed > *size) {
        *size = needed;
        *count = 0;
        return win::kErrorBufferTooSmall;
    }
    connections_.clear();
    for (std::size_t i = 0; i < links.size(); ++i) {
        std::uint8_t* entry = buffer + i * ras::kEntrySize;
        std::memset(entry, 0, ras::kEntrySize);
        const std::uint32_t handle = nextConnection_++;
        iftable::WriteU32(entry + ras::kSizeOffset, ras::kEntrySize);
        iftable::WriteU32(entry + ras::kHandleOffset, handle);
        std::memcpy(entry + ras::kEntryNameOffset, links[i].name.data(),
                    std::min(links[i].name.size(), ras::kEntryNameSize - 1));
        connections_[handle] = links[i];
    }
    *size = needed;
    *count = std::uint32_t(links.size());
    return win::kNoError;
}

std::uint32_t LinuxPlatform::RasHangUpA(std::uint32_t connection) {
    const auto it = connections_.find(connection);
    if (it == connections_.end()) {
        return win::kErrorInvalidHandle;
    }
    return dialUp_.HangUp(it->second);
}

void LinuxPlatform::SetWindowPos(WindowHandle window, std::intptr_t insertAfter, int, int, int, int,
                                 std::uint32_t) {
    const bool topmost = insertAfter == kHwndTopmost;
    if (window == nullptr || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == topmost) {
        return;
    }
    // Changing a window flag hides a shown window; show it again where it was.
    const bool visible = window->isVisible();
    const QPoint place = window->pos();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, topmost);
    if (visible) {
        window->move(place);
        window->show();
    }
}

std::int32_t LinuxPlatform::GetWindowLongA(WindowHandle window, int index) {
    if (window == nullptr || index != kGwlExStyle) {
        return 0;
    }
    return window->property(kExStyleProperty).toInt();
}

void LinuxPlatform::SetWindowLongA(WindowHandle window, int index, std::int32_t value) {
    if (window != nullptr && index == kGwlExStyle) {
        window->setProperty(kExStyleProperty, value);
    }
}

void LinuxPlatform::SetLayeredWindowAttributes(WindowHandle window, std::uint32_t,
                                               std::uint8_t alpha, std::uint32_t flags) {
    if (window == nullptr || (GetWindowLongA(window, kGwlExStyle) & kWsExLayered) == 0 ||
        (flags & kLwaAlpha) == 0) {
        return;
    }
    const qreal opacity = alpha / 255.0;
    if (window->windowOpacity() != opacity) {
        window->setWindowOpacity(opacity);
    }
}

Platform::Point LinuxPlatform::GetCursorPos() {
    const QPoint p = QCursor::pos();
    return {p.x(), p.y()};
}

Platform::PlayerHandle LinuxPlatform::FindWindowA(const char* className, const char*) {
    if (className == nullptr || std::strcmp(className, kPlayerClass) != 0) {
        return 0;
    }
    return players_->Current();
}

int LinuxPlatform::GetWindowTextLengthA(PlayerHandle window) {
    titleCache_ = players_->Title(window);
    return int(titleCache_.size());
}

int LinuxPlatform::GetWindowTextA(PlayerHandle window, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    titleCache_ = players_->Title(window);
    const int n = std::min(int(titleCache_.size()), size - 1);
    std::memcpy(buffer, titleCache_.data(), std::size_t(n));
    buffer[n] = '\0';
    return n;
}

void LinuxPlatform::ShellExecuteA(WindowHandle, const char*, const char* file, const char*,
                                  const char*, int) {
    if (file != nullptr) {
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(file)));
    }
}

Platform::Rect LinuxPlatform::PrimaryScreenTwips() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return {};
    }
    const QRect geometry = screen->geometry();
    return {{PixelsToTwips(geometry.x()), PixelsToTwips(geometry.y())},
            {PixelsToTwips(geometry.width()), PixelsToTwips(geometry.height())}};
}

void LinuxPlatform::ShowMessageBox(const std::string& text, int style) {
    QMessageBox box((style & kMbIconCritical) ? QMessageBox::Critical : QMessageBox::NoIcon,
                    QStringLiteral("Квотомер"), QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
}

void LinuxPlatform::ExitProcess(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace kv
