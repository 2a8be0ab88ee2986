#pragma once

#include <QTemporaryDir>
#include <memory>

#include "accounting/program_state.h"
#include "support/fake_desktop.h"
#include "support/fake_platform.h"
#include "ui/main/form1.h"

namespace kv::test {

// What a main-window test works on: its own settings folder, the scripted system and desktop,
// the program state and the window.
struct MainWindowRig {
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<FakePlatform> platform;
    std::unique_ptr<FakeDesktop> desktop;
    std::unique_ptr<ProgramState> state;
    std::unique_ptr<Form1> form;
};

}  // namespace kv::test
