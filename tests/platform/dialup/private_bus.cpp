#include "platform/dialup/private_bus.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

namespace kv::test {

namespace {

constexpr char kConfig[] =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=%1</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
)";

int connectionCount = 0;

}  // namespace

PrivateBus::PrivateBus() {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (program.isEmpty() || !dir_.isValid()) {
        return;
    }
    QFile config(dir_.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly)) {
        return;
    }
    config.write(
        QString::fromLatin1(kConfig).arg(dir_.filePath(QStringLiteral("socket"))).toUtf8());
    config.close();
    daemon_.start(program, {QStringLiteral("--nofork"), QStringLiteral("--print-address"),
                            QStringLiteral("--config-file=") + config.fileName()});
    if (!daemon_.waitForStarted(5000)) {
        return;
    }
    const QDeadlineTimer deadline(5000);
    while (!daemon_.canReadLine() && !deadline.hasExpired()) {
        daemon_.waitForReadyRead(100);
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : connections_) {
        QDBusConnection::disconnectFromBus(name);
    }
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
}

QDBusConnection PrivateBus::Connect() {
    const QString name = QStringLiteral("kv-test-%1").arg(++connectionCount);
    connections_.append(name);
    return QDBusConnection::connectToBus(address_, name);
}

NmStandIn::NmStandIn(PrivateBus& bus, const QStringList& options) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(QStringLiteral(KV_NM_STANDIN),
                   QStringList{QStringLiteral("--address"), bus.Address(), QStringLiteral("--log"),
                               dir_.filePath(QStringLiteral("log"))} +
                       options);
    QDBusConnection watcher = bus.Connect();
    const QDeadlineTimer deadline(5000);
    while (process_.state() != QProcess::NotRunning && !deadline.hasExpired()) {
        if (watcher.interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.NetworkManager"))) {
            ready_ = true;
            return;
        }
        QThread::msleep(20);
    }
}

NmStandIn::~NmStandIn() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

QStringList NmStandIn::Deactivated() const {
    QFile log(dir_.filePath(QStringLiteral("log")));
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString NmStandIn::Path(int connection) {
    return QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/%1").arg(connection);
}

QDBusConnection NoBus() {
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kv-no-bus"),
                                         QStringLiteral("kv-no-bus"));
}

}  // namespace kv::test
