#include "update/EnclosureSelection.h"

#include "formats/FeedCheck.h"
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
    EnclosureSelector selector(settings);
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get()) {
        judgements.push_back(selector.Add(*item));
        judgements.back().item = item;
    }
    // The selector alone ranks: a taken item it did not keep is older than the newest N.
    const std::vector<SelectedEnclosure> selected = selector.Selected();
    auto next = selected.begin();
    for (EpisodeJudgement& judgement : judgements) {
        if (judgement.verdict != EpisodeVerdict::Taken)
            continue;
        if (next != selected.end() && next->itemNumber == judgement.itemNumber)
            ++next;
        else
            judgement.verdict = EpisodeVerdict::OlderThanNewest;
    }
    return judgements;
}

void SortNewestFirst(std::vector<EpisodeJudgement>& judgements)
{
    std::stable_sort(judgements.begin(), judgements.end(), NewerFirst);
}

std::vector<SelectedEnclosure> SelectEnclosures(
    const CFeedChannel& channel, const CorvaneSettings& settings)
{
    EnclosureSelector selector(settings);
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get())
        selector.Add(*item);
    return selector.Selected();
}

std::vector<SelectedEnclosure> SelectEnclosuresOfDocument(
    const std::string& path, const CorvaneSettings& settings, std::string& notAFeed)
{
    EnclosureSelector selector(settings);
    std::unique_ptr<CFeedChannel> channel;
    ReadFeedItemsChecked(
        path, channel, [&](const CFeedItem& item) { selector.Add(item); }, notAFeed);
    return selector.Selected();
}

EnclosureSelector::EnclosureSelector(CorvaneSettings settings_)
    : settings(std::move(settings_))
{
    // With only the first item looked at there is nothing to rank.
    if (settings.newest > 0 && !settings.firstItemOnly)
        limit = static_cast<std::size_t>(settings.newest);
}

// Newer first, dated before undated, and among equals the earlier in the document.
bool EnclosureSelector::RanksHigher(const Candidate& left, const Candidate& right)
{
    const EpisodeJudgement leftDate {0, nullptr, left.published};
    const EpisodeJudgement rightDate {0, nullptr, right.published};
    if (NewerFirst(leftDate, rightDate))
        return true;
    if (NewerFirst(rightDate, leftDate))
        return false;
    return left.enclosure.itemNumber < right.enclosure.itemNumber;
}

EpisodeJudgement EnclosureSelector::Add(const CFeedItem& item)
{
    EpisodeJudgement judgement;
    judgement.itemNumber = ++itemNumber;
    judgement.published = item.pubDate ? ParseFeedDate(*item.pubDate) : std::nullopt;
    judgement.verdict = ItemVerdict(item, itemNumber, settings);
    if (judgement.verdict != EpisodeVerdict::Taken)
        return judgement;
    Candidate candidate {judgement.published, {itemNumber, *item.enclosureUrl}};
    if (!limit) {
        kept.push_back(std::move(candidate));
        return judgement;
    }
    // The heap's comparison puts the lowest-ranked candidate at the front.
    if (kept.size() == limit) {
        if (!RanksHigher(candidate, kept.front()))
            return judgement;
        std::pop_heap(kept.begin(), kept.end(), RanksHigher);
        kept.back() = std::move(candidate);
    } else {
        kept.push_back(std::move(candidate));
    }
    std::push_heap(kept.begin(), kept.end(), RanksHigher);
    return judgement;
}

std::vector<SelectedEnclosure> EnclosureSelector::Selected() const
{
    std::vector<SelectedEnclosure> selected;
    selected.reserve(kept.size());
    for (const Candidate& candidate : kept)
        selected.push_back(candidate.enclosure);
    std::sort(selected.begin(), selected.end(),
        [](const SelectedEnclosure& left, const SelectedEnclosure& right) {
            return left.itemNumber < right.itemNumber;
        });
    return selected;
}

} // namespace corvane
