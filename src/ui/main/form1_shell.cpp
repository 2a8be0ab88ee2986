#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTimer>

#include "common/number_format.h"
#include "common/units.h"
#include "ui/about/form2.h"
#include "ui/indicator/form3.h"
#include "ui/main/form1.h"

namespace kv {

void Form1::Form_Load() {
    loading_ = true;
    state_.indicatorShown = false;
    state_.graphScaleMax = 0;
    state_.mainWindowShown = true;
    state_.adapterIndex = -1;

    state_.moneyLimit = 10;
    state_.tariffPerMb = 2.5f;
    move(TwipsToPixels(8460), TwipsToPixels(2625));

    if (state_.indicatorEnabled) {
        Option4->setChecked(true);
    } else {
        Option3->setChecked(true);
    }
    ShowSettingValue(Label6, Text1, state_.tariffPerMb);
    ShowSettingValue(Label7, Text2, state_.moneyLimit);
    ShowTrafficLimit();

    meter.GetIPStats();
    adapterCount = meter.ControllerCount();
    if (adapterCount == 0) {
        FatalNoConnection();
    }
    book_.Observe(meter);
    state_.graphWidth = WholePixels(840);
    state_.graphHeight = WholePixels(1725);
    FillAdapterList();

    if (state_.adapterIndex <= List1->count() - 1) {
        if (state_.adapterIndex >= 0) {
            SetAdapterSelection(state_.adapterIndex);
        }
        Timer1->start();
        Timer1_Timer();
    } else {
        Timer2->start();
    }
    loading_ = false;
}

void Form1::ShowSettingValue(QLabel* label, QLineEdit* box, float value) {
    const QString text = QString::fromStdString(GeneralFloat(value));
    label->setText(text);
    box->setText(text);
}

void Form1::Form_QueryUnload() {
    Timer1->stop();
}

void Form1::Command1_Click() {
    state_.tickerPaused = true;
    if (indicator_) {
        indicator_->StopTimers();
    }
    Timer1->stop();
    Timer2->stop();
    Form_QueryUnload();
    hide();
    about_.reset();
    indicator_.reset();
    QCoreApplication::quit();
}

void Form1::Command2_Click() {
    state_.mainWindowShown = !state_.mainWindowShown;
    setVisible(state_.mainWindowShown);
}

void Form1::Command3_Click() {
    HangUp();
    CarryOver();
}

void Form1::HangUp() {}

void Form1::Form_KeyDown(int keyCode) {
    if (keyCode != 112) {
        return;
    }
    if (!about_) {
        about_ = std::make_unique<Form2>(platform_);
    }
    about_->show();
    about_->raise();
    about_->activateWindow();
}

}  // namespace kv
