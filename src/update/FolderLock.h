// The program folder's update lock. Every job that writes the package or the download cache
// (a full update, Re-Pack, the scheduled update of the desktop program or of the systemd timer,
// `corvane-cli clean`) holds it while it runs, so two processes never interleave their cache
// index lines or race each other's package commits.
//
// The lock is an exclusive flock(2) on "<program folder>/update.lock". The kernel drops it when
// the holder dies however it dies, so a crash never leaves the folder locked, and it belongs to
// one open file: two jobs of one process exclude each other as two processes do. The file itself
// is never removed (a removed lock file lets a third process lock a new file while the second
// still holds the old one).
// Thread: one object per thread; the functions below are safe from any thread.
#pragma once

#include "platform/FileDescriptor.h"

#include <chrono>
#include <stop_token>
#include <string>

namespace corvane {

// How long a second update waits for the first one before it gives up: CORVANE_LOCK_WAIT_MS
// (milliseconds, 0 or more) when set to a number, else five seconds.
std::chrono::milliseconds FolderLockWait();

// "<program folder>update.lock".
std::string FolderLockPath();

// The message of an update that found the folder taken, naming the folder.
std::string FolderBusyText(const std::string& programFolder);

class ProgramFolderLock {
public:
    ProgramFolderLock() = default;
    ProgramFolderLock(ProgramFolderLock&&) noexcept = default;
    ProgramFolderLock& operator=(ProgramFolderLock&&) noexcept = default;

    // Takes the lock of the program folder, waiting up to wait for another holder to let go
    // (polling, so that a stop request ends the wait at once). False with a message in error:
    // FolderBusyText when the wait ran out or was stopped (busy is then true), else why the
    // lock file could not be opened, naming it (busy false).
    bool Take(std::chrono::milliseconds wait, std::stop_token stop, std::string& error,
        bool* busy = nullptr);
    bool Held() const { return descriptor.valid(); }
    // Lets go of the lock (the destructor does the same).
    void Release() { descriptor.reset(); }

private:
    FileDescriptor descriptor;
};

} // namespace corvane
