#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include "ui/common/desktop.h"

class QGroupBox;
class QLabel;
class QLineEdit;

namespace kv {

// The About window: author line with version and date, home-page link, e-mail box and a large
// close word that closes on release.
class Form2 : public QWidget {
    Q_OBJECT

  public:
    static constexpr const char* kHomePage = "https://example.org/kvotomer";
    static constexpr const char* kEmail = "kvotomer@example.org";
    static const QColor kCloseAtRest;
    static const QColor kCloseHover;
    static const QColor kClosePressed;

    explicit Form2(Desktop& desktop, QWidget* parent = nullptr);

    // Centres the window on the screen and puts it above the other windows.
    void Form_Load();

    void Label3_MouseMove();
    void Label3_MouseDown();
    void Label3_MouseUp();
    // The window's surface, the frame, Label1, Label2 and the e-mail box share this.
    void Form_MouseMove();
    void Text1_MouseDown();
    void Label4_Click();

    QGroupBox* Frame2;  // "author" frame around everything
    QLabel* Image1;     // meter dial picture
    QLabel* Label1;     // author line with version and date
    QLabel* Label2;     // "questions, wishes" caption
    QLabel* Label3;     // large close word
    QLabel* Label4;     // home-page link
    QLineEdit* Text1;   // e-mail address to copy

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void SetCloseColour(const QColor& colour);

    Desktop& desktop_;
};

// The author line: 14 characters, 36 blanks, the version, 3 blanks, the date.
QString AuthorLine();

// A 90 x 90 greyscale picture of a meter dial, drawn rather than loaded so the window needs no
// resource of its own.
QImage AboutPicture();

}  // namespace kv
