#include "shell/file_sync.h"

#include <unistd.h>

namespace kv {

bool SyncToDisk(QFile& file) {
    return file.handle() >= 0 && ::fsync(file.handle()) == 0;
}

}  // namespace kv
