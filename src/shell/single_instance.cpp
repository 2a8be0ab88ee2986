#include "shell/single_instance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include "platform/process_alive.h"

namespace kv {

SingleInstance::SingleInstance(const QString& directory, QObject* parent)
    : QObject(parent),
      directory_(directory),
      lockPath_(QDir(directory).filePath(QStringLiteral("kvotomer.lock"))),
      socketPath_(QDir(directory).filePath(QStringLiteral("kvotomer.socket"))),
      lock_(lockPath_) {
    // Age says nothing about a copy that simply runs for weeks; only a dead owner frees the lock.
    lock_.setStaleLockTime(0);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            peer->disconnectFromServer();
            peer->deleteLater();
            emit ActivationRequested();
        }
    });
}

QString SingleInstance::DefaultDirectory() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        // Still per user, and never a shared folder another user could have prepared.
        dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    }
    return dir;
}

SingleInstance::Outcome SingleInstance::Acquire() {
    if (!QDir().mkpath(directory_)) {
        return Fail(QStringLiteral("Не удалось создать папку %1 для файла блокировки %2."));
    }
    // With no stale age, tryLock takes over the lock of a dead owner and only that.
    if (lock_.tryLock(0) || TakeOverOwnNumber()) {
        // The lock is ours, so any socket file left here belongs to a dead copy.
        QLocalServer::removeServer(socketPath_);
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        server_.listen(socketPath_);
        return Outcome::kThisCopy;
    }
    switch (lock_.error()) {
        case QLockFile::LockFailedError:
            // Qt does not say why a lock stays taken.
            switch (LockHolder()) {
                case Holder::kLiveCopy:
                    AskRunningCopyToShow();
                    return Outcome::kAnotherCopy;
                case Holder::kDeadCopy:
                    return Fail(QStringLiteral(
                        "Не удалось удалить файл блокировки %2, оставшийся в папке %1 от "
                        "завершённой копии программы."));
                case Holder::kNoLock:
                    return Fail(
                        QStringLiteral("Не удалось прочитать файл блокировки %2 в папке %1."));
            }
            break;
        case QLockFile::PermissionError:
            return Fail(
                QStringLiteral("Нет прав на запись в папку %1: не удалось создать файл "
                               "блокировки %2."));
        case QLockFile::NoError:
        case QLockFile::UnknownError:
            break;
    }
    return Fail(QStringLiteral("Не удалось создать файл блокировки %2 в папке %1."));
}

bool SingleInstance::TakeOverOwnNumber() {
    // A lock left by a killed copy may name the process number this copy was given after a
    // restart (Wine hands out the same small numbers every time). Qt sees a live owner, but
    // this copy has not locked yet, so the owner is dead.
    qint64 pid = 0;
    QString host;
    QString app;
    return lock_.error() == QLockFile::LockFailedError && lock_.getLockInfo(&pid, &host, &app) &&
           pid == QCoreApplication::applicationPid() && host == QSysInfo::machineHostName() &&
           lock_.removeStaleLockFile() && lock_.tryLock(0);
}

SingleInstance::Holder SingleInstance::LockHolder() const {
    qint64 pid = 0;
    QString host;
    QString app;
    if (lock_.getLockInfo(&pid, &host, &app)) {
        return ProcessIsGone(pid) ? Holder::kDeadCopy : Holder::kLiveCopy;
    }
    // A copy that has just created its lock file may not have written it yet.
    const QFileInfo file(lockPath_);
    return file.isFile() && file.isReadable() ? Holder::kLiveCopy : Holder::kNoLock;
}

SingleInstance::Outcome SingleInstance::Fail(const QString& what) {
    failure_ = what.arg(QDir::toNativeSeparators(directory_), QStringLiteral("kvotomer.lock")) +
               QStringLiteral(
                   " Программа не может проверить, не запущена ли уже другая её "
                   "копия, и будет закрыта.");
    return Outcome::kFailed;
}

void SingleInstance::AskRunningCopyToShow() {
    // The running copy may have taken the lock a moment ago and not be listening yet.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 1500) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(250)) {
            socket.write("show\n");
            socket.waitForBytesWritten(250);
            socket.disconnectFromServer();
            return;
        }
        QThread::msleep(50);
    }
}

}  // namespace kv
