#include "fake_bus.h"

#include <sys/prctl.h>

#include <QDBusConnectionInterface>
#include <QUuid>
#include <csignal>

namespace kv::test {

namespace {

constexpr char kPath[] = "/org/mpris/MediaPlayer2";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr char kPlayer[] = "org.mpris.MediaPlayer2.Player";

}  // namespace

void TieToParent(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

PrivateBus::PrivateBus() {
    TieToParent(daemon_);
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
    if (!daemon_.waitForStarted(5000)) {
        return;
    }
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
}

QDBusConnection PrivateBus::Connect(const QString& name) const {
    return QDBusConnection::connectToBus(address_, name);
}

FakePlayer::FakePlayer(const PrivateBus& bus, const QString& suffix, QVariantMap properties,
                       bool hangs)
    : connectionName_(QStringLiteral("player-") + QUuid::createUuid().toString()),
      properties_(std::move(properties)),
      hangs_(hangs) {
    QDBusConnection c = bus.Connect(connectionName_);
    c.registerVirtualObject(kPath, this);
    c.interface()->registerService(QStringLiteral("org.mpris.MediaPlayer2.") + suffix);
}

FakePlayer::~FakePlayer() {
    Quit();
}

bool FakePlayer::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    if (message.interface() != QLatin1String(kProperties) ||
        message.member() != QLatin1String("GetAll")) {
        return false;
    }
    ++getAllCalls_;
    if (!hangs_) {
        connection.send(message.createReply(QVariant::fromValue(properties_)));
    }
    return true;
}

void FakePlayer::Change(const QVariantMap& changed, const QStringList& invalidated) {
    auto signal =
        QDBusMessage::createSignal(kPath, kProperties, QStringLiteral("PropertiesChanged"));
    signal << QString(kPlayer) << changed << invalidated;
    QDBusConnection(connectionName_).send(signal);
}

void FakePlayer::Quit() {
    QDBusConnection::disconnectFromBus(connectionName_);
}

void PassedOn(const QDBusConnection& connection) {
    // The bus handles one connection's messages in order, so its answer comes after them.
    connection.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
}

QVariantMap PlayerProperties(const QString& status, const QVariantMap& metadata) {
    return {{QStringLiteral("PlaybackStatus"), status},
            {QStringLiteral("Metadata"), metadata},
            {QStringLiteral("Volume"), 1.0}};
}

}  // namespace kv::test
