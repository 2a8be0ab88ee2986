#pragma once

#include <QPoint>
#include <QRect>
#include <string>

class QWidget;

namespace kv {

// What the windows ask of the desktop that a widget test cannot let happen for real: a modal box
// blocks, and an immediate end would take the test with it. Positions are in Qt's pixels.
class Desktop {
  public:
    virtual ~Desktop() = default;

    // A modal box titled "Квотомер" with an OK button, and the critical icon when asked.
    virtual void ShowMessage(const std::string& text, bool critical) = 0;
    // Ends the process at once, without saving; never returns.
    [[noreturn]] virtual void EndProcessNow(int code) = 0;
    virtual void OpenAddress(const std::string& url) = 0;
    virtual QPoint PointerPosition() const = 0;
    // The primary screen, placed on the whole desktop, which may begin left of or above 0.
    virtual QRect PrimaryScreen() const = 0;
};

// The desktop through Qt.
class QtDesktop : public Desktop {
  public:
    void ShowMessage(const std::string& text, bool critical) override;
    [[noreturn]] void EndProcessNow(int code) override;
    void OpenAddress(const std::string& url) override;
    QPoint PointerPosition() const override;
    QRect PrimaryScreen() const override;
};

// Puts a window above all others or back among them. Changing a window flag hides a shown window
// (the native window is made anew): it comes back where it was.
void SetStaysOnTop(QWidget& window, bool onTop);

// The window's opacity in steps of 1/255.
void SetOpacity(QWidget& window, int alpha);

}  // namespace kv
