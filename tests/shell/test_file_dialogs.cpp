// The save and print dialogs of "F3 打印" over the folder of a database being recorded: the process
// keeps every lock it holds on the database, its index and its lock file, so an ordinary read-write
// sqlite3 of another program afterwards neither removes the log nor loses a sample. And Qt's own
// texts of the dialogs speak the program's language.
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMap>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "chart/outputdialog.h"
#include "record/databaselock.h"
#include "record/store.h"
#include "shell/language.h"
#include "ui/filedialog.h"

namespace {

// The locks this process holds on the file, one "TYPE MODE start-end" per lock, from /proc/locks.
QStringList locksOn(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {QStringLiteral("missing")};
    QFile table(QStringLiteral("/proc/locks"));
    if (!table.open(QIODevice::ReadOnly)) return {QStringLiteral("no /proc/locks")};
    const QByteArray pid = QByteArray::number(::getpid());
    QStringList out;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // "1: POSIX ADVISORY READ 4711 08:01:1234 128 128"; waiters ("1: -> POSIX ...") hold none.
        if (f.size() < 8 || f[1] == "->" || f[4] != pid) continue;
        if (f[5].split(':').value(2).toULongLong() != st.st_ino) continue;
        out << QString::fromLatin1(f[1] + ' ' + f[3] + ' ' + f[6] + '-' + f[7]);
    }
    out.sort();
    return out;
}

// sqlite3 of another process, read-write as anyone would open the file: its one output line.
QString sqlite3(const QString& db, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"),
            {QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"), db, sql});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QStringLiteral("failed: ") + QString::fromLocal8Bit(p.readAllStandardError());
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

record::Sample sampleAt(int id) {
    record::Sample s;
    s.id = id;
    s.date = 46000;
    s.time = id / 86400.0;
    return s;
}

// Waits until the list has the folder's files and has told the type of each, as a view showing
// the folder asks.
bool listed(QFileSystemModel* list, const QString& folder, const QStringList& names) {
    return QTest::qWaitFor(
        [&] {
            for (const QString& name : names) {
                const QModelIndex file = list->index(folder + u'/' + name);
                if (!file.isValid() || list->type(file).isEmpty()) return false;
                list->data(file, Qt::DecorationRole);
            }
            return true;
        },
        30000);
}

}  // namespace

class FileDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void locksOutliveTheDialog_data();
    void locksOutliveTheDialog();
    void refusesTheFilesOfADatabaseInUse_data();
    void refusesTheFilesOfADatabaseInUse();
    void qtTextsInTheProgramsLanguage_data();
    void qtTextsInTheProgramsLanguage();
};

void FileDialogsTest::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("sqlite3")).isEmpty())
        QFAIL("the sqlite3 program is missing (scripts/setup-deps installs it)");
}

void FileDialogsTest::locksOutliveTheDialog_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("save as PNG") << "SavePng";
    // The print dialog completes file names from a list of the home folder.
    QTest::newRow("print") << "PrintChart";
}

void FileDialogsTest::locksOutliveTheDialog() {
    QFETCH(QString, button);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    const QString db = folder + QStringLiteral("/lk.db");
    // Started from the folder that holds the database, which is the home folder too.
    const auto back = qScopeGuard([was = QDir::currentPath()] { QDir::setCurrent(was); });
    QVERIFY(QDir::setCurrent(folder));
    qputenv("HOME", QFile::encodeName(folder));

    record::DatabaseLock lock(db);
    QCOMPARE(lock.tryLock(), record::DatabaseLock::Outcome::Held);
    record::SampleStore recorder(db, QStringLiteral("recorder"),
                                 record::SampleStore::Commit::Synced);
    QVERIFY2(recorder.open(record::SampleStore::Access::Record), qPrintable(recorder.lastError()));
    int stored = 0;
    auto store = [&](int n) {
        for (int i = 0; i < n; ++i)
            if (!recorder.storeSample(sampleAt(++stored))) return false;
        return true;
    };
    QVERIFY(store(20));

    const QStringList files{QStringLiteral("lk.db"), QStringLiteral("lk.db-wal"),
                            QStringLiteral("lk.db-shm"), QStringLiteral("lk.db.lock")};
    QMap<QString, QStringList> before;
    for (const QString& f : files)
        before[f] = locksOn(folder + u'/' + f);
    QVERIFY2(!before[QStringLiteral("lk.db-shm")].isEmpty(), "the recorder holds its index");

    chart::OutputDialog output({{}, [] { return QStringLiteral("chart"); }, {}}, db);
    output.show();
    bool listedAll = false;
    QTimer::singleShot(0, &output, [&] {
        QDialog* shown = nullptr;
        const bool opened = QTest::qWaitFor(
            [&] {
                shown = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                return shown && shown != &output;
            },
            30000);
        if (!opened) return;
        auto* list = shown->findChild<QFileSystemModel*>();
        listedAll = list && listed(list, folder, files);
        shown->grab();
        shown->reject();
    });
    auto* open = output.findChild<QPushButton*>(button);
    QVERIFY(open);
    open->click();
    QVERIFY(listedAll);

    for (const QString& f : files)
        QCOMPARE(locksOn(folder + u'/' + f), before[f]);

    // Another program opens the file read-write and closes it: the log and its index stay, and
    // what the recorder stores afterwards is in the file.
    QCOMPARE(sqlite3(db, QStringLiteral("select count(*) from pv_data")), QStringLiteral("20"));
    QVERIFY(QFileInfo::exists(db + QStringLiteral("-wal")));
    QVERIFY(QFileInfo::exists(db + QStringLiteral("-shm")));
    QVERIFY(store(10));
    QCOMPARE(sqlite3(db, QStringLiteral("select count(*) from pv_data")), QStringLiteral("30"));
}

void FileDialogsTest::refusesTheFilesOfADatabaseInUse_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("refused");
    for (const char* name : {"lk.db", "lk.db-wal", "lk.db-shm", "lk.db.lock"})
        QTest::newRow(name) << name << true;
    QTest::newRow("a new file") << "lk.png" << false;
    QTest::newRow("the name without its extension") << "lk" << false;
}

// The operator picks a file and confirms any overwrite: a file of the database being recorded is
// refused with a warning and the dialog stays open.
void FileDialogsTest::refusesTheFilesOfADatabaseInUse() {
    QFETCH(QString, name);
    QFETCH(bool, refused);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("lk.db"));
    record::DatabaseLock lock(db);
    QCOMPARE(lock.tryLock(), record::DatabaseLock::Outcome::Held);
    record::SampleStore recorder(db, QStringLiteral("recorder"));
    QVERIFY(recorder.open(record::SampleStore::Access::Record));
    QVERIFY(recorder.storeSample(sampleAt(1)));

    const std::unique_ptr<QFileDialog> dialog =
        ui::saveDialog(nullptr, QStringLiteral("save"), dir.filePath(name), QString());
    dialog->show();
    bool warned = false;
    QTimer::singleShot(0, dialog.get(), [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        if (QAbstractButton* replace = box->button(QMessageBox::Yes)) {
            replace->click();
            return;
        }
        warned = true;
        box->reject();
    });
    static_cast<QDialog*>(dialog.get())->accept();  // as the Save button does
    QCoreApplication::processEvents();
    QCOMPARE(warned, refused);
    QCOMPARE(dialog->result() == QDialog::Accepted, !refused);
    QCOMPARE(dialog->isVisible(), refused);
}

void FileDialogsTest::qtTextsInTheProgramsLanguage_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("lookIn");
    QTest::addColumn<QString>("save");
    QTest::newRow("zh") << "zh" << QString::fromUtf8("查找范围：") << QString::fromUtf8("保存(&S)");
    QTest::newRow("en") << "en"
                        << "Look in:"
                        << "&Save";
}

void FileDialogsTest::qtTextsInTheProgramsLanguage() {
    QFETCH(QString, language);
    QFETCH(QString, lookIn);
    QFETCH(QString, save);
    QVERIFY(shell::installTranslation(language));
    QTemporaryDir dir;
    const std::unique_ptr<QFileDialog> dialog =
        ui::saveDialog(nullptr, QStringLiteral("save"), dir.path(), QString());
    QCOMPARE(dialog->labelText(QFileDialog::LookIn), lookIn);
    QCOMPARE(dialog->labelText(QFileDialog::Accept), save);
    QVERIFY(shell::installTranslation(QStringLiteral("zh")));
}

QTEST_MAIN(FileDialogsTest)
#include "test_file_dialogs.moc"
