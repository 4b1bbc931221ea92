// What a sync puts into its folder, worked out before a byte is written: the feed folders, the
// episode files with their tags, the playlists and (on request) the feed pages, each with its
// path in the sync folder and a key that changes whenever the file's bytes would.
//
// Names (sync/SafeNames.h): a folder per feed named from its title (else its address), an
// episode "YYYY-MM-DD Title.mp3" (".amr" for a conversion; without a date just the title), the
// page "<feed folder>.html" in the feed's folder, the playlists "<feed folder>.m3u8" and
// "All podcasts.m3u8" beside the feed folders. Names are given in package order, so the same
// package and the same device give the same names. A name that an entry not written by a sync
// already has in that folder is never given: that entry is not ours, and stays as it is (a
// folder that is not ours may hold our files beside its own).
//
// Thread: any.
#pragma once

#include "sync/EpisodeTags.h"
#include "sync/PackageEpisodes.h"
#include "sync/SyncManifest.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* ALL_PODCASTS_PLAYLIST = "All podcasts.m3u8";

struct SyncFile {
    enum class Kind { Episode, Page, Playlist };
    Kind kind = Kind::Episode;
    std::string path; // in the sync folder, '/' between names, UTF-8
    std::string key; // 32 hexadecimal digits
    std::uint64_t estimate = 0; // bytes it will take, about (a tag's size is not known before)
    const SyncFeed* feed = nullptr; // Episode, Page
    const SyncEpisode* episode = nullptr; // Episode
    EpisodeTags tags; // Episode in MP3
    std::string text; // Page, Playlist: the whole file
};

// An entry found in a folder of the sync folder.
struct FolderEntry {
    QString name;
    bool folder = false;
};

struct SyncPlanInput {
    const std::vector<SyncFeed>* feeds = nullptr; // must outlive the plan
    const SyncManifest* manifest = nullptr;
    // The entries now in a folder of the sync folder ("" for the sync folder itself, else a
    // feed folder's name); nothing for a folder that is not there.
    std::function<std::vector<FolderEntry>(const std::string& folder)> listFolder;
    // A digest of an episode record's bytes (or of enough of them to tell versions apart).
    std::function<std::string(const SyncEpisode& episode)> contentDigest;
    bool withTexts = false;
};

struct SyncPlan {
    // Episodes in package order, then the pages, then the playlists, which name the episodes and
    // so are written once they are there.
    std::vector<SyncFile> files;
    std::size_t episodes = 0;
    std::size_t feeds = 0; // feeds with a folder
};

SyncPlan PlanSync(const SyncPlanInput& input);

// An M3U8 playlist: "#EXTM3U", then per entry "#EXTINF:-1,<title>" and its path; line breaks in
// titles become spaces.
std::string PlaylistText(const std::vector<std::pair<std::string, std::string>>& titlesAndPaths);

// The feed's page: its title, then each item with title, date and description as text
// (sync/HtmlText.h), and a link to the item's episode file when it has one (episodeFiles: item
// index to file name in the same folder). No script, style sheet, image or remote address; a
// content security policy forbids them besides.
std::string FeedPageText(const SyncFeed& feed, const std::vector<std::string>& episodeFiles);

} // namespace corvane
