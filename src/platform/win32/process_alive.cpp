#include "platform/process_alive.h"

#include <windows.h>

namespace kv {

bool ProcessIsGone(std::int64_t pid) {
    if (pid <= 0 || pid > MAXDWORD) {
        return false;
    }
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (process == nullptr) {
        // Any other refusal (another user's process) says the id is in use.
        return GetLastError() == ERROR_INVALID_PARAMETER;
    }
    // A handle can outlive its process while somebody still holds one.
    const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

}  // namespace kv
