#include "chamber/userrows.h"

#include <QDateTime>
#include <memory>

#include "auth/audit.h"
#include "auth/userstore.h"
#include "base/workerthread.h"
#include "events/eventrules.h"

namespace chamber {

events::CopiedRows userStoreRows(const QString& path) {
    struct Source {
        explicit Source(const QString& path)
            : store(path, base::uniqueName(QStringLiteral("log-users"))) {}
        auth::UserStore store;
        qint64 seen = 0;
        qint64 version = -1;
    };
    auto source = std::make_shared<Source>(path);
    return [source]() -> std::optional<std::vector<events::EventEntry>> {
        std::vector<events::EventEntry> rows;
        auth::UserStore& store = source->store;
        // No store: nothing to copy. One that cannot be opened or read now: tried again.
        if (store.state() != auth::StoreState::Ready) {
            const auth::StoreState opened = store.open(/*create=*/false);
            if (opened == auth::StoreState::Missing) return rows;
            if (opened != auth::StoreState::Ready) return std::nullopt;
        }
        const qint64 version = store.dataVersion();
        if (version >= 0 && version == source->version) return rows;
        // Rows that could not be read now are read at the next look, not only after the file's
        // next change.
        bool read = false;
        const QList<auth::AccessEvent> events = store.eventsAfter(source->seen, &read);
        if (!read) return std::nullopt;
        source->version = version;
        for (const auth::AccessEvent& e : events) {
            source->seen = e.seq;
            events::EventEntry row = events::codedEntry(QString::fromLatin1(auth::kAuditKind),
                                                        auth::auditCode(e), auth::auditArgs(e));
            row.at = QDateTime::fromMSecsSinceEpoch(e.atMs);
            row.user = e.user;
            rows.push_back(std::move(row));
        }
        return rows;
    };
}

void copyUserStoreRows(const QString& path) {
    events::setCopiedRowsSource([path] { return userStoreRows(path); });
}

}  // namespace chamber
