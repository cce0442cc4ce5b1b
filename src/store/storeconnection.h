#pragma once
// The sample store's connection and its prepared statements, made once per open() and reused by
// every call; shared by the ring's half of the store (store.cpp) and the archive's
// (archivestore.cpp).

#include <QSqlDatabase>
#include <QSqlQuery>

#include "store/rawquery.h"
#include "store/store.h"

namespace record {

struct SampleStore::Connection {
    QSqlDatabase db;
    QSqlQuery begin, commit, rollback;
    QSqlQuery counter, setCounter, addCounter;
    QSqlQuery put, record, between, notBetween, places;
    // The archive's, prepared once the file has one.
    QSqlQuery archivePut, rollupPut, extent, countAfter;
    // The stale marks' writes, prepared when the recorder's writer opens the file.
    QSqlQuery staleExtend, staleAdd;
    // The long reads, through SQLite's own interface (declared after db: finalized before it).
    RawQuery spanSeconds, spanBuckets, after;

    explicit Connection(const QSqlDatabase& d)
        : db(d),
          begin(d),
          commit(d),
          rollback(d),
          counter(d),
          setCounter(d),
          addCounter(d),
          put(d),
          record(d),
          between(d),
          notBetween(d),
          places(d),
          archivePut(d),
          rollupPut(d),
          extent(d),
          countAfter(d),
          staleExtend(d),
          staleAdd(d) {}
};

}  // namespace record
