#include "shell/file_sync.h"

#include <QDir>

#include <windows.h>

#include <string>

namespace kv {

// QFile keeps its Win32 handle to itself (handle() is -1 for a file opened by name); the
// system's cache belongs to the file, so flushing through a second handle writes the same data.
bool SyncToDisk(QFile& file) {
    const std::wstring name = QDir::toNativeSeparators(file.fileName()).toStdWString();
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
}

}  // namespace kv
