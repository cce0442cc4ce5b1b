#pragma once
// A slow disk for benchmarks: an SQLite VFS that wraps the default one and waits a set time in
// every sync of every file, the way a busy or failing disk, a USB stick or a network share does.
// It becomes SQLite's default for the whole process, so connections opened through Qt SQL use it.

namespace bench {

// Installs the wrapper as the default VFS; call once, before any connection opens.
bool installSlowSyncVfs();
// The wait added to every sync from now on, in milliseconds (0: the disk's own speed).
void setSyncDelayMs(int ms);
// Syncs run through the wrapper since it was installed.
long syncCount();

}  // namespace bench
