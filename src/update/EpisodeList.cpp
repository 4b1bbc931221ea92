#include "update/EpisodeList.h"

#include "formats/CorvaneDoc.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"
#include "update/UpdateJob.h"

#include <charconv>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

namespace corvane {

namespace {

std::optional<std::uint64_t> LengthOf(const TextField& length)
{
    const std::string text = TrimmedText(length);
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    // Feeds often write 0 or 1 when they do not know; that is no size.
    if (text.empty() || error != std::errc() || stop != end || value <= 1)
        return std::nullopt;
    return value;
}

bool IsFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(path, error);
}

// The cache side of one row: the MP3 fetched from its address, its size when the feed gives
// none, and the conversion the feed's settings would use.
void LookIntoCache(EpisodeRow& row, const CorvaneSettings& settings, const CCacheIndex& index)
{
    row.converts = settings.podcastFormat != 0;
    if (row.url.empty())
        return;
    const std::string mp3 = index.Find(row.url, CACHE_MP3);
    row.cached = IsFile(mp3);
    if (!row.cached)
        return;
    if (!row.size) {
        std::error_code error;
        const std::uintmax_t size = std::filesystem::file_size(mp3, error);
        if (!error)
            row.size = size;
    }
    if (row.converts)
        row.conversionKept = IsFile(KeptAmrPath(mp3, AmrSettingsFrom(settings)));
}

EpisodeRow RowOf(const EpisodeJudgement& judgement)
{
    const CFeedItem& item = *judgement.item;
    EpisodeRow row;
    row.itemNumber = judgement.itemNumber;
    row.title = TrimmedText(item.title);
    row.date = TrimmedText(item.pubDate);
    row.published = judgement.published;
    row.url = TrimmedText(item.enclosureUrl);
    row.type = TrimmedText(item.enclosureType);
    row.size = LengthOf(item.enclosureLength);
    row.verdict = judgement.verdict;
    return row;
}

} // namespace

FeedEpisodes ListEpisodes(const std::string& address, const std::string& documentPath,
    const CorvaneSettings& global, const FeedOptions& options, const CCacheIndex& index)
{
    FeedEpisodes feed;
    feed.address = address;
    feed.options = options;
    feed.settings = SettingsForFeed(global, options);
    if (!IsFile(documentPath)) {
        feed.error = "not in the download cache; run an update";
        return feed;
    }
    std::unique_ptr<CFeedChannel> channel;
    CCorvaneDoc::ReadFeedFile(documentPath, channel);
    std::vector<EpisodeJudgement> judgements = JudgeEpisodes(*channel, feed.settings);
    SortNewestFirst(judgements);
    for (const EpisodeJudgement& judgement : judgements) {
        EpisodeRow row = RowOf(judgement);
        LookIntoCache(row, feed.settings, index);
        feed.episodes.push_back(std::move(row));
    }
    return feed;
}

std::string EpisodeDateText(const EpisodeRow& row)
{
    if (!row.published)
        return row.date.empty() ? "(no date)" : row.date;
    const std::time_t seconds = static_cast<std::time_t>(*row.published);
    std::tm parts {};
    gmtime_r(&seconds, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &parts);
    return text;
}

} // namespace corvane
