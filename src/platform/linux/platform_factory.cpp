#include "platform/platform_factory.h"

#include "platform/linux/linux_platform.h"

namespace kv {

std::unique_ptr<Platform> CreatePlatform() {
    return std::make_unique<LinuxPlatform>();
}

}  // namespace kv
