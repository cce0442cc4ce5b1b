// The command-line exports, as run: both of them onto every kind of target, with the exit
// status, the line on stderr and what is left on disk. A failed export never leaves a partial
// or empty file, keeps the file it was to replace, and never creates or changes the database.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>

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
        store::SampleStore store(db, "make-samples");
        ASSERT_TRUE(store.open());
        for (int i = 1; i <= 5; ++i)  // 2026-03-01 08:00:0i
            ASSERT_TRUE(store.storeSample({i, 46082, (8 * 3600 + i) / 86400.0, {}}));
        events::EventStore log(db, "make-events");
        ASSERT_TRUE(log.open());
        std::vector<events::EventEntry> events;
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

namespace {

struct Exported {
    int status = -1;
    QByteArray out;
    QString err;
};

// Runs the program with its settings under config and stdin as its standard input.
Exported velmarsIn(const QString& config, const QStringList& args,
                   const QByteArray& stdinText = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("XDG_DATA_HOME", config + "/data");
    env.insert("HOME", config);
    env.insert("LANG", "C");
    env.remove("LANGUAGE");
    env.remove("LC_ALL");
    p.setProcessEnvironment(env);
    p.start(qEnvironmentVariable("VELMARS_BIN_DIR") + "/velmars", args);
    p.write(stdinText);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) return {};
    return {p.exitCode(), p.readAllStandardOutput(), QString::fromUtf8(p.readAllStandardError())};
}

std::vector<QStringList> csvLines(const QByteArray& bytes) {
    std::vector<QStringList> lines;
    for (const QString& l : QString::fromUtf8(bytes).split("\r\n", Qt::SkipEmptyParts))
        lines.push_back(l.split(u','));
    return lines;
}

// "2026-03-01 08:00:01 +08:00" as UTC seconds; -1 for anything else.
qint64 momentOf(const QString& cell) {
    const QStringList parts = cell.split(u' ');
    if (parts.size() != 3) return -1;
    const QDateTime t = QDateTime::fromString(parts[0] + u'T' + parts[1] + parts[2], Qt::ISODate);
    return t.isValid() ? t.toSecsSinceEpoch() : -1;
}

}  // namespace

// The copies made for an inspection carry every column the event window shows (user, old and new
// value, reason) and every time with its offset from UTC, both kinds of export alike; values have
// no binary noise.
TEST(Exports, CopiesCarryTheAuditColumnsAndEachTimeWithItsOffset) {
    QTemporaryDir dir;
    const QString db = dir.filePath("Rdatabj.db");
    const QDateTime t0(QDate(2026, 3, 1), QTime(8, 0, 1));
    {
        store::SampleStore store(db, "make-samples");
        ASSERT_TRUE(store.open());
        store::Sample s{1, 46082, (8 * 3600 + 1) / 86400.0, {}};
        s.values = {23.4f, 50, 0, 0, 45.6f, 0, 0, 0, 0, 0};  // an output of 4.56 %
        ASSERT_TRUE(store.storeSample(s));
        events::EventStore log(db, "make-events");
        ASSERT_TRUE(log.open());
        std::vector<events::EventEntry> events{{0, t0, "write", "设定SV1 → 555", 1, 555, 0},
                                               {0, t0.addSecs(1), "link", "e", {}, {}, {}}};
        events[0].user = "op";
        events[0].oldValue = "420";
        events[0].newValue = "555";
        events[0].reason = "工艺变更";
        ASSERT_TRUE(log.append(events));
    }
    const QString config = dir.filePath("config");

    const Exported events = velmarsIn(config, {"--export-events", "-", "--db", db});
    ASSERT_EQ(events.status, 0) << events.err.toStdString();
    const auto e = csvLines(events.out);
    ASSERT_EQ(e.size(), 3u);
    EXPECT_TRUE(events.out.startsWith("\xEF\xBB\xBF"));
    EXPECT_EQ(e[0].join(u',').remove(QChar(0xFEFF)).toStdString(),
              "时间,类型,内容,寄存器,数值,状态,用户,原值,新值,变更原因,"
              "时间（含时区）");
    EXPECT_EQ(e[1].mid(6, 4).join(u','), "op,420,555,工艺变更");
    for (int row : {1, 2}) {
        ASSERT_EQ(e[row].size(), 11) << row;
        EXPECT_EQ(momentOf(e[row][10]), t0.addSecs(row - 1).toSecsSinceEpoch())
            << e[row][10].toStdString();
    }

    const Exported samples = velmarsIn(config, {"--export-csv", "-", "--db", db});
    ASSERT_EQ(samples.status, 0) << samples.err.toStdString();
    const auto s = csvLines(samples.out);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].last(), "时间（含时区）");
    EXPECT_EQ(s[1][5], "4.56");
    EXPECT_EQ(momentOf(s[1].last()), t0.toSecsSinceEpoch()) << s[1].last().toStdString();
}

// The language kept in the settings is the one a command speaks, a profile's own or else the
// program's; --lang on a command speaks for that command only and leaves the kept one as it is.
TEST(Exports, CommandsSpeakTheKeptLanguageAndKeepIt) {
    QTemporaryDir dir;
    const QString db = dir.filePath("Rdatabj.db");
    {
        store::SampleStore store(db, "make-samples");
        ASSERT_TRUE(store.open());
        ASSERT_TRUE(store.storeSample({1, 46082, (8 * 3600 + 1) / 86400.0, {}}));
    }
    const QString config = dir.filePath("config");
    ASSERT_TRUE(QDir().mkpath(config + "/velmars"));
    const QString ini = config + "/velmars/velmars.ini";
    writeBytes(ini, "[ui]\nlanguage=en\n");
    const auto header = [](const Exported& e) {
        return QString::fromUtf8(e.out).section("\r\n", 0, 0).remove(QChar(0xFEFF)).toStdString();
    };
    struct Case {
        const char* name;
        QStringList extra;
        const char* header;
    } const cases[] = {
        {"kept", {}, "Date time"},
        {"kept, in a profile without its own", {"--profile", "TH01"}, "Date time"},
        {"asked for this command", {"--lang", "zh"}, "日期时间"},
        {"kept still", {}, "Date time"},
    };
    for (const Case& c : cases) {
        const Exported e =
            velmarsIn(config, QStringList{"--export-csv", "-", "--db", db} + c.extra);
        ASSERT_EQ(e.status, 0) << c.name << ": " << e.err.toStdString();
        EXPECT_EQ(header(e).substr(0, std::string(c.header).size()), c.header) << c.name;
        EXPECT_EQ(bytesOf(ini), "[ui]\nlanguage=en\n") << c.name;
    }
}

// A command that cannot read the file says why in the kept language, the fault's words too.
TEST(Exports, RefusalsSpeakTheKeptLanguage) {
    QTemporaryDir dir;
    const QString notDb = dir.filePath("notes.db");
    writeBytes(notDb, "not a database, only notes\n");
    const QString config = dir.filePath("config");
    ASSERT_TRUE(QDir().mkpath(config + "/velmars"));
    writeBytes(config + "/velmars/velmars.ini", "[ui]\nlanguage=en\n");
    const QStringList commands[] = {{"--export-csv", "-"},
                                    {"--export-events", "-"},
                                    {"--report", dir.filePath("r.pdf")},
                                    {"--verify"}};
    for (const QStringList& command : commands) {
        const Exported e = velmarsIn(config, command + QStringList{"--db", notDb});
        SCOPED_TRACE(command.first().toStdString() + ": " + e.err.toStdString());
        EXPECT_EQ(e.status, 2);
        EXPECT_TRUE(e.err.contains("database", Qt::CaseInsensitive));
        EXPECT_FALSE(std::any_of(e.err.begin(), e.err.end(), [](QChar c) {
            return c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF;
        }));
    }
}
