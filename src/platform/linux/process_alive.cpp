#include "platform/process_alive.h"

#include <cerrno>
#include <csignal>

namespace kv {

bool ProcessIsGone(std::int64_t pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

}  // namespace kv
