#include "platform/platform_factory.h"

#include "platform/win32/win32_core.h"

namespace kv {

std::unique_ptr<Platform> CreatePlatform() {
    return std::make_unique<win32::Core>();
}

}  // namespace kv
