#include <QApplication>

#include "platform/linux/linux_platform.h"
#include "shell/program_state.h"
#include "ui/main/form1.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    kv::LinuxPlatform platform;
    kv::ProgramState state;
    kv::Form1 form(state, platform);
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
