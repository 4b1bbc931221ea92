// The episodes of a feed as the next update sees them: each item of the feed document, newest
// first, with what the update does with it (taken, or why not), and whether its audio is in the
// download cache and its conversion kept. For `corvane-cli episodes` and the desktop program's
// per-feed dialog, so that both say what the update itself decides (JudgeEpisodes).
//
// Thread: any; reads files only.
#pragma once

#include "model/FeedOptions.h"
#include "platform/Settings.h"
#include "update/EnclosureSelection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

class CCacheIndex;

struct EpisodeRow {
    std::size_t itemNumber = 0; // 1 for the document's first item
    std::string title; // the item's title, trimmed; empty when it has none
    std::string date; // the pubDate as written; empty when it has none
    std::optional<std::int64_t> published; // the pubDate read (seconds since the epoch)
    std::string url; // the enclosure's address; empty without one
    std::string type; // the enclosure's type as written
    std::optional<std::uint64_t> size; // the enclosure's length, else the cached MP3's size
    EpisodeVerdict verdict = EpisodeVerdict::Taken;
    bool cached = false; // the download cache holds the MP3 fetched from url
    bool converts = false; // the update re-compresses this feed's audio to AMR
    bool conversionKept = false; // converts, and the conversion for the settings is kept
};

struct FeedEpisodes {
    std::string address;
    FeedOptions options; // the feed's own choices
    CorvaneSettings settings; // the settings the feed is updated with (SettingsForFeed)
    // Why there is no list: the document could not be read (naming it); empty otherwise. A
    // document that stops part-way gives the items read before the fault, as the update does.
    std::string error;
    std::vector<EpisodeRow> episodes; // newest first (SortNewestFirst)
};

// The episodes of the feed at address in the feed document at documentPath (its cached copy, or
// a fresh download), judged with SettingsForFeed(global, options); cached files and kept
// conversions looked up through index.
FeedEpisodes ListEpisodes(const std::string& address, const std::string& documentPath,
    const CorvaneSettings& global, const FeedOptions& options, const CCacheIndex& index);

// The date as the lists show it: "2024-03-05 10:00" (UTC), or the text as written when it
// cannot be read, or "(no date)".
std::string EpisodeDateText(const EpisodeRow& row);

} // namespace corvane
