// Pruning the download cache: the files that no feed of the tree needs any more go.
//
// What stays is everything the next Re-Pack of the tree with the current settings packs: each
// feed's document as the cache index gives it, the MP3s of the enclosures SelectEnclosures takes
// from that document, and, when the audio is converted, their kept conversions for the current
// settings; also the partial downloads of those files and of any other file whose name the index
// gives to a feed of the tree or to one of those enclosures. What goes: documents of feeds no
// longer in the tree, MP3s of episodes no longer listed or no longer selected, conversions made
// with other settings or from older versions of an MP3, conversions under the old "<name>.amr"
// names, and partial downloads of files nobody needs.
//
// Only cache files are candidates: regular files named like a cache file (".xml", ".mp3" or
// ".amr", with no punctuation but '_' and '~' before the extension) that this program wrote (the
// cache index names the download; a conversion has a kept name, or is "<name>.amr" beside an
// MP3 the index names), and the partial downloads (".corvane-partial-<cache file name>", with or
// without ".meta"). The cache index, hidden temporaries, links, folders, files the index does
// not know (a file of the user's named like a cache file, a cache from before the index) and
// any other file stay. The index loses the lines of the files
// that were removed and of files that are gone and nobody needs.
//
// Thread: any, but not while an update job of this program folder runs in this process (the
// cache index is one thread's at a time).
#pragma once

#include "model/FeedOptions.h"
#include "platform/Settings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {

struct PruneOptions {
    bool dryRun = false; // list what would go, remove nothing
    // A stop before the search for needed files has ended removes nothing; later, it ends the
    // removals (what was removed stays removed, and the index says so).
    std::stop_token stop;
    // Each feed's own choices (CSubscriptions::FeedOptionsFor), applied over settings as the
    // update applies them; empty: none.
    std::function<FeedOptions(const std::string&)> feedOptions;
};

struct PruneResult {
    std::size_t files = 0; // removed (or, in a dry run, to be removed)
    std::uint64_t bytes = 0; // their sizes
    std::vector<std::string> removed; // their paths, in name order
    std::vector<std::string> errors; // one line each, naming the file and the reason
    bool stopped = false;
};

// Prunes the cache of the data folder (GetDataFolder()) against feedUrls, every feed address of
// the tree, and settings, the current podcast settings (podcastOn, podcastFormat, compression,
// volume, lengthLimitOn, lengthLimit, firstItemOnly and any other rule of SelectEnclosures).
PruneResult PruneCache(const std::vector<std::string>& feedUrls, const CorvaneSettings& settings,
    const PruneOptions& options = {});

// "Removed 12 files, 340.2 MB freed." (a dry run: "Would remove 12 files, 340.2 MB.").
std::string PruneSummaryText(const PruneResult& result, bool dryRun = false);

// "512 bytes", "1.5 KB", "340.2 MB", "2.0 GB" (units of 1024).
std::string ByteCountText(std::uint64_t bytes);

} // namespace corvane
