// A stand-in for the part of NetworkManager the hang-up uses: the ActiveConnections property,
// each active connection's Type and Id, and DeactivateConnection.
//
//   nm_standin --address ADDRESS [--connection TYPE:ID]... [--fail N[:ERROR]]...
//              [--silent list|details|hangup]... [--log FILE]
//
// Connections are numbered from 1 in the order given and live at
// /org/freedesktop/NetworkManager/ActiveConnection/N. A deactivated connection leaves
// ActiveConnections and its path is written as one line to the log (stdout without --log).
// --fail makes DeactivateConnection of N answer with ERROR (default
// org.freedesktop.NetworkManager.Failed); --silent never answers that kind of call. Without
// --address the system bus is used. Runs until killed or the bus goes away.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kService = QStringLiteral("org.freedesktop.NetworkManager");
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kConnectionPrefix =
    QStringLiteral("/org/freedesktop/NetworkManager/ActiveConnection/");
const QString kActive = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

struct Connection {
    QString path;
    QString type;
    QString id;
    QString failure;  // error name DeactivateConnection answers with; empty: succeeds
};

struct Options {
    QString address;
    std::vector<Connection> connections;
    QSet<QString> silent;
    QString log;
};

class NetworkManager : public QDBusVirtualObject {
  public:
    NetworkManager(Options options, QFile* log) : options_(std::move(options)), log_(log) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString& member = message.member();
        const QVariantList args = message.arguments();
        if (message.path() == kPath && member == QLatin1String("DeactivateConnection")) {
            if (options_.silent.contains(QStringLiteral("hangup"))) {
                return true;
            }
            return Deactivate(message, bus, args.value(0).value<QDBusObjectPath>().path());
        }
        if (message.interface() != kProperties) {
            return Reply(bus, message.createErrorReply(
                                  QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                  QStringLiteral("no such method")));
        }
        const QString interface = args.value(0).toString();
        if (message.path() == kPath && interface == kService) {
            if (options_.silent.contains(QStringLiteral("list"))) {
                return true;
            }
            const QVariantMap properties{
                {QStringLiteral("ActiveConnections"), QVariant::fromValue(ActivePaths())}};
            return Properties(message, bus, properties);
        }
        const Connection* connection = Find(message.path());
        if (connection == nullptr || interface != kActive) {
            return Reply(bus, message.createErrorReply(
                                  QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
                                  QStringLiteral("no such object or interface")));
        }
        if (options_.silent.contains(QStringLiteral("details"))) {
            return true;
        }
        const QVariantMap properties{{QStringLiteral("Type"), connection->type},
                                     {QStringLiteral("Id"), connection->id},
                                     {QStringLiteral("State"), 2u}};
        return Properties(message, bus, properties);
    }

  private:
    static bool Reply(const QDBusConnection& bus, const QDBusMessage& reply) {
        bus.send(reply);
        return true;
    }

    static bool Properties(const QDBusMessage& message, const QDBusConnection& bus,
                           const QVariantMap& properties) {
        if (message.member() == QLatin1String("GetAll")) {
            return Reply(bus, message.createReply(QVariant::fromValue(properties)));
        }
        const QString name = message.arguments().value(1).toString();
        if (message.member() != QLatin1String("Get") || !properties.contains(name)) {
            return Reply(bus, message.createErrorReply(
                                  QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs"),
                                  QStringLiteral("no such property")));
        }
        return Reply(bus, message.createReply(QVariant::fromValue(QDBusVariant(properties[name]))));
    }

    bool Deactivate(const QDBusMessage& message, const QDBusConnection& bus, const QString& path) {
        const auto it = std::find_if(active_.begin(), active_.end(),
                                     [&](const Connection& c) { return c.path == path; });
        if (it == active_.end()) {
            return Reply(bus,
                         message.createErrorReply(
                             QStringLiteral("org.freedesktop.NetworkManager.ConnectionNotActive"),
                             QStringLiteral("The connection was not active.")));
        }
        if (!it->failure.isEmpty()) {
            return Reply(bus, message.createErrorReply(it->failure,
                                                       QStringLiteral("refused by the stand-in")));
        }
        active_.erase(it);
        log_->write(path.toUtf8() + '\n');
        log_->flush();
        return Reply(bus, message.createReply());
    }

    QList<QDBusObjectPath> ActivePaths() const {
        QList<QDBusObjectPath> paths;
        for (const Connection& c : active_) {
            paths.append(QDBusObjectPath(c.path));
        }
        return paths;
    }

    const Connection* Find(const QString& path) const {
        for (const Connection& c : active_) {
            if (c.path == path) {
                return &c;
            }
        }
        return nullptr;
    }

    Options options_;
    std::vector<Connection>& active_{options_.connections};
    QFile* log_;
};

bool Parse(const QStringList& args, Options& options) {
    QMap<int, QString> failures;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& option = args[i];
        if (i + 1 >= args.size()) {
            return false;
        }
        const QString value = args[++i];
        if (option == QLatin1String("--address")) {
            options.address = value;
        } else if (option == QLatin1String("--connection")) {
            const QString type = value.section(QLatin1Char(':'), 0, 0);
            const QString id = value.section(QLatin1Char(':'), 1);
            const QString path =
                kConnectionPrefix + QString::number(options.connections.size() + 1);
            options.connections.push_back({path, type, id, {}});
        } else if (option == QLatin1String("--fail")) {
            bool ok = false;
            const int n = value.section(QLatin1Char(':'), 0, 0).toInt(&ok);
            const QString error = value.section(QLatin1Char(':'), 1);
            if (!ok) {
                return false;
            }
            failures[n] =
                error.isEmpty() ? QStringLiteral("org.freedesktop.NetworkManager.Failed") : error;
        } else if (option == QLatin1String("--silent")) {
            if (!QStringList{QStringLiteral("list"), QStringLiteral("details"),
                             QStringLiteral("hangup")}
                     .contains(value)) {
                return false;
            }
            options.silent.insert(value);
        } else if (option == QLatin1String("--log")) {
            options.log = value;
        } else {
            return false;
        }
    }
    for (auto it = failures.cbegin(); it != failures.cend(); ++it) {
        if (it.key() < 1 || std::size_t(it.key()) > options.connections.size()) {
            return false;
        }
        options.connections[std::size_t(it.key() - 1)].failure = it.value();
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    Options options;
    if (!Parse(app.arguments(), options)) {
        std::fputs(
            "usage: nm_standin --address ADDRESS [--connection TYPE:ID]... [--fail N[:ERROR]]... "
            "[--silent list|details|hangup]... [--log FILE]\n",
            stderr);
        return 2;
    }
    QFile log(options.log);
    const bool logOpen = options.log.isEmpty() ? log.open(stdout, QIODevice::WriteOnly)
                                               : log.open(QIODevice::WriteOnly | QIODevice::Append);
    if (!logOpen) {
        std::fputs("nm_standin: cannot open the log\n", stderr);
        return 2;
    }
    QDBusConnection bus = options.address.isEmpty() ? QDBusConnection::systemBus()
                                                    : QDBusConnection::connectToBus(
                                                          options.address, QStringLiteral("nm"));
    if (!bus.isConnected()) {
        std::fprintf(stderr, "nm_standin: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    NetworkManager manager(std::move(options), &log);
    if (!bus.registerVirtualObject(kPath, &manager, QDBusConnection::SubPath) ||
        !bus.registerService(kService)) {
        std::fputs("nm_standin: cannot take the NetworkManager name\n", stderr);
        return 1;
    }
    // A killed bus daemon must not leave the stand-in behind.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &app, [&] {
        if (!bus.isConnected()) {
            app.exit(0);
        }
    });
    watch.start(200);
    return app.exec();
}
