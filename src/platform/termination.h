#pragma once

#include <functional>

namespace kv {

// Runs `quit` on the event loop when the system asks the program to end outside the desktop
// session's own protocol, which Qt already reports: on Linux SIGTERM (a shutdown without a
// session manager, `kill`), SIGHUP (its terminal closed) and SIGINT. Call once, after the
// application object exists.
void QuitOnTerminationRequest(std::function<void()> quit);

}  // namespace kv
