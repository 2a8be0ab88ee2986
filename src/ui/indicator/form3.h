#pragma once

#include <QWidget>

#include "platform/platform.h"
#include "shell/program_state.h"

class QTimer;

namespace kv {

class PlayerTicker;

// The floating indicator.
class Form3 : public QWidget {
    Q_OBJECT

public:
    Form3(ProgramState& state, Platform& platform, PlayerTicker& ticker,
          const QTimer& accountingTimer, QWidget* parent = nullptr);

    void Form_Load();
    void StopTimers();

private:
    ProgramState& state_;
    Platform& platform_;
    PlayerTicker& ticker_;
    const QTimer& accountingTimer_;
};

}  // namespace kv
