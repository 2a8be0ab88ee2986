#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <cmath>

#include "accounting/money.h"
#include "common/number_format.h"
#include "common/units.h"
#include "shell/paid_file.h"
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
    const bool wasCharged = book_.Charged().has_value();
    book_.Observe(meter);
    if (wasCharged && !book_.Charged()) {
        // The paid link dropped: what it used is spent, whether or not the user pressed the
        // button, so the same traffic can never show as available money again.
        state_.usedMb = 0;
        state_.sentMb = 0;
        state_.receivedMb = 0;
    }
    // Start-up writes nothing until it is done, so the first tick after it settles.
    if (!loading_) {
        SettleUnpaid();
    }
    SavePaidIfChanged();
}

bool Form1::TableChanged() const {
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

std::int32_t Form1::RowOf(std::uint32_t index) const {
    for (std::int32_t row = 0; row < meter.ControllerCount(); ++row) {
        if (meter.InterfaceIndex(row) == index) {
            return row;
        }
    }
    return -1;
}

std::int32_t Form1::RowOfWatchedName() const {
    if (watchedName_.empty()) {
        return -1;
    }
    for (std::int32_t row = 0; row < meter.ControllerCount(); ++row) {
        if (meter.ControllerNames(row) == watchedName_) {
            return row;
        }
    }
    return -1;
}

void Form1::Timer1_Timer() {
    meter.GetIPStats();
    const std::int32_t n = meter.ControllerCount();
    if (n == 0) {
        FatalNoConnection();
    }
    ObserveTable();

    // The paid interface is followed by its number wherever the table moves it.
    const std::optional<std::uint32_t> charged = book_.Charged();
    const std::int32_t i = charged ? RowOf(*charged) : -1;
    if (TableChanged()) {
        FillAdapterList(i);
        adapterCount = n;
        // A dial-up link that came straight back keeps its name, not its number; the saved row
        // may now be another interface, so it is no guide here.
        if (const std::int32_t again = charged ? -1 : RowOfWatchedName(); again >= 0) {
            SetAdapterSelection(again);
            return;
        }
    }
    if (i < 0) {
        Label1->clear();
        Label2->clear();
        Label3->clear();
        Label4->clear();
        book_.ForgetTicks();
        Enable(Timer2);
        Timer1->stop();
        return;
    }
    if (i != state_.adapterIndex) {
        state_.adapterIndex = i;
        RememberChange();
    }

    const TrafficBook::Totals totals = book_.Of(*charged);
    watchedName_ = meter.ControllerNames(i);
    Label1->setText(QString::fromUtf8(watchedName_));
    state_.sentMb = float(totals.sent / kBytesPerMb);
    state_.receivedMb = float(totals.received / kBytesPerMb);
    Label2->setText(QStringLiteral("Отправлено: ") +
                    Text(FormatPattern(totals.sent, patterns::kBytes)));
    Label3->setText(QStringLiteral("Принято: ") +
                    Text(FormatPattern(totals.received, patterns::kBytes)));
    state_.currentSpeed = std::floor(book_.SpeedOf(*charged));
    Label4->setText(QStringLiteral("Текущая скорость: ") +
                    Text(FormatPattern(state_.currentSpeed, patterns::kBytesPerSecond)));
    book_.EndTick();
    state_.usedMb = UsedMb(totals);
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
    meter.GetIPStats();
    const std::int32_t n = meter.ControllerCount();
    if (n == 0) {
        FatalNoConnection();
    }
    ObserveTable();
    if (!TableChanged()) {
        return;
    }
    Enable(Timer1);
    Timer2->stop();
    FillAdapterList(-1);
    adapterCount = n;
    std::int32_t row = RowOfWatchedName();
    if (row < 0 && state_.adapterIndex < n) {
        row = state_.adapterIndex;
    }
    if (row >= 0) {
        SetAdapterSelection(row);
    }
}

void Form1::List1_Click() {
    state_.adapterIndex = List1->currentRow();
    if (state_.adapterIndex >= 0 && state_.adapterIndex < meter.ControllerCount()) {
        book_.Charge(meter.InterfaceIndex(state_.adapterIndex));
    }
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
    const std::optional<std::uint32_t> charged = book_.Charged();
    const float used = charged ? UsedMb(book_.Of(*charged)) : state_.usedMb;
    if (!PayFor(used)) {
        return;  // nothing priced, so nothing is taken as paid
    }
    if (charged) {
        const std::int32_t row = RowOf(*charged);
        book_.ResetCharged(row >= 0 ? meter.ControllerNames(row) : watchedName_);
    }
    state_.usedMb = 0;
    state_.sentMb = 0;
    state_.receivedMb = 0;
    ShowMoneyFigures();
    SavePaidIfChanged();
    RememberChange();
}

void Form1::SettleUnpaid() {
    const TrafficBook::Totals unpaid = book_.Unpaid();
    if ((unpaid.sent == 0 && unpaid.received == 0) || !PayFor(UsedMb(unpaid))) {
        return;  // kept until a tariff can price it
    }
    book_.ClearUnpaid();
    ShowMoneyFigures();
    SavePaidIfChanged();
    RememberChange();
}

bool Form1::PayFor(float usedMb) {
    const std::optional<CarriedBalance> balance =
        CarryOverBalance(state_.moneyLimit, state_.tariffPerMb, usedMb);
    if (!balance) {
        return false;
    }
    state_.moneyLimit = balance->moneyLimit;
    Label7->setText(Text(balance->text));
    Text2->setText(Text(balance->text));
    ShowTrafficLimit();
    return true;
}

void Form1::ResumePaid() {
    const QString path = PaidRecordPath(settingsPath_);
    const PaidRecord record = LoadPaidRecord(path);
    book_.AddUnpaid(record.unpaid);
    if (!bootId_.empty() && record.bootId == bootId_) {
        for (const TrafficBook::PaidMark& mark : record.marks) {
            book_.ResumeFrom(mark, meter);
        }
    }
    // Marks of another boot or of interfaces gone are forgotten on disk as well.
    if (PaidRecord{bootId_, book_.PaidMarks(), book_.Unpaid()} == record) {
        savedPaidRevision_ = book_.PaidRevision();
    }
    SavePaidIfChanged();
}

void Form1::SavePaidIfChanged() {
    // A payment is kept only together with the limit it lowered.
    if (!MayWriteSettings() || book_.PaidRevision() == savedPaidRevision_) {
        return;
    }
    // Written before data.dat: a stop between the two forgets a payment rather than repeats it.
    if (SavePaidRecord(PaidRecordPath(settingsPath_),
                       {bootId_, book_.PaidMarks(), book_.Unpaid()})) {
        savedPaidRevision_ = book_.PaidRevision();
    }
}

void Form1::ShowTrafficLimit() {
    Label10->setText(
        Optional(TrafficLimitMb(state_.moneyLimit, state_.tariffPerMb), patterns::kMegabytes));
}

}  // namespace kv
