#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>
#include <vector>

#include "shell/single_instance.h"

namespace kv {

// One running copy per user: in-process through the guard, and with the real program started
// several times over a private lock folder. Also how that copy ends when the system asks.
class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void aSecondGuardIsRefusedAndWakesTheFirst();
    void aLockLeftByADeadCopyIsTakenOver_data();
    void aLockLeftByADeadCopyIsTakenOver();
    void aLockThatCannotBeTakenIsNotTakenForARunningCopy_data();
    void aLockThatCannotBeTakenIsNotTakenForARunningCopy();
    void theProgramSaysWhatFailedAndEndsWithStatusOne();
    void tenCopiesStartedAtOnceLeaveExactlyOneRunning();
    void afterTheRunningCopyIsKilledTheNextStartRuns();
    void aTerminationSignalEndsTheCopyAsTheExitCommandDoes_data();
    void aTerminationSignalEndsTheCopyAsTheExitCommandDoes();

  private:
    std::unique_ptr<QProcess> Launch(const QTemporaryDir& runtime, const QTemporaryDir& data);
};

namespace {

qint64 LockOwner(const QTemporaryDir& runtime) {
    QLockFile lock(runtime.filePath(QStringLiteral("kvotomer.lock")));
    qint64 pid = 0;
    QString host;
    QString app;
    return lock.getLockInfo(&pid, &host, &app) ? pid : 0;
}

qint64 DeadPid() {
    QProcess done;
    done.start(QStringLiteral("true"), {});
    done.waitForFinished();
    return done.processId() != 0 ? done.processId() : 999999;
}

}  // namespace

std::unique_ptr<QProcess> SingleInstanceTest::Launch(const QTemporaryDir& runtime,
                                                     const QTemporaryDir& data) {
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("KVOTOMER_DATA_DIR"), data.path());
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(KVOTOMER_BINARY), {});
    return process;
}

void SingleInstanceTest::aSecondGuardIsRefusedAndWakesTheFirst() {
    QTemporaryDir dir;
    SingleInstance first(dir.path());
    QSignalSpy woken(&first, &SingleInstance::ActivationRequested);
    QCOMPARE(first.Acquire(), SingleInstance::Outcome::kThisCopy);

    SingleInstance second(dir.path());
    QCOMPARE(second.Acquire(), SingleInstance::Outcome::kAnotherCopy);
    QTRY_COMPARE(woken.count(), 1);
}

void SingleInstanceTest::aLockLeftByADeadCopyIsTakenOver_data() {
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<QString>("app");
    QTest::newRow("a process that has ended") << DeadPid() << QStringLiteral("kvotomer");
    // After a restart the new copy may get the dead one's number; Qt then sees a live owner.
    QTest::newRow("the number this copy now has")
        << QCoreApplication::applicationPid() << QCoreApplication::applicationName();
}

void SingleInstanceTest::aLockLeftByADeadCopyIsTakenOver() {
    QFETCH(qint64, pid);
    QFETCH(QString, app);
    QTemporaryDir dir;
    QFile lock(dir.filePath(QStringLiteral("kvotomer.lock")));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(pid) + "\n" + app.toUtf8() + "\n" +
               QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    // A socket file of the dead copy is in the way too.
    QFile socket(dir.filePath(QStringLiteral("kvotomer.socket")));
    QVERIFY(socket.open(QIODevice::WriteOnly));
    socket.close();

    SingleInstance guard(dir.path());
    QCOMPARE(guard.Acquire(), SingleInstance::Outcome::kThisCopy);
    QSignalSpy woken(&guard, &SingleInstance::ActivationRequested);
    SingleInstance later(dir.path());
    QCOMPARE(later.Acquire(), SingleInstance::Outcome::kAnotherCopy);
    QTRY_COMPARE(woken.count(), 1);
}

void SingleInstanceTest::aLockThatCannotBeTakenIsNotTakenForARunningCopy_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("failure");
    // Each fails for root as for anyone: no permission bits are involved.
    QTest::newRow("a folder that cannot be made, under a file")
        << QStringLiteral("file/sub") << QStringLiteral("Не удалось создать папку");
    QTest::newRow("a folder that refuses new files (sysfs)")
        << QStringLiteral("/sys") << QStringLiteral("Нет прав на запись в папку");
    QTest::newRow("a folder where new files cannot exist (procfs)")
        << QStringLiteral("/proc") << QStringLiteral("Не удалось создать файл блокировки");
    QTest::newRow("a folder in the lock file's place")
        << QStringLiteral("lock-is-a-folder") << QStringLiteral("Не удалось прочитать файл");
}

void SingleInstanceTest::aLockThatCannotBeTakenIsNotTakenForARunningCopy() {
    QFETCH(QString, folder);
    QFETCH(QString, failure);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("lock-is-a-folder/kvotomer.lock")));
    const QString path = folder.startsWith(u'/') ? folder : dir.filePath(folder);
    if (path.startsWith(QStringLiteral("/sys")) && !QFileInfo(path).isDir()) {
        QSKIP("no sysfs here");
    }

    SingleInstance guard(path);
    QCOMPARE(guard.Acquire(), SingleInstance::Outcome::kFailed);
    QVERIFY2(guard.FailureText().startsWith(failure), qPrintable(guard.FailureText()));
    QVERIFY2(guard.FailureText().contains(path), qPrintable(guard.FailureText()));
}

void SingleInstanceTest::theProgramSaysWhatFailedAndEndsWithStatusOne() {
    QTemporaryDir runtime;
    QTemporaryDir data;
    QVERIFY(QDir(runtime.path()).mkdir(QStringLiteral("kvotomer.lock")));
    std::unique_ptr<QProcess> copy = Launch(runtime, data);
    QVERIFY(copy->waitForFinished(30000));
    QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
    QCOMPARE(copy->exitCode(), 1);
    const QString told = QString::fromUtf8(copy->readAllStandardError());
    QVERIFY2(
        told.contains(QStringLiteral("файл блокировки kvotomer.lock в папке ") + runtime.path()),
        qPrintable(told));
    QVERIFY2(!told.contains(QStringLiteral("уже запущена!")), qPrintable(told));
    QVERIFY(!QFile::exists(data.filePath(QStringLiteral("data.dat"))));
}

void SingleInstanceTest::tenCopiesStartedAtOnceLeaveExactlyOneRunning() {
    QTemporaryDir runtime;
    QTemporaryDir data;
    std::vector<std::unique_ptr<QProcess>> copies;
    for (int i = 0; i < 10; ++i) {
        copies.push_back(Launch(runtime, data));
    }
    const auto finished = [&copies] {
        int n = 0;
        for (auto& copy : copies) {
            n += copy->state() == QProcess::NotRunning ? 1 : 0;
        }
        return n;
    };
    QTRY_VERIFY_WITH_TIMEOUT(finished() >= 9, 20000);
    // A live copy holds the lock: the one left running.
    SingleInstance probe(runtime.path());
    QCOMPARE(probe.Acquire(), SingleInstance::Outcome::kAnotherCopy);
    QCOMPARE(finished(), 9);
    for (auto& copy : copies) {
        if (copy->state() == QProcess::NotRunning) {
            QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
            QVERIFY(copy->readAllStandardError().contains("Программа уже запущена!"));
        }
    }
    for (auto& copy : copies) {
        if (copy->state() == QProcess::Running) {
            copy->kill();
            copy->waitForFinished();
        }
    }
}

void SingleInstanceTest::afterTheRunningCopyIsKilledTheNextStartRuns() {
    QTemporaryDir runtime;
    QTemporaryDir data;
    std::unique_ptr<QProcess> first = Launch(runtime, data);
    // Loaded: the settings file is written after the lock is taken.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(data.filePath(QStringLiteral("data.dat"))), 10000);
    QCOMPARE(LockOwner(runtime), first->processId());

    std::unique_ptr<QProcess> refused = Launch(runtime, data);
    QVERIFY(refused->waitForFinished(10000));
    QCOMPARE(refused->exitCode(), 0);
    QCOMPARE(first->state(), QProcess::Running);

    first->kill();  // SIGKILL: no chance to clean up
    QVERIFY(first->waitForFinished());
    std::unique_ptr<QProcess> next = Launch(runtime, data);
    QTRY_COMPARE_WITH_TIMEOUT(LockOwner(runtime), next->processId(), 10000);
    QCOMPARE(next->state(), QProcess::Running);
    next->kill();
    next->waitForFinished();
}

void SingleInstanceTest::aTerminationSignalEndsTheCopyAsTheExitCommandDoes_data() {
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
    QTest::newRow("SIGINT") << SIGINT;
}

void SingleInstanceTest::aTerminationSignalEndsTheCopyAsTheExitCommandDoes() {
    QFETCH(int, signal);
    QTemporaryDir runtime;
    QTemporaryDir data;
    const QString settings = data.filePath(QStringLiteral("data.dat"));
    std::unique_ptr<QProcess> copy = Launch(runtime, data);
    // The first start writes the nine default lines while loading, after the signals are taken
    // over; the exit writes all ten.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(settings), 10000);
    QCOMPARE(copy->state(), QProcess::Running);

    QCOMPARE(::kill(pid_t(copy->processId()), signal), 0);
    QVERIFY(copy->waitForFinished(10000));
    QCOMPARE(copy->exitStatus(), QProcess::NormalExit);
    QCOMPARE(copy->exitCode(), 0);
    QFile saved(settings);
    QVERIFY(saved.open(QIODevice::ReadOnly));  // saved on the way out, all ten lines
    QCOMPARE(saved.readAll().count('\n'), 10);
    QVERIFY(!QFile::exists(runtime.filePath(QStringLiteral("kvotomer.lock"))));
}

}  // namespace kv

QTEST_GUILESS_MAIN(kv::SingleInstanceTest)
#include "single_instance_test.moc"
