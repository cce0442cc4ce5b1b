#include "shell/verifycommand.h"

#include <QDateTime>
#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <cstdio>

#include "base/baseos.h"
#include "base/datafolder.h"
#include "base/tr.h"
#include "overview/chamberlist.h"
#include "shell/application.h"
#include "shell/settings.h"
#include "store/chain.h"
#include "store/chainheads.h"
#include "store/chainkey.h"

namespace shell {

namespace {

// The databases to check: --db, the chambers of the command line or of the settings file, or
// the default one.
QStringList databases(const Options& o) {
    if (!o.db.isEmpty()) return {o.db};
    if (!o.profile.isEmpty()) return {Application::defaultDatabasePath(o.profile)};
    QList<overview::ChamberConf> chambers = o.chambers;
    if (chambers.isEmpty()) chambers = overview::readChambers(*settingsFileFor(QString()));
    QStringList paths;
    for (const overview::ChamberConf& c : chambers)
        paths << Application::defaultDatabasePath(c.name);
    if (paths.isEmpty()) paths << Application::defaultDatabasePath();
    return paths;
}

// 2 with a line on stderr when the file cannot be read or is not ours; else 0 or 1 with the
// verdict's line on stdout.
int verifyOne(const QString& path, const QString& prefix) {
    const auto refuse = [&](const QString& why) {
        std::fprintf(stderr, "velmars: %s: %s\n", qUtf8Printable(path),
                     qUtf8Printable(base::shown(why)));
        return 2;
    };
    if (!QFileInfo(path).isFile()) return refuse(store::faultText(store::Fault::Missing));
    store::Database db(path, QStringLiteral("velmars-verify"));
    if (!db.open(store::FileAccess::ReadOnly, 2000)) return refuse(db.lastError());
    if (!db.hasTable(QStringLiteral("pv_data")) && !db.hasTable(QStringLiteral("events")))
        return refuse(store::faultText(store::Fault::WrongTables));
    store::ChainVerifier verifier(db);
    while (!verifier.done()) {
        if (!verifier.step()) return refuse(db.lastError());
    }
    const store::ChainReport& r = verifier.report();
    if (r.intact && !r.unchecked.isEmpty()) {
        // Keyed links that cannot be checked are not called intact.
        std::printf("%snot checked: %s (keyed, and the service's key cannot be read)\n",
                    qUtf8Printable(prefix), qUtf8Printable(r.unchecked.join(u", ")));
        return 1;
    }
    // Whatever the chains say, a file this account may rewrite is only as safe as the account.
    if (base::writableByThisAccount(path))
        std::fprintf(stderr, "velmars: %s: %s\n", qUtf8Printable(path),
                     qUtf8Printable(base::Tr::tr("记录未受保护：本账户可以改写此文件")));
    if (r.intact) {
        std::printf("%sintact, %lld rows, %lld hours\n", qUtf8Printable(prefix),
                    static_cast<long long>(r.rows), static_cast<long long>(r.hours));
        return 0;
    }
    const QString where = r.chain == u"runs" ? QStringLiteral("runs table")
                          : r.chain == u"events"
                              ? QStringLiteral("event row %1").arg(r.at)
                              : QStringLiteral("archive hour %1")
                                    .arg(QDateTime::fromSecsSinceEpoch(r.at).toUTC().toString(
                                        QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")));
    std::printf("%schanged: %s (%s)\n", qUtf8Printable(prefix), qUtf8Printable(where),
                qUtf8Printable(r.why));
    return 1;
}

}  // namespace

int runVerify(const Options& options) {
    const QStringList paths = databases(options);
    // The service's key and its record of the chains' heads, where this account can read them:
    // in the data folder named, else beside the (first) database.
    const QString dir = !base::givenDataFolder().isEmpty() ? base::givenDataFolder()
                        : paths.isEmpty()                  ? QString()
                                          : QFileInfo(paths.front()).absolutePath();
    const store::chain::KeyFile key = store::chain::readKey(dir);
    if (key.usable()) store::chain::setKey(key.key);
    const auto heads = store::chain::HeadStore::openToRead(dir);
    store::chain::setHeadStore(heads.get());
    const auto forget = qScopeGuard([] {
        store::chain::setHeadStore(nullptr);
        store::chain::setKey(QByteArray());
    });
    int status = 0;
    for (const QString& path : paths) {
        const QString prefix = paths.size() > 1 ? path + QStringLiteral(": ") : QString();
        status = std::max(status, verifyOne(path, prefix));
    }
    std::fflush(stdout);
    return status;
}

}  // namespace shell
