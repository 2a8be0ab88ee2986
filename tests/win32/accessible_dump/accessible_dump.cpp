// Every 200 ms, writes each visible window's accessibility tree to the file KV_ACCESSIBLE_DUMP
// names, one node a line, tab-separated:
//   window title, depth, role, name, description, showing|hidden, selected|-, x,y,w,h on screen
// The file is replaced whole, so a reader never sees half a tree.
#include <QAccessible>
#include <QApplication>
#include <QGenericPlugin>
#include <QMetaEnum>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>

#include <utility>

namespace {

QString OneLine(QString text) {
    return text.replace(QLatin1Char('\t'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
}

void Describe(const QString& window, QAccessibleInterface* node, int depth, QByteArray& out) {
    if (node == nullptr || !node->isValid()) {
        return;
    }
    const QAccessible::State state = node->state();
    const QRect r = node->rect();
    const QStringList fields = {
        window,
        QString::number(depth),
        QString::fromLatin1(QMetaEnum::fromType<QAccessible::Role>().valueToKey(node->role())),
        node->text(QAccessible::Name),
        node->text(QAccessible::Description),
        state.invisible ? QStringLiteral("hidden") : QStringLiteral("showing"),
        state.selected ? QStringLiteral("selected") : QStringLiteral("-"),
        QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()),
    };
    QStringList cleaned;
    for (const QString& field : fields) {
        cleaned << OneLine(field);
    }
    out += cleaned.join(QLatin1Char('\t')).toUtf8() + '\n';
    for (int i = 0; i < node->childCount(); ++i) {
        Describe(window, node->child(i), depth + 1, out);
    }
}

class AccessibleDump : public QObject {
  public:
    explicit AccessibleDump(QString path) : path_(std::move(path)) {
        connect(&timer_, &QTimer::timeout, this, &AccessibleDump::Write);
        timer_.start(200);
    }

  private:
    void Write() {
        QByteArray out;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->isVisible()) {
                Describe(window->windowTitle(), QAccessible::queryAccessibleInterface(window), 0,
                         out);
            }
        }
        QSaveFile file(path_);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(out);
            file.commit();
        }
    }

    QString path_;
    QTimer timer_;
};

}  // namespace

class AccessibleDumpPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "accessible_dump.json")

  public:
    // Qt deletes what this returns when the application ends.
    QObject* create(const QString& key, const QString&) override {
        const QString path = qEnvironmentVariable("KV_ACCESSIBLE_DUMP");
        if (key != QLatin1String("kvaccessibledump") || path.isEmpty()) {
            return nullptr;
        }
        return new AccessibleDump(path);
    }
};

#include "accessible_dump.moc"
