#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"

namespace kv {

// The backend of the system the program was built for. `runDirectory` is where dial-up daemons
// keep their pid files, on systems that have them.
std::unique_ptr<Platform> CreatePlatform(const std::string& runDirectory);

}  // namespace kv
