// The notification queue across a restart: what the webhook server did not take before the
// program ended waits in the database file with its failed attempt, and the next run sends each
// of it exactly once once the server answers. A mail with no server set stays queued.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>

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
        QObject::connect(&first, &Delivery::attempted, [&](bool ok, const QString& text) {
            attempts << (ok ? "ok " : "no ") + text;
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
    QObject::connect(&second, &Delivery::attempted, [&](bool ok, const QString& text) {
        attempts << (ok ? "ok " : "no ") + text;
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
