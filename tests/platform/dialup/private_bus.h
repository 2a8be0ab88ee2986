#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace kv::test {

// A bus daemon of its own for one test, allowing everything; not started when dbus-daemon is
// missing.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool Started() const { return !address_.isEmpty(); }
    const QString& Address() const { return address_; }
    QDBusConnection Connect();

  private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList connections_;
};

// The nm_standin helper on a private bus, ready once it owns NetworkManager's name.
class NmStandIn {
  public:
    NmStandIn(PrivateBus& bus, const QStringList& options);
    ~NmStandIn();
    NmStandIn(const NmStandIn&) = delete;
    NmStandIn& operator=(const NmStandIn&) = delete;

    bool Ready() const { return ready_; }
    QStringList Deactivated() const;

    static QString Path(int connection);

  private:
    QTemporaryDir dir_;
    QProcess process_;
    bool ready_ = false;
};

// A client connection to an address nothing listens on.
QDBusConnection NoBus();

}  // namespace kv::test
