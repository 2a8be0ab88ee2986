#include "platform/platform_factory.h"

#include "platform/win32/win32_core.h"

namespace kv {

// Windows keeps no pid files for its dial-up connections: Remote Access lists them.
std::unique_ptr<Platform> CreatePlatform(const std::string&) {
    return std::make_unique<win32::Core>();
}

}  // namespace kv
