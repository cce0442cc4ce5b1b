// The database file unusable in each of the ways an operator's machine can make it: a garbage
// file, a read-only file, a folder that cannot exist (its parent is a plain file), and a file
// locked by another process. The real program runs on through them and leaves through its Exit
// path; a file that is not ours is never touched; the status bar says recording stopped and why;
// and once the fault is gone, recording resumes by itself.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

#include "dbcheck.h"
#include "fakemodbus.h"
#include "lockholder.h"
#include "shell/application.h"
#include "shell/mainwindow.h"
#include "store/store.h"

using hardening::scalar;

namespace {

enum class Fault { Garbage, ReadOnly, ParentIsFile, Locked };

// The child sides of this same executable: "count DB" prints the number of records; "hold-lock
// DB" (the lock cases) holds a write transaction until its stdin closes.

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray garbage() {
    QByteArray g(64 * 1024, '\0');
    QRandomGenerator gen(4711);
    for (char& c : g)
        c = static_cast<char>(gen.bounded(256));
    return g;
}

bool makeDatabase(const QString& path) {
    store::SampleStore store(path, QStringLiteral("make"));
    return store.open();
}

int recordCount(const QString& path) {
    return scalar(path, QStringLiteral("SELECT count(*) FROM pv_data")).toInt();
}

// The record count as this executable started with "count DB" prints it.
int countInChild(const QString& path) {
    QProcess p;
    p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("count"), path});
    if (!p.waitForFinished(10000)) return -1;
    return p.readAllStandardOutput().trimmed().toInt();
}

// The file the program is given for each fault, and what the status bar names as the reason.
struct Setup {
    QString db;     // the path passed to the program
    QString guard;  // the file that must stay byte for byte as it was
    QString reason;
};

}  // namespace

Q_DECLARE_METATYPE(Fault)

class BadFiles : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void programRunsOnAndLeavesTheFileAlone_data();
    void programRunsOnAndLeavesTheFileAlone();
    void programResumesWhenTheLockIsReleased();
    void statusBarSaysWhyAndRecordingResumes_data();
    void statusBarSaysWhyAndRecordingResumes();

  private:
    Setup prepare(Fault fault, const QTemporaryDir& dir);
    bool startLockHolder(QProcess& holder, const QString& db);
    QString bin_;
};

void BadFiles::initTestCase() {
    bin_ = qEnvironmentVariable("VELMARS_BIN_DIR");
    QVERIFY2(!bin_.isEmpty(), "VELMARS_BIN_DIR is set by the test registration");
}

Setup BadFiles::prepare(Fault fault, const QTemporaryDir& dir) {
    Setup s;
    s.db = dir.filePath(QStringLiteral("Rdatabj.db"));
    s.guard = s.db;
    switch (fault) {
        case Fault::Garbage:
            writeFile(s.db, garbage());
            s.reason = QStringLiteral("文件不是数据库");
            break;
        case Fault::ReadOnly:
            // A write-protected file: the store honours the mark even for the superuser.
            makeDatabase(s.db);
            QFile::setPermissions(s.db, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
            s.reason = QStringLiteral("数据库文件只读");
            break;
        case Fault::ParentIsFile:
            s.guard = dir.filePath(QStringLiteral("data"));
            writeFile(s.guard, "not a folder\n");
            s.db = s.guard + QStringLiteral("/Rdatabj.db");
            s.reason = QStringLiteral("无法创建数据库文件夹");
            break;
        case Fault::Locked:
            makeDatabase(s.db);
            s.guard.clear();
            s.reason = QStringLiteral("数据库文件被其他程序锁定");
            break;
    }
    return s;
}

bool BadFiles::startLockHolder(QProcess& holder, const QString& db) {
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("hold-lock"), db});
    return holder.waitForStarted(5000) && holder.waitForReadyRead(10000) &&
           holder.readLine().startsWith("locked");
}

void BadFiles::programRunsOnAndLeavesTheFileAlone_data() {
    QTest::addColumn<Fault>("fault");
    QTest::newRow("garbage") << Fault::Garbage;
    QTest::newRow("read-only") << Fault::ReadOnly;
    QTest::newRow("parent is a file") << Fault::ParentIsFile;
}

void BadFiles::programRunsOnAndLeavesTheFileAlone() {
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    const Setup s = prepare(fault, dir);
    const QByteArray before = readAll(s.guard);
    QVERIFY(!before.isEmpty());
    const QString shot = dir.filePath(QStringLiteral("main.png"));

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(bin_ + QStringLiteral("/velmars"),
            {"--simulate", "--connect", "--db", s.db, "--quit-after", "3.5", "--screenshot", shot});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QFile::exists(shot));  // the main window was up to the end
    QCOMPARE(readAll(s.guard), before);
    // The chart reads a write-protected file, and SQLite may leave its log beside it then: an
    // empty one, nothing written.
    QCOMPARE(QFileInfo(s.guard + QStringLiteral("-wal")).size(), 0);
    QVERIFY(!QFile::exists(s.guard + QStringLiteral("-journal")));
    QFile::setPermissions(s.guard, QFile::ReadOwner | QFile::WriteOwner);
}

void BadFiles::programResumesWhenTheLockIsReleased() {
    QTemporaryDir dir;
    const Setup s = prepare(Fault::Locked, dir);
    QProcess holder;
    QVERIFY(startLockHolder(holder, s.db));

    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(bin_ + QStringLiteral("/velmars"),
            {"--simulate", "--connect", "--db", s.db, "--quit-after", "7"});
    QVERIFY(p.waitForStarted(5000));
    QTest::qWait(4000);  // the main window and the recorder are up, and blocked
    QCOMPARE(p.state(), QProcess::Running);
    holder.closeWriteChannel();  // the holder rolls back and leaves
    // Nothing could be written while the lock was held; the recorder retries once a second and
    // may already have written its held samples by now, so the count is read at the end.
    QVERIFY(holder.waitForFinished(5000));

    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    // Every second of the run: the ones held in memory while the lock was held, then about
    // three more; and a consistent counter.
    const int n = recordCount(s.db);
    QVERIFY2(n >= 5 && n <= 9, qPrintable(QString::number(n)));
    QCOMPARE(scalar(s.db, "SELECT last_id FROM sl_void").toInt(), n);
    QCOMPARE(scalar(s.db, "PRAGMA integrity_check").toString(), QStringLiteral("ok"));
}

void BadFiles::statusBarSaysWhyAndRecordingResumes_data() {
    QTest::addColumn<Fault>("fault");
    QTest::newRow("garbage, removed by the operator") << Fault::Garbage;
    QTest::newRow("read-only, mark taken off") << Fault::ReadOnly;
    QTest::newRow("parent is a file, file removed") << Fault::ParentIsFile;
    QTest::newRow("locked by another process, released") << Fault::Locked;
}

void BadFiles::statusBarSaysWhyAndRecordingResumes() {
    QFETCH(Fault, fault);
    QTemporaryDir dir;
    const Setup s = prepare(fault, dir);
    QProcess holder;
    if (fault == Fault::Locked) QVERIFY(startLockHolder(holder, s.db));

    shell::Options options;
    options.db = s.db;
    auto app = std::make_unique<shell::Application>(
        options, std::make_unique<testing_support::FakeModbus>());
    app->startWithoutSplash();
    QVERIFY(app->mainWindow());
    auto* status = app->mainWindow()->findChild<QLabel*>(QStringLiteral("RecorderStatus"));
    QVERIFY(status);
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("记录已停止")), 5000);
    QVERIFY2(status->text().contains(s.reason), qPrintable(status->text()));
    QTest::qWait(1500);  // retried at least once, still refused
    QVERIFY(status->text().startsWith(QStringLiteral("记录已停止")));
    QVERIFY(app->mainWindow()->isVisible());

    switch (fault) {
        case Fault::Garbage:
        case Fault::ParentIsFile:
            QVERIFY(QFile::remove(s.guard));
            break;
        case Fault::ReadOnly:
            QVERIFY(QFile::setPermissions(s.db, QFile::ReadOwner | QFile::WriteOwner));
            break;
        case Fault::Locked:
            holder.closeWriteChannel();
            QVERIFY(holder.waitForFinished(5000));
            break;
    }
    QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("记录中")), 5000);
    // Counted by another process, as an external reader would see the file.
    QTRY_VERIFY_WITH_TIMEOUT(countInChild(s.db) >= 2, 6000);
    app.reset();
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "hold-lock") {
        QCoreApplication core(argc, argv);
        return testing_support::holdDatabaseLock(QString::fromLocal8Bit(argv[2]), true);
    }
    if (argc == 3 && std::string(argv[1]) == "count") {
        QCoreApplication core(argc, argv);
        std::printf("%d\n", recordCount(QString::fromLocal8Bit(argv[2])));
        return 0;
    }
    QApplication app(argc, argv);
    BadFiles t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_badfiles.moc"
