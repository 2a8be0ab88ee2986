#include "platform/termination.h"

namespace kv {

// Windows ends a windowed program through WM_QUERYENDSESSION, which Qt reports as
// commitDataRequest; there is no signal to catch.
void QuitOnTerminationRequest(std::function<void()>) {}

}  // namespace kv
