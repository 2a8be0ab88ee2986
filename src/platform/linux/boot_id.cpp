#include "platform/boot_id.h"

#include <QByteArray>
#include <QSysInfo>

namespace kv {

std::string BootId() {
    return QSysInfo::bootUniqueId().trimmed().toStdString();
}

}  // namespace kv
