#include "platform/linux/media_players.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QVariantMap>
#include <map>

namespace kv {

namespace {

constexpr char kBusService[] = "org.freedesktop.DBus";
constexpr char kBusPath[] = "/org/freedesktop/DBus";
constexpr char kBusInterface[] = "org.freedesktop.DBus";
constexpr char kPropertiesInterface[] = "org.freedesktop.DBus.Properties";
constexpr char kPlayerPrefix[] = "org.mpris.MediaPlayer2.";
constexpr char kPlayerPath[] = "/org/mpris/MediaPlayer2";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
// A player that hangs only delays its own data; the limit just bounds how long a call stays open.
constexpr int kCallTimeoutMs = 10000;
// The ticker handles titles of a few hundred characters; a runaway tag must not cost more.
constexpr qsizetype kMaxTitleChars = 512;

enum class Status { kUnknown, kStopped, kPaused, kPlaying };

struct Player {
    std::uintptr_t handle = 0;
    // The unique name: signals carry it as their sender, not the well-known name.
    QString owner;
    Status status = Status::kUnknown;
    qlonglong track = 0;
    QStringList artists;
    QString title;
    QString url;
    // Composed when the player announces a change, not at each of the ticker's four reads a
    // second.
    std::string windowTitle;
    // At most one GetAll per player in flight; more invalidations only mark it to be repeated.
    bool fetching = false;
    bool fetchAgain = false;
};

bool IsPlayerName(const QString& name) {
    return name.size() > qsizetype(sizeof kPlayerPrefix - 1) && name.startsWith(kPlayerPrefix);
}

QString ToText(const QVariant& v) {
    return v.typeId() == QMetaType::QString ? v.toString() : QString();
}

QStringList ToTexts(const QVariant& v) {
    if (v.typeId() == QMetaType::QStringList) {
        return v.toStringList();
    }
    // Some players send a single string where a list is due.
    if (v.typeId() == QMetaType::QString) {
        return {v.toString()};
    }
    return {};
}

qlonglong ToNumber(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::UChar:
            return v.toLongLong();
        default:
            return 0;
    }
}

QVariantMap ToMap(const QVariant& v) {
    if (v.metaType() == QMetaType::fromType<QDBusArgument>()) {
        const auto arg = v.value<QDBusArgument>();
        QVariantMap map;
        if (arg.currentSignature() == QLatin1String("a{sv}")) {
            arg >> map;
        }
        return map;
    }
    return v.toMap();
}

Status ToStatus(const QString& s) {
    if (s == QLatin1String("Playing")) {
        return Status::kPlaying;
    }
    if (s == QLatin1String("Paused")) {
        return Status::kPaused;
    }
    if (s == QLatin1String("Stopped")) {
        return Status::kStopped;
    }
    return Status::kUnknown;
}

int Rank(Status s) {
    switch (s) {
        case Status::kPlaying:
            return 2;
        case Status::kPaused:
            return 1;
        default:
            return 0;
    }
}

// The way the old player titled its window, so the ticker's trimming applies unchanged.
std::string WindowTitle(const Player& p) {
    QStringList parts;
    if (!p.artists.isEmpty()) {
        parts << p.artists.join(QStringLiteral(", "));
    }
    QString name = p.title;
    if (name.isEmpty() && !p.url.isEmpty()) {
        name = QFileInfo(QUrl(p.url).fileName()).completeBaseName();
    }
    if (!name.isEmpty()) {
        parts << name;
    }
    QString body = parts.join(QStringLiteral(" - ")).left(kMaxTitleChars);
    // A window title is one line.
    for (QChar& c : body) {
        if (c.category() == QChar::Other_Control) {
            c = u' ';
        }
    }
    QString text = p.track > 0 ? QString::number(p.track) + QStringLiteral(". ") : QString();
    text += body + QStringLiteral(" - Winamp");
    if (p.status == Status::kPaused) {
        text += QStringLiteral(" [Paused]");
    } else if (p.status == Status::kStopped) {
        text += QStringLiteral(" [Stopped]");
    }
    return text.toStdString();
}

void Apply(Player& p, const QVariantMap& props) {
    if (const auto it = props.find(QStringLiteral("PlaybackStatus")); it != props.end()) {
        p.status = ToStatus(ToText(*it));
    }
    if (const auto it = props.find(QStringLiteral("Metadata")); it != props.end()) {
        const QVariantMap m = ToMap(*it);
        p.title = ToText(m.value(QStringLiteral("xesam:title")));
        p.artists = ToTexts(m.value(QStringLiteral("xesam:artist")));
        p.artists.removeAll(QString());
        p.track = ToNumber(m.value(QStringLiteral("xesam:trackNumber")));
        p.url = ToText(m.value(QStringLiteral("xesam:url")));
    }
    p.windowTitle = WindowTitle(p);
}

}  // namespace

class MediaPlayersPrivate : public QObject {
    Q_OBJECT

  public:
    explicit MediaPlayersPrivate(const QDBusConnection& bus) : bus_(bus) {
        if (!bus_.isConnected()) {
            return;
        }
        // Subscribe before listing, so no player can slip between the list and the signals.
        bus_.connect(kBusService, kBusPath, kBusInterface, QStringLiteral("NameOwnerChanged"), this,
                     SLOT(OnNameOwnerChanged(QString, QString, QString)));
        // One subscription for every sender: naming each player would make QtDBus look up its
        // owner with a blocking call.
        bus_.connect(QString(), kPlayerPath, kPropertiesInterface,
                     QStringLiteral("PropertiesChanged"), {QString(kPlayerInterface)},
                     QStringLiteral("sa{sv}as"), this,
                     SLOT(OnPropertiesChanged(QString, QVariantMap, QStringList, QDBusMessage)));
        Call(QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface,
                                            QStringLiteral("ListNames")),
             [this](const QDBusPendingCallWatcher& w) { OnListNames(w); });
    }

    std::uintptr_t Current() const {
        const Player* best = nullptr;
        for (const auto& [name, p] : players_) {
            if (best == nullptr || Rank(p.status) > Rank(best->status) ||
                (Rank(p.status) == Rank(best->status) && p.handle < best->handle)) {
                best = &p;
            }
        }
        return best != nullptr ? best->handle : 0;
    }

    std::string Title(std::uintptr_t handle) const {
        for (const auto& [name, p] : players_) {
            if (p.handle == handle) {
                return p.windowTitle;
            }
        }
        return {};
    }

  private slots:
    void OnNameOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner) {
        Q_UNUSED(oldOwner);
        if (!IsPlayerName(name)) {
            return;
        }
        const auto it = players_.find(name);
        if (it != players_.end() && !newOwner.isEmpty() && it->second.owner == newOwner) {
            return;
        }
        if (it != players_.end()) {
            players_.erase(it);
        }
        if (!newOwner.isEmpty()) {
            Add(name, newOwner);
        }
    }

    void OnPropertiesChanged(const QString& interface, const QVariantMap& changed,
                             const QStringList& invalidated, const QDBusMessage& message) {
        if (interface != QLatin1String(kPlayerInterface)) {
            return;
        }
        const QString sender = message.service();
        const bool stale = invalidated.contains(QStringLiteral("PlaybackStatus")) ||
                           invalidated.contains(QStringLiteral("Metadata"));
        for (auto& [name, p] : players_) {
            if (p.owner == sender) {
                Apply(p, changed);
                if (stale) {
                    Fetch(name);
                }
            }
        }
    }

  private:
    template <typename Done>
    void Call(const QDBusMessage& message, Done done) {
        auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [done](QDBusPendingCallWatcher* w) {
                    w->deleteLater();
                    done(*w);
                });
    }

    void OnListNames(const QDBusPendingCallWatcher& w) {
        const QDBusPendingReply<QStringList> reply = w;
        if (reply.isError()) {
            return;
        }
        for (const QString& name : reply.value()) {
            if (IsPlayerName(name) && !players_.contains(name)) {
                Add(name, QString());
                ResolveOwner(name);
            }
        }
    }

    void Add(const QString& name, const QString& owner) {
        Player& p = players_[name];
        p.handle = nextHandle_++;
        p.owner = owner;
        p.windowTitle = WindowTitle(p);
        Fetch(name);
    }

    // Owner replies come from the bus itself, so they arrive before the player's own answers.
    void ResolveOwner(const QString& name) {
        auto message = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusInterface,
                                                      QStringLiteral("GetNameOwner"));
        message << name;
        Call(message, [this, name, handle = players_[name].handle](const auto& w) {
            Player* p = Find(name, handle);
            if (p == nullptr) {
                return;
            }
            const QDBusPendingReply<QString> reply = w;
            if (reply.isError()) {
                // Gone before we asked.
                players_.erase(name);
            } else if (p->owner.isEmpty()) {
                p->owner = reply.value();
            }
        });
    }

    void Fetch(const QString& name) {
        Player& p = players_[name];
        if (p.fetching) {
            p.fetchAgain = true;
            return;
        }
        p.fetching = true;
        auto message = QDBusMessage::createMethodCall(name, kPlayerPath, kPropertiesInterface,
                                                      QStringLiteral("GetAll"));
        message << QString(kPlayerInterface);
        Call(message, [this, name, handle = p.handle](const auto& w) {
            Player* p = Find(name, handle);
            if (p == nullptr) {
                return;
            }
            p->fetching = false;
            const QDBusPendingReply<QVariantMap> reply = w;
            if (!reply.isError()) {
                Apply(*p, reply.value());
                if (p->owner.isEmpty()) {
                    p->owner = reply.reply().service();
                }
            }
            if (p->fetchAgain) {
                p->fetchAgain = false;
                Fetch(name);
            }
        });
    }

    // The player a reply was meant for, unless it has quit (or quit and come back) meanwhile.
    Player* Find(const QString& name, std::uintptr_t handle) {
        const auto it = players_.find(name);
        return it != players_.end() && it->second.handle == handle ? &it->second : nullptr;
    }

    QDBusConnection bus_;
    std::map<QString, Player> players_;
    std::uintptr_t nextHandle_ = 1;
};

MediaPlayers::MediaPlayers() : MediaPlayers(QDBusConnection::sessionBus()) {}

MediaPlayers::MediaPlayers(const QDBusConnection& bus)
    : d_(std::make_unique<MediaPlayersPrivate>(bus)) {}

MediaPlayers::~MediaPlayers() = default;

std::uintptr_t MediaPlayers::Current() {
    return d_->Current();
}

std::string MediaPlayers::Title(std::uintptr_t player) {
    return d_->Title(player);
}

}  // namespace kv

#include "media_players.moc"
