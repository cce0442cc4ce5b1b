// The command-line exports, as run: both of them onto every kind of target, with the exit
// status, the line on stderr and what is left on disk. A failed export never leaves a partial
// or empty file, keeps the file it was to replace, and never creates or changes the database.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "events/eventstore.h"
#include "store/store.h"

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A tmpfs of 64 KiB, filled to the last byte before the export runs; needs root.
class FullDisk {
  public:
    explicit FullDisk(const QString& at) : at_(at) {
        QDir().mkpath(at);
        mounted_ = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", at}) == 0;
    }
    ~FullDisk() {
        if (mounted_) QProcess::execute("umount", {at_});
    }
    bool mounted() const { return mounted_; }
    void fill() {
        QFile f(at_ + "/filler");
        f.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (f.write(QByteArray(4096, 'f')) > 0) {
        }
    }

  private:
    QString at_;
    bool mounted_ = false;
};

}  // namespace

TEST(Exports, StatusLineAndWhatIsLeftOnDisk) {
    QTemporaryDir dir;
    const QString db = dir.filePath("Rdatabj.db");
    {
        record::SampleStore store(db, "make-samples");
        ASSERT_TRUE(store.open());
        for (int i = 1; i <= 5; ++i)  // 2026-03-01 08:00:0i
            ASSERT_TRUE(store.storeSample({i, 46082, (8 * 3600 + i) / 86400.0, {}}));
        record::EventStore log(db, "make-events");
        ASSERT_TRUE(log.open());
        std::vector<record::EventEntry> events;
        for (int i = 1; i <= 4; ++i)
            events.push_back(
                {0, QDateTime(QDate(2026, 3, 1), QTime(8, 0, i)), "test", "e", {}, {}, {}});
        ASSERT_TRUE(log.append(events));
    }
    const QByteArray dbBefore = bytesOf(db);
    const QString junk = dir.filePath("junk.db");
    writeBytes(junk, QByteArray(4096, 'x'));
    const QString bin = qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars";
    const QString disk = dir.filePath("disk");

    enum class Target { File, Stdout, Unwritable, FullDisk, FullStdout };
    struct Case {
        const char* name;
        Target target;
        QStringList extra;
        int status;
        const char* csvLine;     // --export-csv's stderr, "N" for the rows, prefix otherwise
        const char* eventsLine;  // --export-events's
    } cases[] = {
        {"all to a file", Target::File, {}, 0, "5", "4"},
        {"a span to standard output",
         Target::Stdout,
         {"--from", "2026-03-01 08:00:02", "--to", "2026-03-01 08:00:03"},
         0,
         "2",
         "2"},
        {"a folder that is not there",
         Target::Unwritable,
         {},
         1,
         "velmars: 无法写入 ",
         "velmars: 无法写入 "},
        {"a full disk", Target::FullDisk, {}, 1, "velmars: 无法写入 ", "velmars: 无法写入 "},
        {"a full standard output",
         Target::FullStdout,
         {},
         1,
         "velmars: 无法写入 -：",
         "velmars: 无法写入 -："},
        {"a bad date",
         Target::File,
         {"--from", "2026-02-30 00:00:00"},
         2,
         "velmars: ",
         "velmars: "},
        {"a missing database",
         Target::File,
         {"--db", dir.filePath("none/Rdatabj.db")},
         2,
         "velmars: ",
         "velmars: "},
        {"a file that is not a database",
         Target::File,
         {"--db", junk},
         2,
         "velmars: ",
         "velmars: "},
        {"a missing database, in English",
         Target::File,
         {"--db", dir.filePath("none/Rdatabj.db"), "--lang", "en"},
         2,
         "velmars: The database file does not exist: ",
         "velmars: "},
    };
    for (const Case& c : cases) {
        for (const bool csv : {true, false}) {
            const std::string what = std::string(c.name) + (csv ? " (csv)" : " (events)");
            std::optional<FullDisk> full;
            QString target = dir.filePath(csv ? "out.csv" : "out-events.csv");
            if (c.target == Target::Stdout || c.target == Target::FullStdout) target = "-";
            if (c.target == Target::Unwritable) target = dir.filePath("none/out.csv");
            if (c.target == Target::FullDisk) {
                if (geteuid() != 0) {
                    std::cout << "skipped " << what << ": mounting a small disk needs root\n";
                    continue;
                }
                full.emplace(disk);
                ASSERT_TRUE(full->mounted()) << what;
                target = disk + "/out.csv";
                writeBytes(target, "kept");
                full->fill();
            }
            QProcess p;
            if (c.target == Target::FullStdout) p.setStandardOutputFile("/dev/full");
            if (c.extra.contains("--lang")) {  // the language chosen is kept in the settings
                QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
                env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
                p.setProcessEnvironment(env);
            }
            p.start(bin, QStringList{csv ? "--export-csv" : "--export-events", target, "--db", db} +
                             c.extra);
            ASSERT_TRUE(p.waitForFinished(30000)) << what;
            EXPECT_EQ(p.exitCode(), c.status) << what;
            const QString err = QString::fromUtf8(p.readAllStandardError());
            const QString line = csv ? c.csvLine : c.eventsLine;
            EXPECT_EQ(err.count(u'\n'), 1) << what << ": " << err.toStdString();
            EXPECT_TRUE(c.status == 0 ? err == line + u'\n' : err.startsWith(line))
                << what << ": " << err.toStdString();

            // The rows written, or nothing left but what was there before.
            const QByteArray out = target == u"-" ? p.readAllStandardOutput() : bytesOf(target);
            if (c.status == 0) {
                EXPECT_EQ(out.count("\r\n") - 1, line.toInt()) << what;
            } else if (c.target == Target::FullDisk) {
                EXPECT_EQ(out, "kept") << what;
                EXPECT_EQ(QDir(disk).entryList(QDir::Files).size(), 2) << what;  // no leftover
            } else if (target != u"-") {
                EXPECT_EQ(out, "<missing>") << what;
            }
            if (target != u"-") QFile::remove(target);
        }
    }
    EXPECT_EQ(bytesOf(db), dbBefore);
    EXPECT_EQ(bytesOf(junk), QByteArray(4096, 'x'));
    EXPECT_FALSE(QFile::exists(dir.filePath("none")));
}
