#include "slowsyncvfs.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace bench {

namespace {

sqlite3_vfs* realVfs = nullptr;
sqlite3_vfs slowVfs;
std::atomic<int> delayMs{0};
std::atomic<long> syncs{0};

// A copy of a file's method table with xSync replaced; the first member, so a file's pMethods
// leads back to the table it was copied from.
struct Methods {
    sqlite3_io_methods methods;
    const sqlite3_io_methods* original;
};

std::mutex tablesLock;
std::list<Methods> tables;  // one per method table of the wrapped VFS; a list keeps addresses

int slowSync(sqlite3_file* file, int flags) {
    const auto* wrapped = reinterpret_cast<const Methods*>(file->pMethods);
    if (const int ms = delayMs.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    ++syncs;
    return wrapped->original->xSync(file, flags);
}

const sqlite3_io_methods* wrap(const sqlite3_io_methods* original) {
    std::lock_guard<std::mutex> lock(tablesLock);
    for (const Methods& m : tables)
        if (m.original == original) return &m.methods;
    Methods& m = tables.emplace_back(Methods{*original, original});
    m.methods.xSync = slowSync;
    return &m.methods;
}

// The file is the wrapped VFS's own; only its method table is swapped for the copy.
int slowOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* outFlags) {
    const int rc = realVfs->xOpen(realVfs, name, file, flags, outFlags);
    if (file->pMethods) file->pMethods = wrap(file->pMethods);
    return rc;
}

}  // namespace

bool installSlowSyncVfs() {
    if (realVfs) return true;
    realVfs = sqlite3_vfs_find(nullptr);
    if (!realVfs) return false;
    slowVfs = *realVfs;
    slowVfs.zName = "slowsync";
    slowVfs.pNext = nullptr;
    slowVfs.xOpen = slowOpen;
    return sqlite3_vfs_register(&slowVfs, 1) == SQLITE_OK;
}

void setSyncDelayMs(int ms) {
    delayMs = ms;
}

long syncCount() {
    return syncs.load();
}

}  // namespace bench
