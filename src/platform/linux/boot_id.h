#pragma once

#include <filesystem>
#include <string>

namespace kv {

// BootId() as read from proc/sys/kernel/random/boot_id and proc/stat under `root` ("/" for the
// running system).
std::string BootIdUnder(const std::filesystem::path& root);

}  // namespace kv
