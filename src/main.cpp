#include <QApplication>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>

#include "accounting/program_state.h"
#include "platform/boot_id.h"
#include "platform/platform_factory.h"
#include "platform/termination.h"
#include "shell/single_instance.h"
#include "ui/common/desktop.h"
#include "ui/main/form1.h"

namespace {

// Window placement and the stay-on-top band need X11; under Wayland the program runs through
// XWayland unless the user chose a platform.
void PreferX11UnderWayland() {
    if (qEnvironmentVariableIsSet("WAYLAND_DISPLAY") && qEnvironmentVariableIsSet("DISPLAY") &&
        !qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "xcb");
    }
}

// Shared-memory images make each repaint wait for the X server; a user's own choice stands.
void PaintWithoutWaitingForTheServer() {
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", "1");
    }
}

// Nobody can answer a modal box on a platform without a screen; it would keep the copy alive.
void Tell(kv::Desktop& desktop, const std::string& text, bool critical) {
    const QString name = QGuiApplication::platformName();
    if (name != QLatin1String("offscreen") && name != QLatin1String("minimal")) {
        desktop.ShowMessage(text, critical);
    } else {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    PreferX11UnderWayland();
    PaintWithoutWaitingForTheServer();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kvotomer"));
    // The program ends only through the exit command or a fatal stop, never because its last
    // window was hidden to the tray.
    QApplication::setQuitOnLastWindowClosed(false);

    const std::unique_ptr<kv::Platform> backend = kv::CreatePlatform();
    kv::Platform& platform = *backend;
    kv::QtDesktop desktop;
    kv::SingleInstance instance(kv::SingleInstance::DefaultDirectory());
    switch (instance.Acquire()) {
        case kv::SingleInstance::Outcome::kThisCopy:
            break;
        case kv::SingleInstance::Outcome::kAnotherCopy:
            Tell(desktop, "Программа уже запущена!", false);
            return 0;
        case kv::SingleInstance::Outcome::kFailed:
            Tell(desktop, instance.FailureText().toStdString(), true);
            return 1;
    }

    kv::ProgramState state;
    kv::Form1 form(state, platform, desktop);
    // A folder of its own for data.dat, as portable set-ups want.
    form.SetDataDirectory(qEnvironmentVariable("KVOTOMER_DATA_DIR"));
    form.SetBootId(kv::BootId());
    QObject::connect(&instance, &kv::SingleInstance::ActivationRequested, &form,
                     &kv::Form1::ShowFromAnotherCopy);
    // Logging off: keep what was counted and where the windows are, which the per-change saves
    // do not cover.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&form] { form.KeepProgress(); });
    // Asked to end by the system: leave as the exit command does, keeping what the per-change
    // saves do not cover (where the windows are). Installed before loading, so a request that
    // comes meanwhile waits for the event loop instead of killing a half-started copy.
    bool terminated = false;
    kv::QuitOnTerminationRequest([&form, &terminated] {
        terminated = true;
        form.Command1_Click();
    });
    form.Form_Load();
    form.show();
    const int code = QApplication::exec();
    if (!terminated) {
        // Nobody is there to answer a box while the system shuts down.
        form.ShowPendingSettingsTrouble();
    }
    return code;
}
