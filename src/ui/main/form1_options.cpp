#include <QTimer>

#include "ui/common/desktop.h"
#include "ui/indicator/form3.h"
#include "ui/main/form1.h"

namespace kv {

void Form1::Option1_Click() {
    SetStaysOnTop(*this, true);
    RememberChange();
}

void Form1::Option2_Click() {
    SetStaysOnTop(*this, false);
    RememberChange();
}

void Form1::Option4_Click() {
    if (!state_.indicatorShown) {
        if (!indicator_) {
            indicator_ = std::make_unique<Form3>(state_, platform_, desktop_, *ticker_);
            connect(indicator_.get(), &Form3::SettingsChanged, this, &Form1::RememberChange);
        }
        indicator_->Form_Load();
        indicator_->show();
    }
    state_.indicatorShown = true;
    RememberChange();
}

void Form1::Option3_Click() {
    if (state_.indicatorShown && indicator_) {
        indicator_->StopTimers();
        indicator_.reset();
    }
    state_.indicatorShown = false;
    RememberChange();
}

}  // namespace kv
