#include "sync/PackageEpisodes.h"

#include "formats/FeedDate.h"
#include "formats/RssReader.h"
#include "platform/AsciiText.h"
#include "platform/Utf8.h"
#include "update/Package.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <numeric>

namespace corvane {

namespace {

std::string Text(const TextField& field)
{
    return field ? RepairUtf8(*field) : std::string();
}

std::string Trim(std::string_view text)
{
    return std::string(TrimmedAscii(text));
}

SyncItem ItemOf(const CFeedItem& item)
{
    SyncItem taken;
    taken.title = Trim(Text(item.title));
    taken.link = Trim(Text(item.link));
    taken.description = Text(item.description);
    taken.author = NameOfAuthor(Text(item.author));
    taken.enclosureUrl = Trim(Text(item.enclosureUrl));
    if (item.pubDate)
        taken.date = ParseFeedDate(*item.pubDate);
    return taken;
}

bool ReadFeed(
    CPackageReader& reader, const PackageRecord& record, SyncFeed& feed, std::string& error)
{
    const std::optional<std::string> bytes = reader.ReadBytes(record.dataOffset, record.dataLength);
    if (!bytes) {
        error = reader.Error();
        return false;
    }
    feed.url = record.name;
    std::unique_ptr<CFeedChannel> channel;
    ReadFeedBytes(*bytes, channel); // a document that reads in part still gives what it read
    if (!channel)
        return true;
    feed.title = Trim(Text(channel->title));
    feed.author = NameOfAuthor(Text(channel->managingEditor));
    for (const CFeedItem* item = channel->firstItem.get(); item; item = item->nextItem.get())
        feed.items.push_back(ItemOf(*item));
    return true;
}

void MatchItem(SyncFeed& feed, SyncEpisode& episode, std::vector<bool>& taken)
{
    const std::string url = Trim(episode.url);
    for (std::size_t i = 0; i < feed.items.size(); ++i) {
        if (!taken[i] && feed.items[i].enclosureUrl == url) {
            taken[i] = true;
            episode.item = static_cast<int>(i);
            return;
        }
    }
}

void NumberTracks(SyncFeed& feed)
{
    std::vector<std::size_t> order(feed.episodes.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&feed](std::size_t a, std::size_t b) {
        const std::optional<std::int64_t> left = EpisodeDate(feed, feed.episodes[a]);
        const std::optional<std::int64_t> right = EpisodeDate(feed, feed.episodes[b]);
        if (left.has_value() != right.has_value())
            return left.has_value();
        return left && *left < *right;
    });
    for (std::size_t rank = 0; rank < order.size(); ++rank)
        feed.episodes[order[rank]].track = static_cast<int>(rank + 1);
}

} // namespace

bool ReadPackageFeeds(CPackageReader& reader, std::vector<SyncFeed>& feeds, std::string& error)
{
    feeds.clear();
    std::vector<bool> taken;
    for (const PackageRecord& record : reader.Records()) {
        if (record.type == RECORD_FEED) {
            feeds.emplace_back();
            if (!ReadFeed(reader, record, feeds.back(), error))
                return false;
            taken.assign(feeds.back().items.size(), false);
            continue;
        }
        if (feeds.empty() || (record.type != RECORD_MP3 && record.type != RECORD_AMR))
            continue;
        SyncEpisode episode;
        episode.type = record.type;
        episode.url = record.name;
        episode.dataOffset = record.dataOffset;
        episode.dataLength = record.dataLength;
        MatchItem(feeds.back(), episode, taken);
        feeds.back().episodes.push_back(std::move(episode));
    }
    for (SyncFeed& feed : feeds)
        NumberTracks(feed);
    return true;
}

std::string EpisodeTitle(const SyncFeed& feed, const SyncEpisode& episode)
{
    if (episode.item >= 0 && !feed.items[episode.item].title.empty())
        return feed.items[episode.item].title;
    std::string name = episode.url.substr(0, episode.url.find_first_of("?#"));
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    name = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0)
        name.erase(dot);
    return name.empty() ? episode.url : RepairUtf8(name);
}

std::optional<std::int64_t> EpisodeDate(const SyncFeed& feed, const SyncEpisode& episode)
{
    return episode.item >= 0 ? feed.items[episode.item].date : std::nullopt;
}

std::string EpisodeArtist(const SyncFeed& feed, const SyncEpisode& episode)
{
    if (!feed.author.empty())
        return feed.author;
    return episode.item >= 0 ? feed.items[episode.item].author : std::string();
}

std::string DayOf(std::int64_t seconds)
{
    // Civil from days (the inverse of DaysFromCivil), in the proleptic Gregorian calendar.
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400 + 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra
        = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d", static_cast<long long>(year), month, day);
    return text;
}

std::string NameOfAuthor(std::string_view author)
{
    const std::string trimmed = Trim(author);
    const std::size_t open = trimmed.find(" (");
    if (trimmed.find('@') < open && open != std::string::npos && trimmed.back() == ')')
        return Trim(std::string_view(trimmed).substr(open + 2, trimmed.size() - open - 3));
    return trimmed;
}

} // namespace corvane
