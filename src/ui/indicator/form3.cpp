#include "ui/indicator/form3.h"

namespace kv {

Form3::Form3(ProgramState& state, Platform& platform, PlayerTicker& ticker,
             const QTimer& accountingTimer, QWidget* parent)
    : QWidget(parent),
      state_(state),
      platform_(platform),
      ticker_(ticker),
      accountingTimer_(accountingTimer) {}

void Form3::Form_Load() {}

void Form3::StopTimers() {}

}  // namespace kv
