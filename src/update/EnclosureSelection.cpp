#include "update/EnclosureSelection.h"

#include "formats/FeedDate.h"
#include "platform/Utf8.h"

#include <algorithm>

namespace corvane {

namespace {

bool NewerFirst(const EpisodeJudgement& left, const EpisodeJudgement& right)
{
    if (left.published && right.published)
        return *left.published > *right.published;
    return left.published.has_value() && !right.published.has_value();
}

// The verdict before ranking: every rule that looks at one item alone.
EpisodeVerdict ItemVerdict(
    const CFeedItem& item, std::size_t itemNumber, const CorvaneSettings& settings)
{
    if (!item.enclosureUrl)
        return EpisodeVerdict::NoEnclosure;
    if (!settings.podcastOn)
        return EpisodeVerdict::PodcastsOff;
    if (settings.firstItemOnly && itemNumber > 1)
        return EpisodeVerdict::FirstOneOnly;
    if (!item.enclosureType || !IsMp3Type(*item.enclosureType, settings.anyMp3Type != 0))
        return EpisodeVerdict::NotMp3;
    return EpisodeVerdict::Taken;
}

// Passes over every taken item beyond the newest count. With only the first item looked at
// there is nothing to rank.
void KeepNewest(std::vector<EpisodeJudgement>& judgements, const CorvaneSettings& settings)
{
    if (settings.newest <= 0 || settings.firstItemOnly)
        return;
    std::vector<EpisodeJudgement*> taken;
    for (EpisodeJudgement& judgement : judgements) {
        if (judgement.verdict == EpisodeVerdict::Taken)
            taken.push_back(&judgement);
    }
    const auto count = static_cast<std::size_t>(settings.newest);
    if (taken.size() <= count)
        return;
    // Stable: equals keep document order, the first of them ranking higher.
    std::stable_sort(taken.begin(), taken.end(),
        [](const EpisodeJudgement* left, const EpisodeJudgement* right) {
            return NewerFirst(*left, *right);
        });
    for (std::size_t i = count; i < taken.size(); ++i)
        taken[i]->verdict = EpisodeVerdict::OlderThanNewest;
}

} // namespace

bool IsMp3Type(std::string_view type, bool anyMp3Type)
{
    if (!anyMp3Type)
        return type == "audio/mpeg";
    // The names real feeds give MP3 besides the registered one.
    static constexpr std::string_view names[]
        = {"audio/mpeg", "audio/mp3", "audio/x-mp3", "audio/mpeg3", "audio/x-mpeg"};
    for (std::string_view name : names) {
        if (EqualsIgnoringAsciiCase(type, name))
            return true;
    }
    return false;
}

CorvaneSettings SettingsForFeed(const CorvaneSettings& global, const FeedOptions& options)
{
    CorvaneSettings settings = global;
    if (options.podcast)
        settings.podcastOn = *options.podcast ? 1 : 0;
    if (options.newest)
        settings.newest = *options.newest;
    if (options.audio != FeedAudio::Default)
        settings.podcastFormat = options.audio == FeedAudio::Amr ? 1 : 0;
    return settings;
}

const char* EpisodeVerdictText(EpisodeVerdict verdict)
{
    switch (verdict) {
    case EpisodeVerdict::Taken:
        return "taken";
    case EpisodeVerdict::NoEnclosure:
        return "no enclosure";
    case EpisodeVerdict::PodcastsOff:
        return "podcasts off for this feed";
    case EpisodeVerdict::FirstOneOnly:
        return "first one only";
    case EpisodeVerdict::NotMp3:
        return "not MP3";
    case EpisodeVerdict::OlderThanNewest:
        return "older than Newest";
    }
    return "";
}

std::vector<EpisodeJudgement> JudgeEpisodes(
    const CFeedChannel& channel, const CorvaneSettings& settings)
{
    std::vector<EpisodeJudgement> judgements;
    std::size_t itemNumber = 0;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get()) {
        ++itemNumber;
        EpisodeJudgement judgement;
        judgement.itemNumber = itemNumber;
        judgement.item = item;
        judgement.published = item->pubDate ? ParseFeedDate(*item->pubDate) : std::nullopt;
        judgement.verdict = ItemVerdict(*item, itemNumber, settings);
        judgements.push_back(judgement);
    }
    KeepNewest(judgements, settings);
    return judgements;
}

void SortNewestFirst(std::vector<EpisodeJudgement>& judgements)
{
    std::stable_sort(judgements.begin(), judgements.end(), NewerFirst);
}

std::vector<SelectedEnclosure> SelectEnclosures(
    const CFeedChannel& channel, const CorvaneSettings& settings)
{
    std::vector<SelectedEnclosure> selected;
    if (!settings.podcastOn)
        return selected;
    for (const EpisodeJudgement& judgement : JudgeEpisodes(channel, settings)) {
        if (judgement.verdict == EpisodeVerdict::Taken)
            selected.push_back({judgement.itemNumber, *judgement.item->enclosureUrl});
    }
    return selected;
}

} // namespace corvane
