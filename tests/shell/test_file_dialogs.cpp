// The save and print dialogs over the folder of a database being recorded: the process keeps
// every lock it holds on the database, its index and its lock file, so a read-write sqlite3 of
// another program afterwards neither removes the log nor loses a sample; and the database's files
// are refused as a place to save to. Qt's own texts of the dialogs speak the program's language.
#include <sys/stat.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <tuple>

#include "../support/qtcomplaints.h"
#include "chart/outputdialog.h"
#include "shell/language.h"
#include "store/databaselock.h"
#include "store/store.h"
#include "ui/filedialog.h"

namespace {

// Closing any descriptor of a file drops every POSIX record lock the process holds on it. Windows'
// locks belong to the handle that took them: nothing of the recorder's can be lost there, and it
// has neither /proc/locks nor a sqlite3 that a Windows program could read.
#ifdef Q_OS_WIN
constexpr bool kLocksOfTheProcess = false;
constexpr bool kOnWindows = true;
#else
constexpr bool kLocksOfTheProcess = true;
constexpr bool kOnWindows = false;
#endif

// This process's locks on the file, from /proc/locks: "POSIX ADVISORY READ <pid> 08:01:<inode>
// 128 128" becomes "POSIX READ 128-128"; waiters ("1: -> POSIX ...") hold none.
QStringList locksOn(const QString& path) {
    struct stat st {};
    QFile table(QStringLiteral("/proc/locks"));
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !table.open(QIODevice::ReadOnly))
        return {QStringLiteral("missing")};
    QStringList out;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() == 8 && f[4].toInt() == ::getpid() &&
            f[5].split(':').value(2).toULongLong() == st.st_ino)
            out << QString::fromLatin1(f[1] + ' ' + f[3] + ' ' + f[6] + '-' + f[7]);
    }
    out.sort();
    return out;
}

// What sqlite3 of another process, opening the file read-write, prints for sql.
QString sqlite3(const QString& db, const QString& sql) {
    QProcess p;
    p.start(QStringLiteral("sqlite3"),
            {QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"), db, sql});
    p.waitForFinished(60000);
    return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError()).trimmed();
}

// A database being recorded, in a folder of its own that is the working and the home folder.
struct Recording {
    QTemporaryDir dir;
    QString folder = QFileInfo(dir.path()).canonicalFilePath();
    QString db = folder + QStringLiteral("/lk.db");
    store::DatabaseLock lock{db};
    store::SampleStore recorder{db, QStringLiteral("recorder"), store::SampleStore::Commit::Synced};
    int stored = 0;
    QString cwd = QDir::currentPath();

    Recording() {
        QDir::setCurrent(folder);
        qputenv("HOME", QFile::encodeName(folder));
        lock.tryLock();
        recorder.open(store::SampleStore::Access::Record);
    }
    ~Recording() { QDir::setCurrent(cwd); }
    bool store(int n) {
        for (int i = 0; i < n; ++i) {
            store::Sample s;
            s.id = ++stored;
            s.date = 46000;
            s.time = s.id / 86400.0;
            if (!recorder.storeSample(s)) return false;
        }
        return true;
    }
};

}  // namespace

class FileDialogsTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void locksOutliveTheDialog_data();
    void locksOutliveTheDialog();
    void refusesTheFilesOfADatabaseInUse();
    void qtTextsInTheProgramsLanguage();

  private:
    qsizetype complaintsBefore_ = 0;
};

void FileDialogsTest::init() {
    testsupport::watchQtComplaints();
    complaintsBefore_ = testsupport::qtComplaints().size();
}

// The dialogs, Qt's own among them, are used as Qt expects: it has nothing to complain about.
void FileDialogsTest::cleanup() {
    const QStringList complaints = testsupport::qtComplaints(complaintsBefore_);
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join(QStringLiteral(" | "))));
}

void FileDialogsTest::locksOutliveTheDialog_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("save as PNG") << "SavePng";
    // The print dialog completes file names from a list of the home folder. Windows' print dialog
    // is the system's own, with no list of Qt's.
    if (!kOnWindows) QTest::newRow("print") << "PrintChart";
}

void FileDialogsTest::locksOutliveTheDialog() {
    QFETCH(QString, button);
    Recording r;
    QVERIFY(r.store(20));
    const QStringList files{QStringLiteral("lk.db"), QStringLiteral("lk.db-wal"),
                            QStringLiteral("lk.db-shm"), QStringLiteral("lk.db.lock")};
    QMap<QString, QStringList> before;
    for (const QString& f : files)
        before[f] = locksOn(r.folder + u'/' + f);
    if (kLocksOfTheProcess)
        QVERIFY2(!before[QStringLiteral("lk.db-shm")].isEmpty(), "the recorder holds its index");

    // Each dialog is open until its list has told each file's type and icon, as its view asks.
    // The print dialog's "..." opens a file dialog of Qt's own for the file to print to.
    chart::OutputDialog output({{}, [] { return QStringLiteral("chart"); }, {}}, r.db);
    output.show();
    int looked = 0;
    std::function<void(QWidget*)> inspect = [&](QWidget* over) {
        QDialog* shown = nullptr;
        if (!QTest::qWaitFor(
                [&] {
                    shown = qobject_cast<QDialog*>(QApplication::activeModalWidget());
                    return shown && shown != over;
                },
                30000))
            return;
        auto* list = shown->findChild<QFileSystemModel*>();
        if (list && QTest::qWaitFor(
                        [&] {
                            return std::all_of(files.begin(), files.end(), [&](const QString& f) {
                                const QModelIndex i = list->index(r.folder + u'/' + f);
                                list->data(i, Qt::DecorationRole);
                                return i.isValid() && !list->type(i).isEmpty();
                            });
                        },
                        30000))
            ++looked;
        if (auto* browse = shown->findChild<QAbstractButton*>(QStringLiteral("fileBrowser"))) {
            if (auto* printers = shown->findChild<QComboBox*>(QStringLiteral("printers")))
                printers->setCurrentIndex(printers->count() - 1);  // "Print to File (PDF)"
            QTimer::singleShot(0, shown, [&inspect, shown] { inspect(shown); });
            browse->click();
        }
        shown->reject();
    };
    QTimer::singleShot(0, &output, [&] { inspect(&output); });
    output.findChild<QPushButton*>(button)->click();
    QCOMPARE(looked, button == u"PrintChart" ? 2 : 1);
    for (const QString& f : files)
        QCOMPARE(locksOn(r.folder + u'/' + f), before[f]);
    if (!kLocksOfTheProcess) return;

    // Another program opens the file read-write and closes it: the log and its index stay, and
    // what the recorder stores afterwards is in the file.
    QCOMPARE(sqlite3(r.db, QStringLiteral("select count(*) from pv_data")), QStringLiteral("20"));
    QVERIFY(QFileInfo::exists(r.db + QStringLiteral("-wal")));
    QVERIFY(QFileInfo::exists(r.db + QStringLiteral("-shm")));
    QVERIFY(r.store(10));
    QCOMPARE(sqlite3(r.db, QStringLiteral("select count(*) from pv_data")), QStringLiteral("30"));
}

// The operator picks a file and confirms any overwrite: a file of the database being recorded, or
// on Windows a name that names a device, is refused with a warning and the dialog stays open.
void FileDialogsTest::refusesTheFilesOfADatabaseInUse() {
    Recording r;
    QVERIFY(r.store(1));
    for (const char* name :
         {"lk.db", "lk.db-wal", "lk.db-shm", "lk.db.lock", "lk.png", "lk", "com1.csv"}) {
        const bool refused =
            QByteArray(name).startsWith("lk.db") || (kOnWindows && QByteArray(name) == "com1.csv");
        const auto dialog =
            ui::saveDialog(nullptr, QStringLiteral("save"), r.dir.filePath(name), {});
        dialog->show();
        bool warned = false;
        QTimer::singleShot(0, dialog.get(), [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->button(QMessageBox::Yes))
                box->button(QMessageBox::Yes)->click();
            else if (box)
                warned = true, box->reject();
        });
        static_cast<QDialog*>(dialog.get())->accept();  // as the Save button does
        QCoreApplication::processEvents();
        QVERIFY2(warned == refused && dialog->isVisible() == refused, name);
        QCOMPARE(dialog->result() == QDialog::Accepted, !refused);
    }
}

void FileDialogsTest::qtTextsInTheProgramsLanguage() {
    const auto back = qScopeGuard([] { shell::installTranslation(QStringLiteral("zh")); });
    for (const auto& [language, lookIn, save] :
         {std::tuple{"zh", "查找范围：", "保存(&S)"}, std::tuple{"en", "Look in:", "&Save"}}) {
        QVERIFY(shell::installTranslation(QString::fromLatin1(language)));
        const auto dialog = ui::saveDialog(nullptr, QStringLiteral("save"), QDir::tempPath(), {});
        QCOMPARE(dialog->labelText(QFileDialog::LookIn), QString::fromUtf8(lookIn));
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QString::fromUtf8(save));
    }
}

QTEST_MAIN(FileDialogsTest)
#include "test_file_dialogs.moc"
