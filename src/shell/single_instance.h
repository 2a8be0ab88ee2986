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

    enum class Outcome {
        kThisCopy,     // the one copy: it listens for the others
        kAnotherCopy,  // a live copy holds the lock and has been asked to show itself
        kFailed,       // no lock could be taken, so nobody can tell; see FailureText
    };
    Outcome Acquire();
    // Why Acquire failed, in Russian, naming the folder.
    const QString& FailureText() const { return failure_; }

    // The user's runtime folder, or a per-user folder in the temporary folder.
    static QString DefaultDirectory();

  signals:
    void ActivationRequested();

  private:
    enum class Holder { kLiveCopy, kDeadCopy, kNoLock };
    bool TakeOverOwnNumber();
    Holder LockHolder() const;
    Outcome Fail(const QString& what);
    void AskRunningCopyToShow();

    QString directory_;
    QString failure_;
    QString lockPath_;
    QString socketPath_;
    QLockFile lock_;
    QLocalServer server_;
};

}  // namespace kv
