#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>

#include "accounting/money.h"
#include "common/number_format.h"
#include "ui/common/graph_box.h"
#include "ui/main/form1.h"

namespace kv {

namespace {

void Enable(QTimer* timer) {
    if (!timer->isActive()) {
        timer->start();
    }
}

QString Text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

QString Optional(const std::optional<float>& value, std::string_view pattern) {
    return value ? Text(FormatPattern(*value, pattern)) : QString();
}

}  // namespace

void Form1::FatalNoConnection() {
    EndAfterMessage("Не найдено ни одного соединения");
}

bool Form1::TableChanged() const {
    const TrafMeter& meter = ledger_.Meter();
    const std::int32_t n = meter.ControllerCount();
    if (std::size_t(n) != listed_.size()) {
        return true;
    }
    for (std::int32_t row = 0; row < n; ++row) {
        const ListedInterface& l = listed_[std::size_t(row)];
        if (l.index != meter.InterfaceIndex(row) || l.description != meter.ControllerNames(row)) {
            return true;
        }
    }
    return false;
}

void Form1::FillAdapterList(int selectedRow) {
    const TrafMeter& meter = ledger_.Meter();
    rebuildingList_ = true;
    List1->clear();
    listed_.clear();
    for (std::int32_t row = 0; row < meter.ControllerCount(); ++row) {
        listed_.push_back({meter.InterfaceIndex(row), meter.ControllerNames(row)});
        List1->addItem(QString::fromUtf8(meter.ControllerNames(row)));
    }
    List1->setCurrentRow(selectedRow);
    rebuildingList_ = false;
}

void Form1::SetAdapterSelection(int row) {
    // A selection made here runs List1_Click at once, exactly as a click does.
    List1->setCurrentRow(row);
}

void Form1::Timer1_Timer() {
    if (!ledger_.Refresh()) {
        FatalNoConnection();
        return;
    }
    const std::int32_t n = ledger_.Meter().ControllerCount();

    // The paid interface is followed wherever the table moves it.
    const std::int32_t i = ledger_.ChargedRow();
    if (TableChanged()) {
        FillAdapterList(i);
        adapterCount = n;
        // A dial-up link that came straight back has a new number; the saved row may now be
        // another interface, so it is no guide here.
        if (const std::int32_t again = i < 0 ? ledger_.ResumeRow(-1) : -1; again >= 0) {
            SetAdapterSelection(again);
            return;
        }
    }
    const std::optional<Ledger::Reading> reading = i < 0 ? std::nullopt : ledger_.Tick();
    if (!reading) {
        Label1->clear();
        Label2->clear();
        Label3->clear();
        Label4->clear();
        ledger_.Idle();
        Enable(Timer2);
        Timer1->stop();
        return;
    }
    if (i != state_.adapterIndex) {
        state_.adapterIndex = i;
        RememberChange();
    }

    Label1->setText(QString::fromUtf8(reading->description));
    Label2->setText(QStringLiteral("Отправлено: ") +
                    Text(FormatPattern(reading->totals.sent, patterns::kBytes)));
    Label3->setText(QStringLiteral("Принято: ") +
                    Text(FormatPattern(reading->totals.received, patterns::kBytes)));
    Label4->setText(QStringLiteral("Текущая скорость: ") +
                    Text(FormatPattern(state_.currentSpeed, patterns::kBytesPerSecond)));
    ShowMoneyFigures();
    UpdateSpeedGraph();
}

void Form1::ShowMoneyFigures() {
    Label13->setText(Text(FormatPattern(state_.usedMb, patterns::kMegabytes)));
    Label12->setText(Optional(TrafficLeftMb(state_.moneyLimit, state_.tariffPerMb, state_.usedMb),
                              patterns::kMegabytes));
    Label15->setText(Optional(MoneyLeft(state_.moneyLimit, state_.tariffPerMb, state_.usedMb),
                              patterns::kRoubles));
}

void Form1::Timer2_Timer() {
    if (!ledger_.Refresh()) {
        FatalNoConnection();
        return;
    }
    if (!TableChanged()) {
        return;
    }
    Enable(Timer1);
    Timer2->stop();
    FillAdapterList(-1);
    adapterCount = ledger_.Meter().ControllerCount();
    if (const std::int32_t row = ledger_.ResumeRow(state_.adapterIndex); row >= 0) {
        SetAdapterSelection(row);
    }
}

void Form1::List1_Click() {
    state_.adapterIndex = List1->currentRow();
    ledger_.Watch(state_.adapterIndex);
    Enable(Timer1);
    Timer2->stop();
    Timer1_Timer();
    RememberChange();
}

void Form1::UpdateSpeedGraph() {
    const GraphScale scale = speedHistory.Step(state_.currentSpeed, int(state_.graphHeight));
    state_.historyMax = scale.historyMax;
    state_.graphScaleMax = scale.scaleMax;
    state_.bytesPerPixel = scale.bytesPerPixel;
    MainGraphLines(speedHistory, scale, int(state_.graphHeight), graphLines_);
    Picture1->SetLines(graphLines_);
}

void Form1::ShowCarriedLimit(const std::string& text) {
    Label7->setText(Text(text));
    // A box the user is typing in keeps the typing: committing it makes it the limit.
    if (Text2->isHidden()) {
        Text2->setText(Text(text));
    }
    ShowTrafficLimit();
    ShowMoneyFigures();
}

void Form1::ShowTrafficLimit() {
    Label10->setText(
        Optional(TrafficLimitMb(state_.moneyLimit, state_.tariffPerMb), patterns::kMegabytes));
}

}  // namespace kv
