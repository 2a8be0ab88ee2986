#include "platform/linux/dialup_links.h"

#include <unistd.h>
// glibc 2.36 declares these without C linkage.
extern "C" {
#include <sys/pidfd.h>
}
#include <QByteArray>
#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantMap>
#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>
#include <string_view>
#include <utility>

namespace kv {

namespace {

const QString kNmService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kNmPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kNmInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

// Two round trips at most per List, so a silent peer costs well under a second.
constexpr int kCallTimeoutMs = 300;

constexpr std::array<std::string_view, 5> kDialUpTypes = {"gsm", "cdma", "pppoe", "bluetooth",
                                                          "vpn"};

QDBusMessage NmCall(const QString& path, const QString& interface, const QString& member,
                    const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(kNmService, path, interface, member);
    message.setArguments(arguments);
    // Pressing the button must not start NetworkManager through bus activation.
    message.setAutoStartService(false);
    return message;
}

bool NoNetworkManager(const QDBusError& error) {
    return error.type() == QDBusError::ServiceUnknown || error.type() == QDBusError::Disconnected ||
           error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
}

// GDBus answers UnknownMethod for an object that no longer exists.
bool ObjectVanished(const QDBusError& error) {
    return error.type() == QDBusError::UnknownObject || error.type() == QDBusError::UnknownMethod ||
           error.type() == QDBusError::UnknownInterface;
}

LinkFailure FailureOf(const QDBusError& error) {
    if (error.type() == QDBusError::AccessDenied ||
        error.name() == QLatin1String("org.freedesktop.NetworkManager.PermissionDenied")) {
        return LinkFailure::kRefused;
    }
    if (NoNetworkManager(error)) {
        return LinkFailure::kNoService;
    }
    if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout) {
        return LinkFailure::kNoAnswer;
    }
    return LinkFailure::kFailed;
}

std::optional<QList<QDBusObjectPath>> ObjectPaths(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QList<QDBusObjectPath>>()) {
        return value.value<QList<QDBusObjectPath>>();
    }
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return std::nullopt;
    }
    const auto argument = value.value<QDBusArgument>();
    if (argument.currentSignature() != QLatin1String("ao")) {
        return std::nullopt;
    }
    QList<QDBusObjectPath> paths;
    argument >> paths;
    return paths;
}

bool IsDialUpType(const QString& type) {
    const std::string utf8 = type.toStdString();
    return std::find(kDialUpTypes.begin(), kDialUpTypes.end(), utf8) != kDialUpTypes.end();
}

std::string ReadSmallFile(const std::filesystem::path& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string text(limit, '\0');
    in.read(text.data(), std::streamsize(limit));
    text.resize(std::size_t(in.gcount()));
    return text;
}

// pppd writes "<pid>\n", and for a linkname file a second line with the interface.
std::optional<int> ParsePidFile(const std::string& text) {
    bool ok = false;
    const int pid = QByteArray::fromStdString(text.substr(0, text.find('\n'))).trimmed().toInt(&ok);
    return ok && pid > 0 ? std::optional(pid) : std::nullopt;
}

std::filesystem::path ProcFile(int pid, const char* name) {
    return std::filesystem::path("/proc") / std::to_string(pid) / name;
}

bool IsPppd(int pid) {
    return ReadSmallFile(ProcFile(pid, "comm"), 32) == "pppd\n";
}

// NetworkManager runs its own pppd with its plugin; that link is already listed from the bus.
// The kernel ends every argument with a NUL, so this finds an argument ending in the plugin.
bool ManagedByNetworkManager(int pid) {
    constexpr std::string_view kPlugin("nm-pppd-plugin.so", sizeof "nm-pppd-plugin.so");
    return ReadSmallFile(ProcFile(pid, "cmdline"), 64 * 1024).find(kPlugin) != std::string::npos;
}

std::string LinkName(const std::string& stem) {
    // "ppp-<linkname>.pid" carries the name the user gave the link.
    return stem.starts_with("ppp-") && stem.size() > 4 ? stem.substr(4) : stem;
}

// ESRCH: it exited meanwhile, so it is already down.
LinkFailure SignalFailure(int error) {
    return error == ESRCH   ? LinkFailure::kNone
           : error == EPERM ? LinkFailure::kRefused
                            : LinkFailure::kFailed;
}

// A pidfd held while the name is checked makes the signal reach that process whoever reuses the
// pid. Debian 12's kernels all have pidfds, so no kill() fallback (nor its pid 0, the group).
LinkFailure TerminatePppd(int pid) {
    const int pidfd = pidfd_open(pid, 0);
    if (pidfd < 0) {
        return SignalFailure(errno);
    }
    // Under another name the pid went to someone else after pppd exited: already down.
    LinkFailure result = LinkFailure::kNone;
    if (IsPppd(pid) && pidfd_send_signal(pidfd, SIGTERM, nullptr, 0) != 0) {
        result = SignalFailure(errno);
    }
    close(pidfd);
    return result;
}

}  // namespace

DialUpLinks::DialUpLinks(std::string runDirectory) : runDirectory_(std::move(runDirectory)) {}

DialUpLinks::DialUpLinks(QDBusConnection bus, std::string runDirectory)
    : runDirectory_(std::move(runDirectory)), bus_(std::move(bus)) {}

QDBusConnection DialUpLinks::Bus() {
    // Asked for on each use so that a system bus that comes up later is still found.
    return bus_ ? *bus_ : QDBusConnection::systemBus();
}

LinkFailure DialUpLinks::List(std::vector<Link>& links) {
    links.clear();
    const LinkFailure result = ListNetworkManager(links);
    if (result != LinkFailure::kNone) {
        links.clear();
    } else {
        ListPppd(links);
    }
    return result;
}

LinkFailure DialUpLinks::ListNetworkManager(std::vector<Link>& links) {
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) {
        return LinkFailure::kNone;
    }
    const QDBusReply<QDBusVariant> active =
        bus.call(NmCall(kNmPath, kPropertiesInterface, QStringLiteral("Get"),
                        {kNmInterface, QStringLiteral("ActiveConnections")}),
                 QDBus::Block, kCallTimeoutMs);
    if (!active.isValid()) {
        return NoNetworkManager(active.error()) ? LinkFailure::kNone : FailureOf(active.error());
    }
    const auto paths = ObjectPaths(active.value().variant());
    if (!paths) {
        return LinkFailure::kFailed;
    }

    // All questions go out before any answer is awaited, so the wait is one timeout at most.
    std::vector<QDBusPendingCall> pending;
    pending.reserve(std::size_t(paths->size()));
    for (const QDBusObjectPath& path : *paths) {
        pending.push_back(bus.asyncCall(
            NmCall(path.path(), kPropertiesInterface, QStringLiteral("GetAll"), {kActiveInterface}),
            kCallTimeoutMs));
    }
    LinkFailure result = LinkFailure::kNone;
    for (std::size_t i = 0; i < pending.size(); ++i) {
        QDBusPendingReply<QVariantMap> reply = pending[i];
        reply.waitForFinished();
        if (reply.isError()) {
            if (!ObjectVanished(reply.error()) && result == LinkFailure::kNone) {
                result = FailureOf(reply.error());
            }
            continue;
        }
        const QVariantMap properties = reply.value();
        if (!IsDialUpType(properties.value(QStringLiteral("Type")).toString())) {
            continue;
        }
        const QString path = (*paths)[qsizetype(i)].path();
        QString name = properties.value(QStringLiteral("Id")).toString();
        if (name.isEmpty()) {
            name = path.section(QLatin1Char('/'), -1);
        }
        links.push_back({name.toStdString(), path.toStdString(), 0});
    }
    return result;
}

void DialUpLinks::ListPppd(std::vector<Link>& links) const {
    std::error_code error;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(runDirectory_, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("ppp") && name.ends_with(".pid") && entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());

    std::set<int> seen;
    for (const auto& file : files) {
        const std::optional<int> pid = ParsePidFile(ReadSmallFile(file, 64));
        if (!pid || !seen.insert(*pid).second || !IsPppd(*pid) || ManagedByNetworkManager(*pid)) {
            continue;
        }
        links.push_back({LinkName(file.stem().string()), std::string(), *pid});
    }
}

LinkFailure DialUpLinks::HangUp(const Link& link) {
    if (link.nmActiveConnection.empty()) {
        return TerminatePppd(link.pppdPid);
    }
    QDBusConnection bus = Bus();
    if (!bus.isConnected()) {
        return LinkFailure::kNoService;
    }
    const QDBusMessage reply =
        bus.call(NmCall(kNmPath, kNmInterface, QStringLiteral("DeactivateConnection"),
                        {QVariant::fromValue(
                            QDBusObjectPath(QString::fromStdString(link.nmActiveConnection)))}),
                 QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ErrorMessage ||
        reply.errorName() == QLatin1String("org.freedesktop.NetworkManager.ConnectionNotActive")) {
        return LinkFailure::kNone;  // hung up, or already down
    }
    return FailureOf(QDBusError(reply));
}

}  // namespace kv
