// Copying the package onto a volume, a phone's storage or a folder.
//
// The copy is written under a hidden temporary name in the target folder (the name an
// AtomicFile gives: platform/AtomicFile.h, whose stale temporaries it clears), flushed, closed
// and renamed over the final name, so a failed copy never leaves a partial package behind and a
// reader sees the old package or the new. Removable volumes are often FAT file systems, which
// rename within one folder.
//
// A phone's storage mounted through gvfs or a FUSE MTP program often refuses the rename (MTP
// has no "replace"). Then the temporary goes, the older package at the final name is removed
// and the package is written there directly, closed (the device takes the data at the close)
// and its size checked against the source. When that fails too, what was written is removed
// and the message names both failures.
//
// Errors are one sentence naming the file and the reason. Thread: any; plain POSIX.
#pragma once

#include <QString>

#include <functional>

namespace corvane {

// The file system calls a copy makes that tests replace to play a device.
struct CopySteps {
    // rename(2): 0, or -1 with errno set.
    std::function<int(const char* from, const char* to)> rename;
    CopySteps();
};

// Copies the file at sourcePath into folder under its own file name. Copying a file onto itself
// changes nothing. Returns an empty string on success (and the copy's path in destination when
// given), else a message naming the file and the cause.
QString CopyFileInto(const QString& sourcePath, const QString& folder,
    QString* destination = nullptr, const CopySteps& steps = CopySteps());

// The same copy under the file name fileName in folder (a sync's episode files, whose names
// differ from their sources').
QString CopyFileAs(const QString& sourcePath, const QString& folder, const QString& fileName,
    QString* destination = nullptr, const CopySteps& steps = CopySteps());

} // namespace corvane
