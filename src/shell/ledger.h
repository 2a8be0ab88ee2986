#pragma once

#include <QDateTime>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "accounting/program_state.h"
#include "accounting/traffic_book.h"
#include "platform/platform.h"
#include "shell/paid_file.h"
#include "shell/receipts.h"
#include "stats/traf_meter.h"

namespace kv {

// The one owner of the money: it reads the interface table, counts the charged interface's
// traffic, takes what was used off the limit and decides every write that keeps this safe and in
// which order, so that no byte is charged twice or forgotten however a run ends. It publishes
// the figures in the program state (the money limit, the tariff and the last tick's figures are
// written nowhere else); the windows show them and hand it the user's actions.
class Ledger {
  public:
    // What the ledger needs of the program around it.
    struct Shell {
        // Writes data.dat from the program state.
        std::function<void()> saveSettings;
        // A problem for the user; each kind is told once a run. `failedWrite`: a file could not
        // be written, as a failed data.dat save is.
        std::function<void(const std::string& text, bool failedWrite)> tell;
        // The program changed the money limit; the text is the new limit as it is shown.
        std::function<void(const std::string& text)> limitChanged;
    };

    // The charged interface as the last tick counted it.
    struct Reading {
        std::int32_t row = -1;
        std::string description;
        TrafficBook::Totals totals;
    };

    Ledger(ProgramState& state, Platform& platform) : state_(state), meter_(platform) {}

    void SetShell(Shell shell) { shell_ = std::move(shell); }
    // Which boot of the system this is; set before Load. Marks of another boot are forgotten.
    void SetBootId(std::string id) { bootId_ = std::move(id); }
    // Local time for receipts and the journal's pace; the system's unless a test sets one.
    void SetClock(std::function<QDateTime()> now) { now_ = std::move(now); }

    TrafMeter& Meter() { return meter_; }
    const TrafMeter& Meter() const { return meter_; }
    const TrafficBook& Book() const { return book_; }

    // Start-up: reads the table and the journal beside data.dat and takes up where the last run
    // left off, writing nothing yet. `mayWrite` false: this run leaves every file as it is.
    // False when the table is empty.
    bool Load(const QString& settingsPath, bool mayWrite);
    // Start-up is over: what it found to charge or to complete is charged and written now.
    void Started();
    // The row to watch first: the charged session's interface when it goes on, else as ResumeRow.
    std::int32_t StartRow(std::int32_t savedRow) const;

    // One read of the table with all that follows from it: a charged interface that went is
    // charged at once (or once a usable tariff can price it), and what was counted reaches the
    // journal at least every few seconds. False when the table is empty: nothing else is done.
    bool Refresh();
    // The row of the charged interface; -1 when it is not in the table.
    std::int32_t ChargedRow() const;
    // While waiting: the row that is the watched link come back, or -1 to go on waiting. Before
    // the program has ever seen the watched interface the saved row stands in for it; after, only
    // a row that appeared since the link went and is the only one of that description.
    std::int32_t ResumeRow(std::int32_t savedRow) const;
    // The interface at this row is charged from now on.
    void Watch(std::int32_t row);
    // The figures of one accounting tick into the program state; nothing when no interface is
    // watched.
    std::optional<Reading> Tick();
    // Nothing is watched: the figures say so and the next tick shows no speed.
    void Idle();

    // The disconnect button: the money left becomes the limit and the charged totals start again.
    void CarryOver();
    // The user's new tariff or money limit. False, changing nothing, when the pair would give no
    // traffic limit.
    bool Commit(float ProgramState::*setting, float value);
    // Every way out: the journal takes what has been counted.
    void Keep();
    // A fatal stop: nothing more is written.
    void Halt() { halted_ = true; }

  private:
    enum class Trouble { kJournal, kDamaged, kReceipts, kCount };

    bool MayWrite() const { return mayWrite_ && !halted_; }
    std::int32_t RowOf(std::uint32_t index) const;
    PaidRecord Record(const TrafficBook& book) const;
    // Writes the journal as `book` would leave it; true when it is on disk or nothing may be
    // written this run.
    bool SaveJournal(const TrafficBook& book);
    // A change of the limit made by the program, all or nothing: the journal first, with the
    // new limit and the receipt; then the receipt, then data.dat. A stop at any moment leaves a
    // journal that start-up can complete, never a limit lowered without its record.
    bool Transact(TrafficBook next, float after, const std::string& text,
                  std::optional<Receipt> receipt, bool figuresRestart = false);
    void SettleUnpaid();
    void AppendReceipt(const std::string& line);
    // The readings of an earlier journal format at the width of the counters now.
    PaidRecord Widened(PaidRecord record) const;
    void CompleteInterruptedChange(const PaidRecord& record);
    void Tell(Trouble trouble, const std::string& text);
    QDateTime Now() const { return now_ ? now_() : QDateTime::currentDateTime(); }

    ProgramState& state_;
    TrafMeter meter_;
    TrafficBook book_;
    std::string bootId_;
    Shell shell_;
    std::function<QDateTime()> now_;
    QString journalPath_;
    QString receiptsPath_;
    bool mayWrite_ = false;
    bool halted_ = false;
    bool starting_ = true;

    // What the journal holds beside the book.
    double owed_ = 0;
    std::optional<PaidRecord::LimitChange> limitChange_;
    std::string pendingReceipt_;
    std::string watched_;
    // Where unpaid traffic came from, for its receipt.
    Receipt::Cause unpaidCause_ = Receipt::Cause::kLinkDropped;
    std::string unpaidDescription_;
    // The interfaces there when the watched one went: none of them is the link come back.
    std::vector<std::uint32_t> presentWhenLost_;
    bool lostBefore_ = false;

    std::optional<PaidRecord> written_;
    QDateTime writtenAt_;
    bool settingsOwed_ = false;
    bool told_[int(Trouble::kCount)] = {};
};

}  // namespace kv
