#pragma once

#include <memory>

#include "platform/platform.h"

namespace kv {

// The backend of the system the program was built for.
std::unique_ptr<Platform> CreatePlatform();

}  // namespace kv
