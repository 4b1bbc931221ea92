// corvane-cli feed-options and episodes: a feed's own choices, and what the next update takes of
// its episodes.
#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "platform/Paths.h"
#include "subscriptions/FeedOptionsFile.h"
#include "subscriptions/Subscriptions.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"
#include "update/EpisodeList.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace corvane {

namespace {

// The global value each choice falls back to, in the choices' own words.
std::string GlobalSummary(const CorvaneSettings& settings)
{
    FeedOptions global;
    global.podcast = settings.podcastOn != 0;
    global.newest = settings.newest;
    global.audio = settings.podcastFormat != 0 ? FeedAudio::Amr : FeedAudio::Mp3;
    return FeedOptionsSummary(global);
}

void PrintChoices(const std::string& address, const FeedOptions& options,
    const CorvaneSettings& global, bool json)
{
    if (json) {
        PrintJson(
            QJsonObject {{"address", JsonText(address)}, {"options", FeedOptionsJson(options)},
                {"summary", QString::fromStdString(FeedOptionsSummary(options))},
                {"global", QString::fromStdString(GlobalSummary(global))}});
        return;
    }
    std::printf("%s\n  %s\n  (global: %s)\n", address.c_str(), FeedOptionsSummary(options).c_str(),
        GlobalSummary(global).c_str());
}

// The NAME=VALUE arguments applied to options; false after printing why one was refused.
bool ApplyAll(FeedOptions& options, const std::vector<std::string>& settings)
{
    for (const std::string& setting : settings) {
        const std::size_t equals = setting.find('=');
        if (equals == std::string::npos) {
            PrintError("expected NAME=VALUE, got '" + setting + "'");
            return false;
        }
        if (const std::string error
            = ApplyFeedOption(options, setting.substr(0, equals), setting.substr(equals + 1));
            !error.empty()) {
            PrintError(error);
            return false;
        }
    }
    return true;
}

} // namespace

int RunFeedOptions(CommandLine& arguments)
{
    arguments.Describe(
        "Shows or sets the choices of one feed of the tree, which take the place of the global\n"
        "Podcast settings for it: podcast=on|off|default, newest=N|default (0: every episode)\n"
        "and audio=default|mp3|amr. 'default' goes back to the global setting. Without a\n"
        "setting the feed's choices are printed. They are kept in FeedOptions.json beside the\n"
        "channels file, never in it, and travel in 'export --format opml2'.");
    arguments.Positional("URL", "the feed's address, as in the tree");
    arguments.MoreOf("NAME=VALUE", "podcast=..., newest=... or audio=...");
    arguments.Flag("json", "print the choices as one JSON object");
    arguments.Flag("quiet", "print nothing after setting");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const std::string& address = arguments.Positionals()[0];
    const std::vector<std::string> settings(
        arguments.Positionals().begin() + 1, arguments.Positionals().end());
    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    if (!subscriptions->FindFeed(address)) {
        PrintError("no feed with the address " + address + " in " + GetChannelsFilePath());
        return EXIT_FAILED;
    }
    FeedOptions options = subscriptions->FeedOptionsFor(address);
    if (!settings.empty()) {
        if (!ApplyAll(options, settings))
            return EXIT_USAGE;
        if (const Result<void> stored = subscriptions->SetFeedOptions(address, options); !stored) {
            PrintError(stored.Error());
            return EXIT_FAILED;
        }
        if (arguments.Has("quiet"))
            return EXIT_DONE;
    } else if (const std::string error = subscriptions->FeedOptionsReadError(); !error.empty()) {
        PrintError(error);
        return EXIT_FAILED;
    }
    PrintChoices(address, options, subscriptions->Settings(), arguments.Has("json"));
    return EXIT_DONE;
}

namespace {

QJsonValue SizeJson(const std::optional<std::uint64_t>& size)
{
    return size ? QJsonValue(static_cast<qint64>(*size)) : QJsonValue();
}

QJsonObject EpisodeJson(const EpisodeRow& row)
{
    const bool taken = row.verdict == EpisodeVerdict::Taken;
    return QJsonObject {{"item", static_cast<qint64>(row.itemNumber)},
        {"title", JsonText(row.title)},
        {"date", row.date.empty() ? QJsonValue() : QJsonValue(JsonText(row.date))},
        {"published",
            row.published ? QJsonValue(static_cast<qint64>(*row.published)) : QJsonValue()},
        {"address", row.url.empty() ? QJsonValue() : QJsonValue(JsonText(row.url))},
        {"type", JsonText(row.type)}, {"size", SizeJson(row.size)}, {"taken", taken},
        {"reason", taken ? QJsonValue() : QJsonValue(EpisodeVerdictText(row.verdict))},
        {"cached", row.cached}, {"converts", row.converts}, {"conversionKept", row.conversionKept}};
}

QJsonObject FeedJson(const FeedEpisodes& feed, const std::string& title)
{
    QJsonArray episodes;
    for (const EpisodeRow& row : feed.episodes)
        episodes.append(EpisodeJson(row));
    QJsonObject object {{"address", JsonText(feed.address)}, {"title", JsonText(title)},
        {"options", FeedOptionsJson(feed.options)}, {"episodes", episodes}};
    if (!feed.error.empty())
        object.insert("error", JsonText(feed.error));
    return object;
}

void PrintFeed(const FeedEpisodes& feed, const std::string& title)
{
    std::printf("%s%s<%s>  %s\n", title.c_str(), title.empty() ? "" : "  ", feed.address.c_str(),
        FeedOptionsSummary(feed.options).c_str());
    for (const EpisodeRow& row : feed.episodes) {
        std::string state = EpisodeVerdictText(row.verdict);
        if (row.cached)
            state += ", cached";
        if (row.conversionKept)
            state += ", conversion kept";
        std::printf("  %s  %s  %s  %s  %s\n", EpisodeDateText(row).c_str(),
            row.title.empty() ? "(untitled)" : row.title.c_str(),
            row.size ? Megabytes(*row.size).c_str() : "-",
            row.type.empty() ? "-" : row.type.c_str(), state.c_str());
    }
    if (feed.episodes.empty() && feed.error.empty())
        std::printf("  (no items)\n");
}

// The feed document the list is made from: the cached copy, or with fetch a fresh download
// (downloaded, set to be removed by the caller). Empty when fetch failed (said already).
std::string DocumentFor(
    const std::string& address, bool fetch, const CCacheIndex& index, bool& downloaded)
{
    downloaded = false;
    if (!fetch)
        return index.Find(address, CACHE_FEED);
    std::string path = DownloadToPrivateFile(address);
    downloaded = !path.empty();
    return path;
}

} // namespace

int RunEpisodes(CommandLine& arguments)
{
    arguments.Describe(
        "Lists each feed's episodes, newest first: date, title, size, type, and whether the\n"
        "next update takes it (or why not: no enclosure, podcasts off for this feed, first one\n"
        "only, not MP3, older than Newest), whether its MP3 is in the download cache and its\n"
        "conversion kept. Read from the cached feed documents; without URL every feed of the\n"
        "tree.");
    arguments.MoreOf("URL", "the feeds to list (default: every feed of the tree)");
    arguments.Flag("fetch", "download each feed document now instead of reading the cache");
    arguments.Flag("json",
        "one JSON object: {\"feeds\": [{\"address\", \"title\", \"options\",\n"
        "\"episodes\": [...], \"error\" when there is no list}]}");
    arguments.Epilogue("Exit status: 0, or 1 when a feed could not be listed (said on standard "
                       "error).\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    std::vector<std::string> addresses = arguments.Positionals();
    if (addresses.empty())
        addresses = subscriptions->CollectAllFeeds(subscriptions->Root());
    const bool json = arguments.Has("json");
    const CCacheIndex index(GetDataFolder());
    QJsonArray feeds;
    int code = EXIT_DONE;
    for (const std::string& address : addresses) {
        bool downloaded = false;
        const std::string document
            = DocumentFor(address, arguments.Has("fetch"), index, downloaded);
        FeedEpisodes feed = ListEpisodes(address, document, subscriptions->Settings(),
            subscriptions->FeedOptionsFor(address), index);
        if (downloaded)
            ::unlink(document.c_str());
        else if (arguments.Has("fetch"))
            feed.error = "the feed document could not be downloaded";
        const COutlineItem* node = subscriptions->FindFeed(address);
        const std::string title = node && node->title ? *node->title : std::string();
        if (!feed.error.empty()) {
            PrintError(address + ": " + feed.error);
            code = EXIT_FAILED;
        }
        if (json)
            feeds.append(FeedJson(feed, title));
        else
            PrintFeed(feed, title);
    }
    if (json)
        PrintJson(QJsonObject {{"feeds", feeds}});
    return code;
}

} // namespace corvane
