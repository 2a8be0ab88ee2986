#include "platform/termination.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace kv {

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int wakeFds[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
}

}  // namespace

void QuitOnTerminationRequest(std::function<void()> quit) {
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;  // the signals keep their default action: the program ends as before
    }
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp,
                     [notifier, quit = std::move(quit)] {
                         char bytes[16];
                         while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
                         }
                         // A second signal while the first is handled asks nothing new.
                         notifier->setEnabled(false);
                         quit();
                     });
    struct sigaction action = {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace kv
