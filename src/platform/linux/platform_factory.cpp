#include "platform/platform_factory.h"

#include "platform/linux/linux_platform.h"

namespace kv {

std::unique_ptr<Platform> CreatePlatform(const std::string& runDirectory) {
    return std::make_unique<LinuxPlatform>(runDirectory.empty() ? "/run" : runDirectory);
}

}  // namespace kv
