// The program as an operator starts it: the real executable, offscreen, on the built-in simulator.
#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class ProgramBinary : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void badOptionsExitWithStatusTwo_data();
    void badOptionsExitWithStatusTwo();
    void helpExitsCleanly();
    void simulatedRunRecordsThePolledValues();
    void quitDuringTheSplashStillLeavesThroughTheMainWindow();
    void developerLoggingIsOffUnlessAsked();
    void dataFolderHoldsTheSettingsAndTheDatabases();

  private:
    QString bin(const char* name) const { return binDir_ + u'/' + QLatin1String(name); }
    QString binDir_;
};

void ProgramBinary::initTestCase() {
    binDir_ = qEnvironmentVariable("VELMARS_BIN_DIR");
    QVERIFY2(!binDir_.isEmpty(), "VELMARS_BIN_DIR is set by the test registration");
}

void ProgramBinary::badOptionsExitWithStatusTwo_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown") << QStringList{"--frobnicate"};
    QTest::newRow("port without device") << QStringList{"--port", "3"};
    QTest::newRow("quit-after letters") << QStringList{"--quit-after", "soon"};
    QTest::newRow("export from a malformed time")
        << QStringList{"--export-events", "-", "--from", "yesterday"};
    QTest::newRow("export from a database that is not there")
        << QStringList{"--export-events", "-", "--db", "/nonexistent/velmars/Rdatabj.db"};
}

void ProgramBinary::badOptionsExitWithStatusTwo() {
    QFETCH(QStringList, args);
    QProcess p;
    p.start(bin("velmars"), args);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 2);
    const QByteArray err = p.readAllStandardError();
    QCOMPARE(err.count('\n'), 1);
    QVERIFY(err.startsWith("velmars: "));
}

void ProgramBinary::helpExitsCleanly() {
    QProcess p;
    p.start(bin("velmars"), {"--help"});
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().contains("--simulate"));
}

void ProgramBinary::simulatedRunRecordsThePolledValues() {
    QTemporaryDir dir;
    const QString db = dir.filePath("sub/Rdatabj.db");
    const QString shot = dir.filePath("main.png");
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(bin("velmars"),
            {"--simulate", "--connect", "--db", db, "--quit-after", "5", "--screenshot", shot});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QFile::exists(shot));

    // The recorder stored one sample a second, with the simulator's PV1 read through the link:
    // the simulated instrument starts near 18 and follows its demonstration set value of 30.
    {
        auto conn = QSqlDatabase::addDatabase("QSQLITE", "check");
        conn.setDatabaseName(db);
        QVERIFY(conn.open());
        QSqlQuery q(conn);
        QVERIFY(q.exec("select count(*), max(pv1) from pv_data"));
        QVERIFY(q.next());
        const int rows = q.value(0).toInt();
        QVERIFY2(rows >= 3 && rows <= 7, qPrintable(QString::number(rows)));
        const double pv1 = q.value(1).toDouble();
        QVERIFY2(pv1 > 10 && pv1 < 40, qPrintable(QString::number(pv1)));
        QVERIFY(q.exec("select * from sl_void"));
        QVERIFY(q.next());
        QVERIFY(q.value(0).toInt() >= 3);
    }
    QSqlDatabase::removeDatabase("check");

    // The session's events come out on the command line, the count on stderr.
    const QByteArray before = [&] {
        QFile f(db);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QProcess e;
    e.start(bin("velmars"), {"--export-events", "-", "--db", db});
    QVERIFY(e.waitForFinished(10000));
    QCOMPARE(e.exitCode(), 0);
    const QByteArray csv = e.readAllStandardOutput();
    QVERIFY(
        csv.startsWith("\xEF\xBB\xBF时间,类型,内容,寄存器,数值,状态,用户,原值,新值,变更原因,"
                       "时间（含时区）\r\n"));
    QVERIFY(csv.contains(",recorder,开始记录,,,,,,,,"));
    QVERIFY(csv.contains(",recorder,记录已停止,,,,,,,,"));
    QCOMPARE(e.readAllStandardError().trimmed().toInt(), csv.count("\r\n") - 1);
    QFile f(db);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), before);  // read, never changed
}

// A time shorter than the start-up picture (a slow start does the same): the program still shows
// its main window, saves the screenshot and leaves with 0.
void ProgramBinary::quitDuringTheSplashStillLeavesThroughTheMainWindow() {
    QTemporaryDir dir;
    const QString shot = dir.filePath("main.png");
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(bin("velmars"), {"--simulate", "--db", dir.filePath("Rdatabj.db"), "--quit-after",
                             "0.3", "--screenshot", shot});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QFile png(shot);
    QVERIFY(png.open(QIODevice::ReadOnly));
    QVERIFY(png.read(8) == "\x89PNG\r\n\x1a\n" && png.size() > 10000);
}

// The developer's lines come out only when asked for; by default stderr holds nothing of the
// program's, with the window system's note about the offscreen platform left aside.
void ProgramBinary::developerLoggingIsOffUnlessAsked() {
    QTemporaryDir dir;
    const QString runtime = dir.filePath("runtime");
    QVERIFY(QDir().mkdir(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const auto stderrOf = [&](const QString& rules) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.remove("QT_LOGGING_RULES");
        // The program finds its way to standard error by itself, as when a script starts it.
        env.remove("QT_FORCE_STDERR_LOGGING");
        if (!rules.isEmpty()) env.insert("QT_LOGGING_RULES", rules);
        p.setProcessEnvironment(env);
        p.start(bin("velmars"), {"--simulate", "--connect", "--db", dir.filePath("Rdatabj.db"),
                                 "--quit-after", "2"});
        if (!p.waitForFinished(30000) || p.exitCode() != 0) return QByteArrayList{"not finished"};
        QByteArrayList lines;
        // Windows ends each line with CR LF.
        for (const QByteArray& raw : p.readAllStandardError().split('\n'))
            if (const QByteArray line = raw.trimmed();
                !line.isEmpty() && line != "This plugin does not support propagateSizeHints()")
                lines << line;
        return lines;
    };
    const QByteArrayList quiet = stderrOf({});
    QVERIFY2(quiet.isEmpty(), quiet.join('\n').constData());
    const QByteArrayList asked = stderrOf("velmars.*.debug=true");
    QVERIFY2(asked.contains("velmars.link: port 1 closed"), asked.join('\n').constData());
    for (const QByteArray& line : asked)
        QVERIFY2(line.startsWith("velmars."), line.constData());
}

void ProgramBinary::dataFolderHoldsTheSettingsAndTheDatabases() {
    // The folder named by --data, not the user's, gets the chamber list and each chamber's
    // database; the user's configuration folder stays as it was.
    QTemporaryDir dir;
    const QString data = dir.filePath("data");
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config.path());
    env.insert("XDG_DATA_HOME", config.path());
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(bin("velmars"),
            {"--simulate", "--data", data, "--chamber", "a=1,1", "--quit-after", "3"});
    QVERIFY(p.waitForFinished(30000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(QFile::exists(data + "/Rdatabj-a.db"));
    QFile ini(data + "/velmars/velmars.ini");
    QVERIFY(ini.open(QIODevice::ReadOnly));
    QVERIFY(ini.readAll().contains("a"));
    QCOMPARE(QDir(config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(ProgramBinary)
#include "test_program_binary.moc"
