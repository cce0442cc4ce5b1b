// The notification queue across a restart: what the webhook server did not take before the
// program ended waits in the database file with its failed attempt, and the next run sends each
// of it exactly once once the server answers. A mail with no server set stays queued. While the
// file takes no writes a mail still leaves at once, and is kept in the queue afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

#include "alert/alerter.h"
#include "alert/delivery.h"
#include "sinks.h"

using namespace alert;
using alerttest::Sink;
using alerttest::waitUntil;

namespace {

// Reads the queue through a connection of the test's own; also makes the file the program's.
QList<QVariantList> outbox(const QString& path, const char* sql) {
    QList<QVariantList> rows;
    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("t-outbox"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(QString::fromUtf8(sql));
        while (q.next()) {
            QVariantList row;
            for (int c = 0; c < q.record().count(); ++c)
                row << q.value(c);
            rows << row;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("t-outbox"));
    return rows;
}

bool anyOf(const QStringList& lines, const char* part) {
    for (const QString& l : lines)
        if (l.contains(QString::fromUtf8(part))) return true;
    return false;
}

// A small tmpfs (needs root), filled to the last byte on demand and freed again.
class SmallDisk {
  public:
    explicit SmallDisk(const QString& at) : at_(at) {
        QDir().mkpath(at);
        mounted_ = QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", at}) == 0;
    }
    ~SmallDisk() {
        if (mounted_) QProcess::execute("umount", {"-l", at_});
    }
    bool mounted() const { return mounted_; }
    bool full() const {
        QFile probe(at_ + "/probe");
        const bool took =
            probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && probe.write("x", 1) == 1;
        probe.remove();
        return !took;
    }
    void fill() {
        QFile f(at_ + "/filler");
        f.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (f.write(QByteArray(4096, 'f')) > 0) {
        }
        while (f.write("f", 1) > 0) {
        }
    }
    void free() { QFile::remove(at_ + "/filler"); }

  private:
    QString at_;
    bool mounted_ = false;
};

Letter mailLetter(const char* subject) {
    Letter l;
    l.target = QStringLiteral("ops@example.org");
    l.subject = QString::fromUtf8(subject);
    l.payload = "body";
    return l;
}

Letter hookLetter(const QString& url, const char* json) {
    Letter l;
    l.channel = Channel::Webhook;
    l.target = url;
    l.subject = QStringLiteral("测试");
    l.payload = json;
    return l;
}

}  // namespace

TEST(AlertDelivery, WhatWaitsSurvivesARestartAndGoesOnce) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("Rdatabj.db"));
    outbox(db, "CREATE TABLE events (id INTEGER PRIMARY KEY)");
    Sink hook(QStringLiteral("http"), dir.filePath(QStringLiteral("hook.jsonl")));
    const QString url = QStringLiteral("http://127.0.0.1:%1/hook").arg(hook.port());
    NotifySettings settings;
    settings.webhook = url;

    QStringList attempts;
    {
        Delivery first(db);
        QObject::connect(&first, &Delivery::attempted,
                         [&](bool ok, const QString& code, const QStringList& args) {
                             attempts << (ok ? "ok " : "no ") +
                                             *alert::eventText(code, args, base::Lang::Stored);
                         });
        first.configure(settings);
        first.start();
        first.enqueue({hookLetter(url, R"({"n":1})"), hookLetter(url, R"({"n":2})")});
        Letter mail;
        mail.target = QStringLiteral("ops@example.org");
        mail.subject = QStringLiteral("无服务器");
        mail.payload = "body";
        first.enqueue({mail});
        ASSERT_TRUE(waitUntil([&] { return attempts.size() >= 3; }, 10000));
    }  // the program ends with the server still down
    for (const QString& a : attempts)
        EXPECT_TRUE(a.startsWith(u"no 发送失败（第 1 次，2 秒后重试）")) << a.toStdString();
    EXPECT_TRUE(anyOf(attempts, "未设置邮件服务器"));
    const auto waiting =
        outbox(db, "SELECT attempts, last_error FROM alert_outbox WHERE sent IS NULL");
    ASSERT_EQ(waiting.size(), 3);
    for (const QVariantList& r : waiting) {
        EXPECT_EQ(r[0].toInt(), 1);
        EXPECT_FALSE(r[1].toString().isEmpty());
    }

    ASSERT_TRUE(hook.start());
    attempts.clear();
    Delivery second(db);
    QObject::connect(
        &second, &Delivery::attempted, [&](bool ok, const QString& code, const QStringList& args) {
            attempts << (ok ? "ok " : "no ") + *alert::eventText(code, args, base::Lang::Stored);
        });
    second.configure(settings);
    second.start();
    ASSERT_TRUE(waitUntil([&] { return hook.taken().size() >= 2; }, 15000));
    waitUntil([] { return false; }, 3000);
    ASSERT_EQ(hook.taken().size(), 2);
    EXPECT_EQ(hook.taken()[0].value("n").toInt(), 1);
    EXPECT_EQ(hook.taken()[1].value("n").toInt(), 2);
    EXPECT_EQ(outbox(db, "SELECT id FROM alert_outbox WHERE sent IS NULL").size(), 1);  // the mail
}

TEST(AlertDelivery, AMailLeavesWhileTheFileTakesNoWritesAndIsKeptOnceItDoes) {
    enum class Block { ReadOnlyFile, FullDisk };
    for (const Block block : {Block::ReadOnlyFile, Block::FullDisk}) {
        const bool disk = block == Block::FullDisk;
        SCOPED_TRACE(disk ? "a full disk" : "a read-only file");
        if (disk && geteuid() != 0) {
            std::cout << "skipped a full disk: mounting a small disk needs root\n";
            continue;
        }
        QTemporaryDir dir;
        std::optional<SmallDisk> small;
        QString folder = dir.path();
        if (disk) {
            folder = dir.filePath(QStringLiteral("disk"));
            small.emplace(folder);
            ASSERT_TRUE(small->mounted());
        }
        const QString db = folder + QStringLiteral("/Rdatabj.db");
        outbox(db, "CREATE TABLE events (id INTEGER PRIMARY KEY)");
        Sink smtp(QStringLiteral("smtp"), dir.filePath(QStringLiteral("mail.jsonl")));
        ASSERT_TRUE(smtp.start());
        NotifySettings settings;
        settings.mailServer = QStringLiteral("smtp://127.0.0.1:%1").arg(smtp.port());
        settings.from = QStringLiteral("chamber@example.org");
        const auto readOnly = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther;
        if (!disk) QFile::setPermissions(db, readOnly);
        {
            Delivery delivery(db);
            delivery.configure(settings);
            delivery.start();
            if (disk) {  // the queue was in use before the disk filled up
                delivery.enqueue({mailLetter("之前")});
                ASSERT_TRUE(
                    waitUntil([&] { return !smtp.with("subject", "之前").isEmpty(); }, 15000));
                small->fill();
                ASSERT_TRUE(small->full());
            }
            delivery.enqueue({mailLetter("记录停止")});
            ASSERT_TRUE(
                waitUntil([&] { return !smtp.with("subject", "记录停止").isEmpty(); }, 15000));
            if (disk) {
                EXPECT_TRUE(small->full());
            }

            // The file takes writes again: the mail is kept as sent, and sent only once.
            if (disk)
                small->free();
            else
                QFile::setPermissions(db, readOnly | QFile::WriteOwner);
            EXPECT_TRUE(waitUntil(
                [&] {
                    return !outbox(db,
                                   "SELECT id FROM alert_outbox WHERE subject = '记录停止' "
                                   "AND sent IS NOT NULL AND attempts = 1")
                                .isEmpty();
                },
                15000));
            waitUntil([] { return false; }, 2000);
        }
        EXPECT_EQ(smtp.with("subject", "记录停止").size(), 1);
        EXPECT_TRUE(outbox(db, "SELECT id FROM alert_outbox WHERE sent IS NULL").isEmpty());
    }
}
