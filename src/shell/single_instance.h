#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

namespace kv {

// One running copy per user. A lock file decides who runs; a local socket beside it lets a
// refused copy ask the running one to show its window.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    // `directory` must be private to the user; it is created when missing.
    explicit SingleInstance(const QString& directory, QObject* parent = nullptr);

    // True: this process is the one copy and listens for others. False: another copy runs and
    // has been asked to show itself.
    bool Acquire();

    // The user's runtime folder, or a per-user folder in the temporary folder.
    static QString DefaultDirectory();

  signals:
    void ActivationRequested();

  private:
    void AskRunningCopyToShow();

    QString lockPath_;
    QString socketPath_;
    QLockFile lock_;
    QLocalServer server_;
};

}  // namespace kv
