#include "shell/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <csignal>

namespace kv {

namespace {

bool ProcessIsGone(qint64 pid) {
    return pid > 0 && ::kill(pid_t(pid), 0) == -1 && errno == ESRCH;
}

}  // namespace

SingleInstance::SingleInstance(const QString& directory, QObject* parent)
    : QObject(parent),
      lockPath_(QDir(directory).filePath(QStringLiteral("kvotomer.lock"))),
      socketPath_(QDir(directory).filePath(QStringLiteral("kvotomer.socket"))),
      lock_(lockPath_) {
    QDir().mkpath(directory);
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

bool SingleInstance::Acquire() {
    if (!lock_.tryLock(0)) {
        qint64 pid = 0;
        QString host;
        QString app;
        // A copy killed outright leaves its lock file behind.
        if (lock_.error() == QLockFile::LockFailedError && lock_.getLockInfo(&pid, &host, &app) &&
            ProcessIsGone(pid)) {
            lock_.removeStaleLockFile();
        }
        if (!lock_.tryLock(0)) {
            AskRunningCopyToShow();
            return false;
        }
    }
    // The lock is ours, so any socket file left here belongs to a dead copy.
    QLocalServer::removeServer(socketPath_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    server_.listen(socketPath_);
    return true;
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
