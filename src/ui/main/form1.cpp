#include "ui/main/form1.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>

#include "common/units.h"
#include "ui/about/form2.h"
#include "ui/common/graph_box.h"
#include "ui/indicator/form3.h"
#include "ui/indicator/player_ticker.h"

namespace kv {

Form1::Form1(ProgramState& state, Platform& platform, Desktop& desktop, QWidget* parent)
    : QWidget(parent),
      state_(state),
      platform_(platform),
      desktop_(desktop),
      ledger_(state, platform),
      speedHistory(WholePixels(840)),
      ticker_(std::make_unique<PlayerTicker>()) {
    BuildLayout();
    ledger_.Meter().SetMessageBoxShower([this](const std::string& text) { ShowBoxFromTick(text); });
    ledger_.SetShell(
        {[this] { RememberChange(); },
         [this](const std::string& text, bool failedWrite) { Tell(text, failedWrite); },
         [this](const std::string& text) { ShowCarriedLimit(text); }});
    connect(Timer1, &QTimer::timeout, this, &Form1::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &Form1::Timer2_Timer);
    connect(List1, &QListWidget::itemSelectionChanged, this, [this] {
        // Clearing the list and showing the window move the selection without a choice.
        if (!rebuildingList_ && !List1->selectedItems().isEmpty()) {
            List1_Click();
        }
    });
    connect(Text1, &QLineEdit::textChanged, this, &Form1::Text1_Change);
    connect(Text2, &QLineEdit::textChanged, this, &Form1::Text2_Change);
    connect(Option1, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            Option1_Click();
        }
    });
    connect(Option2, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            Option2_Click();
        }
    });
    connect(Option3, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            Option3_Click();
        }
    });
    connect(Option4, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            Option4_Click();
        }
    });
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    // The window sees F1 whichever of its controls has the focus.
    connect(new QShortcut(QKeySequence(Qt::Key_F1), this), &QShortcut::activated, this,
            [this] { Form_KeyDown(kAboutKey); });
    for (QWidget* w : {static_cast<QWidget*>(Label6), static_cast<QWidget*>(Label7),
                       static_cast<QWidget*>(Frame3), static_cast<QWidget*>(Text1),
                       static_cast<QWidget*>(Text2)}) {
        w->installEventFilter(this);
    }
}

Form1::~Form1() = default;

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    const bool valueLabel = watched == Label6 || watched == Label7;
    if (valueLabel && (event->type() == QEvent::MouseButtonPress ||
                       event->type() == QEvent::MouseButtonDblClick)) {
        return true;  // a click is the left button let go over the label
    }
    if (valueLabel && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const auto* label = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton &&
            label->rect().contains(mouse->position().toPoint())) {
            watched == Label6 ? Label6_Click() : Label7_Click();
        }
        return true;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        // Presses on the caption labels also reach the frame; only its free surface commits.
        if (watched == Frame3 &&
            Frame3->childAt(static_cast<QMouseEvent*>(event)->position().toPoint()) == nullptr) {
            CommitPendingEdit();
        }
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Enter || key == Qt::Key_Return) {
            if (watched == Text1) {
                Text1_KeyDown(kEnterKey);
                return true;
            }
            if (watched == Text2) {
                Text2_KeyDown(kEnterKey);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::closeEvent(QCloseEvent* event) {
    // The indicator has no close control: closing the main window ends the whole program.
    event->ignore();
    Command1_Click();
}

void Form1::RememberChange() {
    if (!loading_ && OnSettingsChanged) {
        OnSettingsChanged();
    }
}

}  // namespace kv
