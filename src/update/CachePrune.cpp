#include "update/CachePrune.h"

#include "net/WebAccess.h"
#include "platform/Paths.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"
#include "update/EnclosureSelection.h"
#include "update/UpdateJob.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_set>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

using NameSet = std::unordered_set<std::string>;

// The file names (without folder) the tree needs: keep holds the files the next Re-Pack packs,
// wanted every name that the index gives to an address of the tree (a download may be under
// way into it).
struct Needed {
    NameSet keep;
    NameSet wanted;
};

std::string NameOf(const std::string& path, const std::string& folder)
{
    return path.substr(folder.size());
}

void AddNames(NameSet& set, const std::vector<std::string>& names)
{
    set.insert(names.begin(), names.end());
}

// The MP3 of each enclosure the feed document at documentPath gives with settings, and its
// kept conversion when the audio is converted.
void AddEnclosures(const CCacheIndex& index, const std::string& folder,
    const std::string& documentPath, const CorvaneSettings& settings, Needed& needed)
{
    // Whatever the parse result: Re-Pack takes the items read before a fault too, and a
    // document that is no feed keeps what its items name, as it always has.
    std::string notAFeed;
    for (const SelectedEnclosure& selected :
        SelectEnclosuresOfDocument(documentPath, settings, notAFeed)) {
        AddNames(needed.wanted, index.NamesOf(selected.url, CACHE_MP3));
        const std::string mp3 = index.Find(selected.url, CACHE_MP3);
        if (mp3.empty())
            continue;
        needed.keep.insert(NameOf(mp3, folder));
        if (settings.podcastFormat != 0) {
            const std::string amr = KeptAmrPath(mp3, AmrSettingsFrom(settings));
            if (!amr.empty())
                needed.keep.insert(NameOf(amr, folder));
        }
    }
}

// False when a stop came before every feed was looked at: the sets are then incomplete.
bool CollectNeeded(const CCacheIndex& index, const std::string& folder,
    const std::vector<std::string>& feedUrls, const CorvaneSettings& global,
    const PruneOptions& options, Needed& needed)
{
    for (const std::string& url : feedUrls) {
        if (options.stop.stop_requested())
            return false;
        const CorvaneSettings settings
            = options.feedOptions ? SettingsForFeed(global, options.feedOptions(url)) : global;
        AddNames(needed.wanted, index.NamesOf(url, CACHE_FEED));
        const std::string document = index.Find(url, CACHE_FEED);
        if (document.empty())
            continue;
        needed.keep.insert(NameOf(document, folder));
        AddEnclosures(index, folder, document, settings, needed);
    }
    return true;
}

// The cache file a partial download is for; empty when name is no partial download.
std::string PartialTarget(const std::string& name)
{
    const std::string_view prefix = PARTIAL_DOWNLOAD_PREFIX;
    const std::string_view suffix = PARTIAL_METADATA_SUFFIX;
    if (!name.starts_with(prefix))
        return {};
    std::string target = name.substr(prefix.size());
    if (target.ends_with(suffix))
        target.erase(target.size() - suffix.size());
    const bool download = target.ends_with(".xml") || target.ends_with(".mp3");
    return download && IsCacheFileName(target) ? target : std::string();
}

// Whether this program wrote the file name of the data folder: a download the index names, or
// a conversion (kept, or under the old "<name>.amr" beside a download the index names). A file
// of the user's that merely looks like a cache name ("notes.xml") is not.
bool WrittenHere(const CCacheIndex& index, const std::string& name)
{
    if (!index.OriginOf(name).empty() || IsKeptAmrName(name))
        return true;
    return name.ends_with(".amr")
        && !index.OriginOf(name.substr(0, name.size() - 4) + ".mp3").empty();
}

// Whether the file name in the data folder is a cache file that the tree does not need.
bool Unneeded(const CCacheIndex& index, const std::string& name, const Needed& needed)
{
    if (const std::string target = PartialTarget(name); !target.empty())
        return !needed.keep.count(target) && !needed.wanted.count(target);
    // Hidden files (the index, temporaries) have their own cleanup.
    if (name.empty() || name[0] == '.' || !IsCacheFileName(name) || !WrittenHere(index, name))
        return false;
    return !needed.keep.count(name);
}

struct Candidate {
    std::string name;
    std::uint64_t size = 0;
};

// The unneeded regular files of folder, in name order. A folder that does not exist holds none.
std::vector<Candidate> FindUnneeded(const CCacheIndex& index, const std::string& folder,
    const Needed& needed, std::vector<std::string>& errors)
{
    std::vector<Candidate> found;
    DIR* directory = ::opendir(folder.c_str());
    if (!directory) {
        if (errno != ENOENT)
            errors.push_back("cannot read the folder " + folder + ": " + std::strerror(errno));
        return found;
    }
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        struct stat status { };
        if (!Unneeded(index, name, needed) || ::lstat((folder + name).c_str(), &status) != 0
            || !S_ISREG(status.st_mode))
            continue;
        found.push_back({name, static_cast<std::uint64_t>(status.st_size)});
    }
    ::closedir(directory);
    std::sort(found.begin(), found.end(),
        [](const Candidate& a, const Candidate& b) { return a.name < b.name; });
    return found;
}

// Lines of files that are gone and that no address of the tree holds a claim on.
void ForgetMissing(CCacheIndex& index, const std::string& folder, const Needed& needed)
{
    for (const std::string& name : index.FileNames()) {
        struct stat status { };
        if (!needed.keep.count(name) && !needed.wanted.count(name)
            && ::lstat((folder + name).c_str(), &status) != 0 && errno == ENOENT)
            index.Forget(name);
    }
}

void Remove(const std::vector<Candidate>& candidates, const std::string& folder,
    const PruneOptions& options, CCacheIndex& index, PruneResult& result)
{
    for (const Candidate& candidate : candidates) {
        if (options.stop.stop_requested()) {
            result.stopped = true;
            return;
        }
        const std::string path = folder + candidate.name;
        if (!options.dryRun && ::unlink(path.c_str()) != 0) {
            if (errno != ENOENT) // gone meanwhile: nothing to free
                result.errors.push_back("cannot remove " + path + ": " + std::strerror(errno));
            continue;
        }
        ++result.files;
        result.bytes += candidate.size;
        result.removed.push_back(path);
        index.Forget(candidate.name);
    }
}

} // namespace

PruneResult PruneCache(const std::vector<std::string>& feedUrls, const CorvaneSettings& settings,
    const PruneOptions& options)
{
    PruneResult result;
    const std::string folder = GetDataFolder();
    struct stat status { };
    if (::stat(folder.c_str(), &status) != 0)
        return result; // no cache yet
    CCacheIndex index(folder);
    if (!index.ReadError().empty()) {
        // Which files are the program's is what the index says: without it none is known.
        result.errors.push_back(index.ReadError() + "; nothing was removed");
        return result;
    }
    Needed needed;
    if (!CollectNeeded(index, folder, feedUrls, settings, options, needed)) {
        result.stopped = true;
        return result;
    }
    const std::vector<Candidate> candidates = FindUnneeded(index, folder, needed, result.errors);
    Remove(candidates, folder, options, index, result);
    if (options.dryRun)
        return result;
    ForgetMissing(index, folder, needed);
    std::string error;
    if (!index.SaveIfChanged(error))
        result.errors.push_back(error);
    return result;
}

std::string ByteCountText(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    // 1023.96 KB would print as "1024.0 KB": such a value is shown in the next unit.
    while (value >= 1023.95 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string PruneSummaryText(const PruneResult& result, bool dryRun)
{
    const std::string files
        = std::to_string(result.files) + (result.files == 1 ? " file" : " files");
    if (dryRun)
        return "Would remove " + files + ", " + ByteCountText(result.bytes) + ".";
    return "Removed " + files + ", " + ByteCountText(result.bytes) + " freed.";
}

} // namespace corvane
