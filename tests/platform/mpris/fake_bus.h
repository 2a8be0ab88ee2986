#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace kv::test {

// A child process that dies with the test even when the test crashes.
void TieToParent(QProcess& process);

// A private D-Bus session daemon for one test run.
class PrivateBus {
  public:
    PrivateBus();
    ~PrivateBus();
    bool Started() const { return !address_.isEmpty(); }
    QString Address() const { return address_; }
    // A fresh client connection of its own.
    QDBusConnection Connect(const QString& name) const;

  private:
    QProcess daemon_;
    QString address_;
};

// A stand-in media player on its own connection: answers GetAll from `properties`, or never when
// it hangs, and sends PropertiesChanged on request.
class FakePlayer : public QDBusVirtualObject {
  public:
    FakePlayer(const PrivateBus& bus, const QString& suffix, QVariantMap properties,
               bool hangs = false);
    ~FakePlayer() override;

    void Change(const QVariantMap& changed, const QStringList& invalidated = {});
    void SetProperties(QVariantMap properties) { properties_ = std::move(properties); }
    void Quit();
    int GetAllCalls() const { return getAllCalls_; }
    QDBusConnection Connection() const { return QDBusConnection(connectionName_); }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  private:
    QString connectionName_;
    QVariantMap properties_;
    bool hangs_;
    int getAllCalls_ = 0;
};

// Returns once the bus has passed on everything sent over `connection` so far: a message sent
// after this from any connection reaches a listener after those.
void PassedOn(const QDBusConnection& connection);

// PlaybackStatus and Metadata the way a player reports them.
QVariantMap PlayerProperties(const QString& status, const QVariantMap& metadata);

}  // namespace kv::test
