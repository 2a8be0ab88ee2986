#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <cmath>

#include "accounting/money.h"
#include "common/number_format.h"
#include "ui/common/graph_box.h"
#include "ui/indicator/form3.h"
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

void Form1::ObserveTable() {
    if (const std::optional<TrafficBook::Totals> gone = book_.Observe(meter)) {
        // The paid link dropped: what it used is spent, whether or not the user pressed the
        // button, so the same traffic can never show as available money again.
        ApplyCarryOver(UsedMb(*gone));
    }
}

void Form1::FillAdapterList() {
    rebuildingList_ = true;
    List1->clear();
    for (std::int32_t row = 0; row < meter.ControllerCount(); ++row) {
        List1->addItem(QString::fromUtf8(meter.ControllerNames(row)));
    }
    List1->setCurrentRow(-1);
    rebuildingList_ = false;
}

void Form1::SetAdapterSelection(int row) {
    // A selection made here runs List1_Click at once, exactly as a click does.
    List1->setCurrentRow(row);
}

void Form1::Timer1_Timer() {
    meter.GetIPStats();
    const std::int32_t n = meter.ControllerCount();
    if (n == 0) {
        FatalNoConnection();
    }
    ObserveTable();

    std::int32_t i = state_.adapterIndex;
    if (n != adapterCount) {
        FillAdapterList();
        adapterCount = n;
        i = -1;
    }
    if (i < 0 || i >= n) {
        Label1->clear();
        Label2->clear();
        Label3->clear();
        Label4->clear();
        book_.ForgetTicks();
        Enable(Timer2);
        Timer1->stop();
        return;
    }

    const std::uint32_t index = meter.InterfaceIndex(i);
    if (book_.Charged() != index) {
        book_.Charge(index);
    }
    const TrafficBook::Totals totals = book_.Of(index);
    Label1->setText(QString::fromUtf8(meter.ControllerNames(i)));
    state_.sentMb = float(totals.sent / 1048576.0);
    state_.receivedMb = float(totals.received / 1048576.0);
    Label2->setText(QStringLiteral("Отправлено: ") +
                    Text(FormatPattern(totals.sent, patterns::kBytes)));
    Label3->setText(QStringLiteral("Принято: ") +
                    Text(FormatPattern(totals.received, patterns::kBytes)));
    state_.currentSpeed = std::floor(book_.SpeedOf(index));
    Label4->setText(QStringLiteral("Текущая скорость: ") +
                    Text(FormatPattern(state_.currentSpeed, patterns::kBytesPerSecond)));
    book_.EndTick();
    state_.usedMb = UsedMb(totals);
    ShowMoneyFigures();
    UpdateSpeedGraph();
}

void Form1::ShowMoneyFigures() {
    Label13->setText(Text(FormatPattern(state_.usedMb, patterns::kMegabytes)));
    Label12->setText(Optional(TrafficLeftMb(state_), patterns::kMegabytes));
    Label15->setText(Optional(MoneyLeft(state_), patterns::kRoubles));
}

void Form1::Timer2_Timer() {
    meter.GetIPStats();
    const std::int32_t n = meter.ControllerCount();
    if (n == 0) {
        FatalNoConnection();
    }
    ObserveTable();
    if (n == adapterCount) {
        return;
    }
    Enable(Timer1);
    Timer2->stop();
    FillAdapterList();
    adapterCount = n;
    if (state_.adapterIndex >= 0 && state_.adapterIndex < List1->count()) {
        SetAdapterSelection(state_.adapterIndex);
    }
}

void Form1::List1_Click() {
    state_.adapterIndex = List1->currentRow();
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

void Form1::CarryOver() {
    if (const std::optional<std::uint32_t> charged = book_.Charged()) {
        ApplyCarryOver(UsedMb(book_.Of(*charged)));
    } else {
        ApplyCarryOver(state_.usedMb);
    }
}

void Form1::ApplyCarryOver(float usedMb) {
    state_.usedMb = usedMb;
    const std::optional<CarriedBalance> balance = CarryOverBalance(state_);
    if (!balance) {
        return;
    }
    state_.moneyLimit = balance->moneyLimit;
    book_.ResetCharged();
    state_.usedMb = 0;
    state_.sentMb = 0;
    state_.receivedMb = 0;
    Label7->setText(Text(balance->text));
    Text2->setText(Text(balance->text));
    ShowTrafficLimit();
    ShowMoneyFigures();
    RememberChange();
}

void Form1::ShowTrafficLimit() {
    Label10->setText(
        Optional(TrafficLimitMb(state_.moneyLimit, state_.tariffPerMb), patterns::kMegabytes));
}

}  // namespace kv
