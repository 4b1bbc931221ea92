// Syncing the last update's episodes onto a device that has no package reader (a phone's own
// player, an MP3 player, a car's USB stick): the episodes of the package (sync/PackageEpisodes.h)
// as tagged files with playlists, in a folder of their own on the device (sync/SyncPlan.h).
//
// A sync, in order:
//   1. reads the package and the manifest of the sync folder (sync/SyncManifest.h) and plans
//      every file; a planned file whose manifest entry has its key and whose file on the device
//      has the entry's size is current and is left alone;
//   2. checks that the files to write fit into the free space (less what the removals free) and
//      stops, having changed nothing, when they do not;
//   3. removes the files of the manifest that the plan no longer holds (only when their size is
//      still the one written: anything else is no longer ours), and their folders once empty;
//   4. records the files it is about to write as pending in the manifest, so that a sync killed
//      meanwhile still knows them for its own;
//   5. writes each file: made in the private temporary folder (an MP3 tagged there, so the
//      package's and the cache's bytes stay as fetched), then copied through the copy that Send
//      To uses (send/PackageCopy.h: temporary name and rename, or the size-checked direct write
//      where the device refuses renames);
//   6. records what is in place.
// Nothing outside the sync folder is touched, nor anything in it that a sync did not write. A
// stop request is taken between two files: every file on the device is whole, old or new.
//
// Thread: the calling thread does the work; progress is called on it.
#pragma once

#include "send/PackageCopy.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace corvane {

inline constexpr const char* DEFAULT_SYNC_FOLDER = "Podcasts";

struct SyncProgress {
    std::size_t filesDone = 0;
    std::size_t filesTotal = 0; // the files to write
    std::uint64_t bytesDone = 0;
    std::uint64_t bytesTotal = 0; // about
    QString current; // the file being written, in the sync folder; empty at the end
};

struct SyncSetup {
    std::string packagePath;
    QString targetFolder; // a storage's or volume's top folder, or any folder
    // Made in targetFolder; a name that SafeName would change is refused.
    QString folderName = QString::fromLatin1(DEFAULT_SYNC_FOLDER);
    bool withTexts = false; // a page of the feed's texts in each feed folder
    std::function<void(const SyncProgress&)> progress; // before each file, and once at the end
    std::stop_token stop;
    CopySteps copySteps;
    // The bytes free for files in a folder; nullopt when the file system does not say. Unset:
    // statvfs(3) (an MTP storage through gvfs reports its own).
    std::function<std::optional<std::uint64_t>(const std::string& folder)> freeSpace;
};

struct SyncResult {
    bool complete = false; // every planned file is in place, the manifest written
    bool stopped = false; // a stop request ended it between two files
    QString error; // when neither: one sentence naming the file or folder and the cause
    QString folder; // the sync folder
    std::size_t episodes = 0;
    std::size_t feeds = 0;
    std::size_t written = 0; // files written (episodes, pages, playlists)
    std::size_t unchanged = 0; // files that were current
    std::size_t removed = 0; // files of earlier syncs removed
    std::uint64_t bytesWritten = 0;
};

SyncResult SyncEpisodes(const SyncSetup& setup);

// "Synced 12 episodes of 3 feeds into /media/ann/CARD/Podcasts: 4 files written (12.3 MB),
// 10 unchanged, 2 removed."
QString SyncReport(const SyncResult& result);

} // namespace corvane
