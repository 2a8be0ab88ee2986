#include "shell/ledger.h"

#include <QDir>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

#include "accounting/money.h"
#include "common/number_format.h"
#include "common/units.h"

namespace kv {

namespace {

// A kill or a power cut loses at most this much counted traffic.
constexpr qint64 kJournalPaceSeconds = 5;

std::string PathText(const QString& path) {
    return QDir::toNativeSeparators(path).toStdString();
}

Receipt MakeReceipt(QDateTime when, Receipt::Cause cause, std::string description,
                    const TrafficBook::Totals& totals, float megabytes, float tariffPerMb) {
    Receipt receipt;
    receipt.when = std::move(when);
    receipt.cause = cause;
    receipt.description = std::move(description);
    receipt.sentBytes = totals.sent;
    receipt.receivedBytes = totals.received;
    receipt.megabytes = megabytes;
    receipt.tariffPerMb = tariffPerMb;
    return receipt;
}

}  // namespace

std::int32_t Ledger::RowOf(std::uint32_t index) const {
    for (std::int32_t row = 0; row < meter_.ControllerCount(); ++row) {
        if (meter_.InterfaceIndex(row) == index) {
            return row;
        }
    }
    return -1;
}

bool Ledger::Load(const QString& settingsPath, bool mayWrite) {
    mayWrite_ = mayWrite;
    journalPath_ = PaidRecordPath(settingsPath);
    receiptsPath_ = ReceiptsPath(settingsPath);
    meter_.GetIPStats();
    if (meter_.ControllerCount() == 0) {
        return false;
    }
    book_.Observe(meter_);

    const LoadedPaidRecord loaded = LoadPaidRecord(journalPath_);
    if (loaded.status == LoadedPaidRecord::Status::kDamaged) {
        // What it held is unknown: whatever the counters show now is taken as paid, so the loss
        // can only forget traffic, never charge it twice.
        book_.MarkAllPaid();
        if (MayWrite()) {
            SetDamagedRecordAside(journalPath_);
        }
        Tell(Trouble::kDamaged,
             "Файл учёта оплаты " + PathText(journalPath_) +
                 " повреждён. Трафик, который сейчас показывают счётчики, считается оплаченным; "
                 "файл сохранён рядом с именем paid.dat.damaged.");
        return true;
    }
    const PaidRecord record = Widened(loaded.record);
    if (MayWrite()) {
        // Without a readable data.dat the limit is a default, not the one the change started from.
        CompleteInterruptedChange(record);
    }
    owed_ = record.owed;
    watched_ = record.watched;
    book_.AddUnpaid(record.unpaid);
    // An empty boot name never matches: the counters may be another boot's.
    const bool sameBoot = !bootId_.empty() && record.bootId == bootId_;
    if (sameBoot) {
        for (const TrafficBook::PaidMark& mark : record.marks) {
            book_.ResumeFrom(mark);
        }
    }
    if (record.session) {
        const TrafficBook::Session& session = record.session->session;
        if (!sameBoot || !book_.ResumeSession(session)) {
            // The session ended while the program was closed: charged once, up to the moment
            // it was last counted.
            book_.AddUnpaid(session.totals);
            unpaidCause_ = Receipt::Cause::kEndedWithoutProgram;
            unpaidDescription_ = session.description;
        }
    }
    if (!book_.Charged() && !watched_.empty()) {
        lostBefore_ = true;
        for (std::int32_t row = 0; row < meter_.ControllerCount(); ++row) {
            presentWhenLost_.push_back(meter_.InterfaceIndex(row));
        }
    }
    written_ = record;
    if (written_->session) {
        written_->session->savedAt = 0;
    }
    return true;
}

PaidRecord Ledger::Widened(PaidRecord record) const {
    if (!record.lowReadings) {
        return record;
    }
    const auto widen = [this](std::uint32_t index, std::uint64_t& sent, std::uint64_t& received) {
        if (const std::int32_t row = RowOf(index); row >= 0) {
            sent = WidenedReading(sent, meter_.SentCounter(row));
            received = WidenedReading(received, meter_.ReceivedCounter(row));
        }
    };
    for (TrafficBook::PaidMark& mark : record.marks) {
        widen(mark.index, mark.sent, mark.received);
    }
    if (record.session) {
        TrafficBook::Session& session = record.session->session;
        widen(session.index, session.sent, session.received);
    }
    return record;
}

void Ledger::CompleteInterruptedChange(const PaidRecord& record) {
    limitChange_ = record.limit;
    pendingReceipt_ = record.receipt;
    if (!record.limit || record.limit->before == record.limit->after) {
        return;
    }
    // data.dat still showing the limit from before means the run that changed it stopped
    // before telling it; any other value is the user's own.
    if (state_.moneyLimit == record.limit->before) {
        state_.moneyLimit = record.limit->after;
        settingsOwed_ = true;
    }
}

void Ledger::Started() {
    starting_ = false;
    if (std::exchange(settingsOwed_, false) && MayWrite()) {
        if (!pendingReceipt_.empty() && !EndsWithReceipt(receiptsPath_, pendingReceipt_)) {
            AppendReceipt(pendingReceipt_);
        }
        if (shell_.saveSettings) {
            shell_.saveSettings();
        }
        if (shell_.limitChanged) {
            shell_.limitChanged(FormatPattern(state_.moneyLimit, patterns::kPlain));
        }
    }
    SettleUnpaid();
    if (Record(book_) != written_) {
        SaveJournal(book_);
    }
}

std::int32_t Ledger::StartRow(std::int32_t savedRow) const {
    if (const std::int32_t row = ChargedRow(); row >= 0) {
        return row;
    }
    if (!watched_.empty()) {
        // Any number will do at start-up, as long as the description names one row only.
        std::int32_t found = -1;
        for (std::int32_t row = 0; row < meter_.ControllerCount(); ++row) {
            if (meter_.ControllerNames(row) == watched_) {
                if (found >= 0) {
                    return -1;
                }
                found = row;
            }
        }
        return found;
    }
    return savedRow >= 0 && savedRow < meter_.ControllerCount() ? savedRow : -1;
}

bool Ledger::Refresh() {
    std::vector<std::uint32_t> previous;
    for (std::int32_t row = 0; row < meter_.ControllerCount(); ++row) {
        previous.push_back(meter_.InterfaceIndex(row));
    }
    const std::optional<TrafficBook::Session> before = book_.ChargedSession();
    meter_.GetIPStats();
    if (meter_.ControllerCount() == 0) {
        return false;
    }
    book_.Observe(meter_);
    if (before && !book_.Charged()) {
        // The paid link dropped: what it used is spent, whether or not the user pressed the
        // button, so the same traffic can never show as available money again.
        state_.usedMb = 0;
        state_.sentMb = 0;
        state_.receivedMb = 0;
        unpaidCause_ = Receipt::Cause::kLinkDropped;
        unpaidDescription_ = before->description;
        // What was there before this table: one of them coming back is no redial.
        lostBefore_ = true;
        presentWhenLost_ = std::move(previous);
    }
    if (!starting_) {
        SettleUnpaid();
        const bool due =
            !writtenAt_.isValid() || std::llabs(writtenAt_.secsTo(Now())) >= kJournalPaceSeconds;
        if (due && Record(book_) != written_) {
            SaveJournal(book_);
        }
    }
    return true;
}

std::int32_t Ledger::ChargedRow() const {
    const std::optional<std::uint32_t> charged = book_.Charged();
    return charged ? RowOf(*charged) : -1;
}

std::int32_t Ledger::ResumeRow(std::int32_t savedRow) const {
    if (!lostBefore_) {
        return savedRow >= 0 && savedRow < meter_.ControllerCount() ? savedRow : -1;
    }
    std::int32_t found = -1;
    for (std::int32_t row = 0; row < meter_.ControllerCount(); ++row) {
        if (meter_.ControllerNames(row) != watched_) {
            continue;
        }
        const bool appeared = std::find(presentWhenLost_.begin(), presentWhenLost_.end(),
                                        meter_.InterfaceIndex(row)) == presentWhenLost_.end();
        if (found >= 0 || !appeared) {
            return -1;  // another interface of that description: which is the link is a guess
        }
        found = row;
    }
    return found;
}

void Ledger::Watch(std::int32_t row) {
    if (row < 0 || row >= meter_.ControllerCount()) {
        return;
    }
    book_.Charge(meter_.InterfaceIndex(row));
    watched_ = meter_.ControllerNames(row);
    lostBefore_ = false;
    presentWhenLost_.clear();
    // From now on this session is what a stop must not forget.
    if (!starting_) {
        SaveJournal(book_);
    }
}

std::optional<Ledger::Reading> Ledger::Tick() {
    const std::int32_t row = ChargedRow();
    if (row < 0) {
        Idle();
        return std::nullopt;
    }
    const std::uint32_t index = *book_.Charged();
    Reading reading{row, meter_.ControllerNames(row), book_.Of(index)};
    watched_ = reading.description;  // an alias set while it runs
    state_.watching = true;
    state_.sentMb = float(reading.totals.sent / kBytesPerMb);
    state_.receivedMb = float(reading.totals.received / kBytesPerMb);
    state_.currentSpeed = std::floor(book_.SpeedOf(index));
    book_.EndTick();
    state_.usedMb = UsedMb(reading.totals);
    return reading;
}

void Ledger::Idle() {
    state_.watching = false;
    book_.ForgetTicks();
}

PaidRecord Ledger::Record(const TrafficBook& book) const {
    PaidRecord record;
    record.bootId = bootId_;
    record.marks = book.PaidMarks();
    record.unpaid = book.Unpaid();
    record.owed = owed_;
    record.limit = limitChange_;
    record.receipt = pendingReceipt_;
    record.watched = watched_;
    if (const std::optional<TrafficBook::Session> session = book.ChargedSession()) {
        record.session = PaidRecord::CountedSession{*session, 0};
    }
    return record;
}

bool Ledger::SaveJournal(const TrafficBook& book) {
    if (!MayWrite()) {
        return true;
    }
    const PaidRecord record = Record(book);
    PaidRecord stamped = record;
    const QDateTime now = Now();
    if (stamped.session) {
        stamped.session->savedAt = now.toSecsSinceEpoch();
    }
    if (!SavePaidRecord(journalPath_, stamped)) {
        Tell(Trouble::kJournal,
             "Не удалось сохранить учёт оплаты в " + PathText(journalPath_) +
                 ". Пока запись не удастся, остаток денег не переносится, а после сбоя может "
                 "потеряться трафик, посчитанный с последней удачной записи.");
        return false;
    }
    written_ = record;
    writtenAt_ = now;
    return true;
}

bool Ledger::Transact(TrafficBook next, float after, const std::string& text,
                      std::optional<Receipt> receipt, bool figuresRestart) {
    const float before = state_.moneyLimit;
    const auto keptChange = limitChange_;
    const std::string keptReceipt = pendingReceipt_;
    // A carry-over that leaves the limit as it was must not hide an earlier one that data.dat
    // may not show yet.
    if (before != after) {
        limitChange_ = PaidRecord::LimitChange{before, after};
        pendingReceipt_.clear();
        if (receipt) {
            receipt->limitBefore = before;
            receipt->limitAfter = after;
            pendingReceipt_ = ReceiptLine(*receipt);
        }
    }
    if (!SaveJournal(next)) {
        limitChange_ = keptChange;
        pendingReceipt_ = keptReceipt;
        return false;
    }
    book_ = std::move(next);
    state_.moneyLimit = after;
    if (figuresRestart) {
        state_.usedMb = 0;
        state_.sentMb = 0;
        state_.receivedMb = 0;
    }
    if (before != after && !pendingReceipt_.empty() && MayWrite()) {
        AppendReceipt(pendingReceipt_);
    }
    if (MayWrite() && shell_.saveSettings) {
        shell_.saveSettings();
    }
    if (shell_.limitChanged) {
        shell_.limitChanged(text);
    }
    return true;
}

void Ledger::AppendReceipt(const std::string& line) {
    if (!AppendReceiptLine(receiptsPath_, line)) {
        Tell(Trouble::kReceipts, "Не удалось дописать квитанцию в " + PathText(receiptsPath_) +
                                     ". Остаток денег перенесён, но запись о переносе не "
                                     "сохранена.");
    }
}

void Ledger::SettleUnpaid() {
    const TrafficBook::Totals unpaid = book_.Unpaid();
    if (unpaid.sent == 0 && unpaid.received == 0) {
        return;
    }
    const float used = UsedMb(unpaid);
    const std::optional<KopeckCharge> charge =
        ChargeInKopecks(state_.moneyLimit, state_.tariffPerMb, used, owed_);
    if (!charge) {
        return;  // kept until a tariff can price it
    }
    TrafficBook next = book_;
    next.ClearUnpaid();
    const double keptOwed = owed_;
    owed_ = charge->owed;
    const Receipt receipt =
        MakeReceipt(Now(), unpaidCause_, unpaidDescription_.empty() ? watched_ : unpaidDescription_,
                    unpaid, used, state_.tariffPerMb);
    if (!Transact(std::move(next), charge->balance.moneyLimit, charge->balance.text, receipt)) {
        owed_ = keptOwed;
    }
}

void Ledger::CarryOver() {
    const std::optional<TrafficBook::Session> session = book_.ChargedSession();
    const TrafficBook::Totals totals = session ? session->totals : TrafficBook::Totals{};
    const float used = session ? UsedMb(totals) : state_.usedMb;
    const std::optional<CarriedBalance> balance =
        CarryOverBalance(state_.moneyLimit, state_.tariffPerMb, used);
    if (!balance) {
        return;  // nothing priced, so nothing is taken as paid
    }
    TrafficBook next = book_;
    next.ResetCharged();
    const Receipt receipt =
        MakeReceipt(Now(), Receipt::Cause::kButton, session ? session->description : watched_,
                    totals, used, state_.tariffPerMb);
    Transact(std::move(next), balance->moneyLimit, balance->text, receipt, true);
}

bool Ledger::Commit(float ProgramState::*setting, float value) {
    ProgramState candidate = state_;
    candidate.*setting = value;
    if (!TrafficLimitMb(candidate.moneyLimit, candidate.tariffPerMb)) {
        return false;
    }
    if (setting == &ProgramState::moneyLimit && value != state_.moneyLimit) {
        // Recorded like the program's own changes, so that start-up never takes an older
        // interrupted change over the user's.
        limitChange_ = PaidRecord::LimitChange{state_.moneyLimit, value};
        pendingReceipt_.clear();
        SaveJournal(book_);
    }
    state_.*setting = value;
    if (MayWrite() && shell_.saveSettings) {
        shell_.saveSettings();
    }
    return true;
}

void Ledger::Keep() {
    if (Record(book_) != written_ || book_.Charged()) {
        SaveJournal(book_);
    }
}

void Ledger::Tell(Trouble trouble, const std::string& text) {
    bool& told = told_[int(trouble)];
    if (!told && shell_.tell) {
        told = true;
        shell_.tell(text, trouble != Trouble::kDamaged);
    }
}

}  // namespace kv
