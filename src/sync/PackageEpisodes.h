// The episodes of a package, as a sync writes them onto a phone: the package is what the last
// update made, so its records are exactly the episodes the phone should have, in the format the
// update chose (the MP3 as fetched, or its AMR conversion), and its feed records are the very
// documents those episodes were selected from. Reading the package rather than the cache gives
// the same bytes (a record is a cache file unchanged) and stays right when the cache has moved
// on since, been cleaned, or holds a conversion of other settings.
//
// Thread: any; one reader per thread.
#pragma once

#include "update/PackageReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One item of a feed document, with what a sync shows of it.
struct SyncItem {
    std::string title;
    std::string link;
    std::string description; // as the feed gives it: text or HTML
    std::string author;
    std::string enclosureUrl;
    std::optional<std::int64_t> date; // the pubDate read by ParseFeedDate
};

// One episode record of the package.
struct SyncEpisode {
    std::uint32_t type = 0; // RECORD_MP3 or RECORD_AMR
    std::string url; // the record's name: the enclosure's address
    std::uint64_t dataOffset = 0;
    std::uint32_t dataLength = 0;
    int item = -1; // its item in the feed's items; -1 when no item has its address
    int track = 0; // 1 for the feed's oldest episode (see ReadPackageFeeds)
};

// One feed record with the episode records that follow it.
struct SyncFeed {
    std::string url;
    std::string title; // the channel's title; may be empty
    std::string author; // the channel's managing editor as a name; may be empty
    std::vector<SyncItem> items; // in document order
    std::vector<SyncEpisode> episodes; // in package order
};

// The feeds of the package open in reader, in package order: each feed record's document read
// as an update reads it, and the episode records up to the next feed record. An episode takes
// the first item not yet taken whose enclosure has its address. Track numbers count a feed's
// episodes by date, oldest first; episodes without a date come after the dated ones, and equals
// keep package order. Records before the first feed record belong to no feed and are passed
// over. False, with a message naming the package, when a feed record cannot be read.
bool ReadPackageFeeds(CPackageReader& reader, std::vector<SyncFeed>& feeds, std::string& error);

// The episode's title: its item's title, else the last part of its address without the
// extension, else its whole address.
std::string EpisodeTitle(const SyncFeed& feed, const SyncEpisode& episode);
// The episode's date, when its item gives one.
std::optional<std::int64_t> EpisodeDate(const SyncFeed& feed, const SyncEpisode& episode);
// The artist of an episode: the feed's author, else its item's author (as a name), else empty.
std::string EpisodeArtist(const SyncFeed& feed, const SyncEpisode& episode);

// "YYYY-MM-DD" of a moment in UTC.
std::string DayOf(std::int64_t seconds);

// The name in an RSS address field: "ann@example.com (Ann Smith)" gives "Ann Smith"; anything
// else comes back trimmed.
std::string NameOfAuthor(std::string_view author);

} // namespace corvane
