#pragma once

#include <cstdint>

namespace kv {

// True only when the system says no process has this id; a process of another user, or one the
// system will not tell about, is taken as running.
bool ProcessIsGone(std::int64_t pid);

}  // namespace kv
