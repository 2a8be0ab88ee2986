#pragma once

#include <QFile>

namespace kv {

// Asks the system to put what was written to an open file on the disk. Qt offers this only
// inside QSaveFile::commit, which replaces a file and so cannot append; each platform's file
// (chosen by CMake) does it with its own call.
bool SyncToDisk(QFile& file);

}  // namespace kv
