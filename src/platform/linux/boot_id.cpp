#include "platform/linux/boot_id.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include "platform/boot_id.h"

namespace kv {

namespace {

QString Under(const std::filesystem::path& root, const char* file) {
    return QString::fromStdString((root / file).string());
}

std::string KernelBootId(const QString& path) {
    QFile file(path);
    // A boot_id is a UUID: a file this long was not written by the kernel.
    constexpr qint64 kMaxFileSize = 4096;
    const QByteArray bytes =
        file.open(QIODevice::ReadOnly) ? file.read(kMaxFileSize + 1) : QByteArray();
    const std::string id = bytes.trimmed().toStdString();
    return bytes.size() <= kMaxFileSize && IsPlainBootId(id) ? id : std::string();
}

// The "btime" line: the clock at boot in seconds, as the kernel reckons it now.
std::string BootTime(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 1 && fields[0] == "btime") {
            bool ok = false;
            const qulonglong seconds = fields.size() == 2 ? fields[1].toULongLong(&ok) : 0;
            return ok ? "btime-" + std::to_string(seconds) : std::string();
        }
    }
    return {};
}

}  // namespace

// The kernel's random boot_id names the boot; when it cannot be read, the boot time still tells
// a restart apart, though setting the clock moves it.
std::string BootIdUnder(const std::filesystem::path& root) {
    std::string id = KernelBootId(Under(root, "proc/sys/kernel/random/boot_id"));
    return id.empty() ? BootTime(Under(root, "proc/stat")) : id;
}

std::string BootId() {
    return BootIdUnder("/");
}

}  // namespace kv
