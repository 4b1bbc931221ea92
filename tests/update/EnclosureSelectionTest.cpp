#include "update/EnclosureSelection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace corvane;

namespace {

// A channel with one item per (url, type); an empty url gives an item without an enclosure.
std::unique_ptr<CFeedChannel> Channel(
    const std::vector<std::pair<std::string, std::string>>& enclosures)
{
    auto channel = std::make_unique<CFeedChannel>();
    std::unique_ptr<CFeedItem>* slot = &channel->firstItem;
    for (const auto& [url, type] : enclosures) {
        *slot = std::make_unique<CFeedItem>();
        if (!url.empty()) {
            (*slot)->enclosureUrl = url;
            (*slot)->enclosureType = type;
        }
        slot = &(*slot)->nextItem;
    }
    return channel;
}

CorvaneSettings Podcasts(bool firstItemOnly)
{
    CorvaneSettings settings;
    settings.podcastOn = 1;
    settings.firstItemOnly = firstItemOnly ? 1 : 0;
    return settings;
}

std::vector<std::string> Urls(const std::vector<SelectedEnclosure>& selected)
{
    std::vector<std::string> urls;
    for (const SelectedEnclosure& enclosure : selected)
        urls.push_back(std::to_string(enclosure.itemNumber) + " " + enclosure.url);
    return urls;
}

} // namespace

TEST(EnclosureSelection, OnlyAudioMpegExactlyInDocumentOrder)
{
    const auto channel = Channel({{"a.mp3", "audio/mpeg"}, {"b.ogg", "audio/ogg"},
        {"c.mp3", "AUDIO/MPEG"}, {"", ""}, {"e.mp3", "audio/mpeg"}});
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Podcasts(false))),
        (std::vector<std::string> {"1 a.mp3", "5 e.mp3"}));
}

TEST(EnclosureSelection, FirstItemOnlyLooksAtTheFirstItemAlone)
{
    EXPECT_EQ(Urls(SelectEnclosures(
                  *Channel({{"a.mp3", "audio/mpeg"}, {"b.mp3", "audio/mpeg"}}), Podcasts(true))),
        (std::vector<std::string> {"1 a.mp3"}));
    EXPECT_TRUE(
        SelectEnclosures(*Channel({{"", ""}, {"b.mp3", "audio/mpeg"}}), Podcasts(true)).empty());
}

TEST(EnclosureSelection, NothingWithPodcastsOff)
{
    CorvaneSettings off = Podcasts(false);
    off.podcastOn = 0;
    EXPECT_TRUE(SelectEnclosures(*Channel({{"a.mp3", "audio/mpeg"}}), off).empty());
}

namespace {

// A channel of audio/mpeg items, one per pubDate; an absent date gives an item without one.
std::unique_ptr<CFeedChannel> Dated(const std::vector<std::optional<std::string>>& dates)
{
    auto channel = std::make_unique<CFeedChannel>();
    CFeedItem* last = nullptr;
    int number = 0;
    for (const auto& date : dates) {
        auto item = std::make_unique<CFeedItem>();
        item->enclosureUrl = "e" + std::to_string(++number) + ".mp3";
        item->enclosureType = "audio/mpeg";
        item->pubDate = date;
        CFeedItem* added = item.get();
        channel->AppendItem(std::move(item), last);
        last = added;
    }
    return channel;
}

CorvaneSettings Newest(int count, bool firstItemOnly = false)
{
    CorvaneSettings settings = Podcasts(firstItemOnly);
    settings.newest = count;
    return settings;
}

const std::string kJan1 = "Mon, 01 Jan 2024 08:00:00 GMT";
const std::string kJan2 = "Tue, 02 Jan 2024 08:00:00 GMT";
const std::string kJan3 = "2024-01-03T08:00:00Z";
const std::string kJan4 = "Thu, 4 jan 2024 09:00:00 +0100";

} // namespace

TEST(EnclosureSelection, NewestTakesTheLatestDatesInDocumentOrder)
{
    // Feeds list newest first as a rule, but not always: the dates decide.
    const auto channel = Dated({kJan2, kJan4, kJan1, kJan3});
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(2))),
        (std::vector<std::string> {"2 e2.mp3", "4 e4.mp3"}));
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(1))), (std::vector<std::string> {"2 e2.mp3"}));
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(3))),
        (std::vector<std::string> {"1 e1.mp3", "2 e2.mp3", "4 e4.mp3"}));
}

TEST(EnclosureSelection, NewestZeroOrAtLeastTheCandidatesTakesEveryOne)
{
    const auto channel = Dated({kJan2, kJan4, kJan1});
    const std::vector<std::string> all = {"1 e1.mp3", "2 e2.mp3", "3 e3.mp3"};
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(0))), all);
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(3))), all);
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(1000))), all);
}

TEST(EnclosureSelection, NewestCountsOnlyTheItemsThatTakePart)
{
    // Items without an audio/mpeg enclosure are not candidates, however new.
    auto channel = Channel({{"a.mp3", "audio/mpeg"}, {"b.ogg", "audio/ogg"}, {"", ""},
        {"d.mp3", "audio/mpeg"}, {"e.mp3", "audio/mpeg"}});
    const std::string dates[] = {kJan1, kJan4, kJan4, kJan2, kJan3};
    CFeedItem* item = channel->firstItem.get();
    for (const std::string& date : dates) {
        item->pubDate = date;
        item = item->nextItem.get();
    }
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(2))),
        (std::vector<std::string> {"4 d.mp3", "5 e.mp3"}));
}

TEST(EnclosureSelection, NewestRanksUndatedItemsLastInDocumentOrder)
{
    const std::optional<std::string> none;
    const std::string unreadable = "sometime last week";
    // Undated alone: the first ones in the document.
    EXPECT_EQ(Urls(SelectEnclosures(*Dated({none, unreadable, none, ""}), Newest(2))),
        (std::vector<std::string> {"1 e1.mp3", "2 e2.mp3"}));
    // Mixed: every dated item comes before any undated one, even an old date.
    const auto mixed = Dated({none, kJan1, unreadable, kJan3, none});
    EXPECT_EQ(Urls(SelectEnclosures(*mixed, Newest(2))),
        (std::vector<std::string> {"2 e2.mp3", "4 e4.mp3"}));
    EXPECT_EQ(Urls(SelectEnclosures(*mixed, Newest(3))),
        (std::vector<std::string> {"1 e1.mp3", "2 e2.mp3", "4 e4.mp3"}));
    EXPECT_EQ(Urls(SelectEnclosures(*mixed, Newest(4))),
        (std::vector<std::string> {"1 e1.mp3", "2 e2.mp3", "3 e3.mp3", "4 e4.mp3"}));
}

TEST(EnclosureSelection, NewestKeepsDocumentOrderAmongEqualDates)
{
    // The same moment written three ways, and once more later.
    const auto channel
        = Dated({kJan1, "2024-01-01T09:00:00+01:00", "01 Jan 24 03:00:00 EST", kJan1, kJan2});
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(3))),
        (std::vector<std::string> {"1 e1.mp3", "2 e2.mp3", "5 e5.mp3"}));
    EXPECT_EQ(Urls(SelectEnclosures(*channel, Newest(1))), (std::vector<std::string> {"5 e5.mp3"}));
}

TEST(EnclosureSelection, FirstItemOnlyWinsOverNewest)
{
    // Only the first item is looked at, even though it is the oldest.
    const auto channel = Dated({kJan1, kJan4, kJan3});
    EXPECT_EQ(
        Urls(SelectEnclosures(*channel, Newest(2, true))), (std::vector<std::string> {"1 e1.mp3"}));
    EXPECT_TRUE(
        SelectEnclosures(*Channel({{"", ""}, {"b.mp3", "audio/mpeg"}}), Newest(5, true)).empty());
    CorvaneSettings off = Newest(2);
    off.podcastOn = 0;
    EXPECT_TRUE(SelectEnclosures(*channel, off).empty());
}

TEST(EnclosureSelection, AnyMp3TypeTakesTheOtherNamesOfMp3)
{
    const auto channel = Channel(
        {{"http://x/1", "audio/mpeg"}, {"http://x/2", "audio/mp3"}, {"http://x/3", "audio/x-mp3"},
            {"http://x/4", "audio/mpeg3"}, {"http://x/5", "audio/x-mpeg"},
            {"http://x/6", "AUDIO/MP3"}, {"http://x/7", "Audio/MPEG"}, {"http://x/8", "audio/ogg"},
            {"http://x/9", "audio/mp4"}, {"http://x/10", "audio/mpeg; charset=x"}});
    CorvaneSettings settings = Podcasts(false);
    // Off (the default): "audio/mpeg" exactly, as always.
    EXPECT_EQ(settings.anyMp3Type, 0);
    EXPECT_EQ(
        Urls(SelectEnclosures(*channel, settings)), std::vector<std::string>({"1 http://x/1"}));
    settings.anyMp3Type = 1;
    EXPECT_EQ(Urls(SelectEnclosures(*channel, settings)),
        std::vector<std::string>({"1 http://x/1", "2 http://x/2", "3 http://x/3", "4 http://x/4",
            "5 http://x/5", "6 http://x/6", "7 http://x/7"}));
    EXPECT_TRUE(IsMp3Type("audio/x-MPEG", true));
    EXPECT_FALSE(IsMp3Type("audio/x-mpeg", false));
    EXPECT_FALSE(IsMp3Type("", true));
}

TEST(EnclosureSelection, AnyMp3TypeWithFirstItemOnlyAndNewest)
{
    auto channel = Channel({{"http://x/1", "audio/mp3"}, {"http://x/2", "audio/mpeg"}});
    CorvaneSettings settings = Podcasts(true);
    settings.anyMp3Type = 1;
    EXPECT_EQ(
        Urls(SelectEnclosures(*channel, settings)), std::vector<std::string>({"1 http://x/1"}));
    settings.anyMp3Type = 0;
    EXPECT_TRUE(SelectEnclosures(*channel, settings).empty());
    channel->firstItem->pubDate = "Tue, 05 Mar 2024 10:00:00 GMT";
    channel->firstItem->nextItem->pubDate = "Mon, 04 Mar 2024 10:00:00 GMT";
    settings = Podcasts(false);
    settings.anyMp3Type = 1;
    settings.newest = 1;
    EXPECT_EQ(
        Urls(SelectEnclosures(*channel, settings)), std::vector<std::string>({"1 http://x/1"}));
}

namespace {

struct JudgementCase {
    const char* name;
    FeedOptions options;
    CorvaneSettings global;
    std::vector<std::string> verdicts; // per item, document order
};

CorvaneSettings Global(int podcastOn, int newest, int firstItemOnly = 0)
{
    CorvaneSettings settings;
    settings.podcastOn = podcastOn;
    settings.newest = newest;
    settings.firstItemOnly = firstItemOnly;
    return settings;
}

FeedOptions Choices(std::optional<bool> podcast, std::optional<int> newest)
{
    FeedOptions options;
    options.podcast = podcast;
    options.newest = newest;
    return options;
}

} // namespace

// Each item's verdict is what the selection does with it, and a feed's own choices win over
// the global settings both ways.
TEST(EnclosureSelection, JudgementsGiveEveryItemItsReasonUnderTheFeedsChoices)
{
    // Item 1 is the newest MP3, 2 not MP3, 3 without enclosure, 4 and 5 older MP3s (5 undated).
    auto channel = Channel({{"a.mp3", "audio/mpeg"}, {"b.ogg", "audio/ogg"}, {"", ""},
        {"d.mp3", "audio/mpeg"}, {"e.mp3", "audio/mpeg"}});
    channel->firstItem->pubDate = "Wed, 06 Mar 2024 10:00:00 GMT";
    channel->firstItem->nextItem->nextItem->nextItem->pubDate = "Mon, 04 Mar 2024 10:00:00 GMT";
    const JudgementCase cases[] = {
        {"global every episode", {}, Global(1, 0),
            {"taken", "not MP3", "no enclosure", "taken", "taken"}},
        {"feed newest 2 over global 0", Choices(std::nullopt, 2), Global(1, 0),
            {"taken", "not MP3", "no enclosure", "taken", "older than Newest"}},
        {"feed newest 0 over global 1", Choices(std::nullopt, 0), Global(1, 1),
            {"taken", "not MP3", "no enclosure", "taken", "taken"}},
        {"feed off", Choices(false, std::nullopt), Global(1, 0),
            {"podcasts off for this feed", "podcasts off for this feed", "no enclosure",
                "podcasts off for this feed", "podcasts off for this feed"}},
        {"feed on over global off", Choices(true, 1), Global(0, 0),
            {"taken", "not MP3", "no enclosure", "older than Newest", "older than Newest"}},
        {"first one only", {}, Global(1, 2, 1),
            {"taken", "first one only", "no enclosure", "first one only", "first one only"}},
    };
    for (const JudgementCase& each : cases) {
        SCOPED_TRACE(each.name);
        const CorvaneSettings settings = SettingsForFeed(each.global, each.options);
        std::vector<std::string> verdicts;
        std::vector<std::string> taken;
        for (const EpisodeJudgement& judgement : JudgeEpisodes(*channel, settings)) {
            verdicts.push_back(EpisodeVerdictText(judgement.verdict));
            if (judgement.verdict == EpisodeVerdict::Taken)
                taken.push_back(
                    std::to_string(judgement.itemNumber) + " " + *judgement.item->enclosureUrl);
        }
        EXPECT_EQ(verdicts, each.verdicts);
        EXPECT_EQ(Urls(SelectEnclosures(*channel, settings)), taken);
    }
}

TEST(EnclosureSelection, UnsetChoicesKeepEveryGlobalSettingAndAudioChoiceSetsTheFormat)
{
    CorvaneSettings global = Global(1, 7);
    global.podcastFormat = 1;
    global.compression = 3;
    const CorvaneSettings same = SettingsForFeed(global, FeedOptions());
    EXPECT_EQ(same.podcastOn, 1);
    EXPECT_EQ(same.newest, 7);
    EXPECT_EQ(same.podcastFormat, 1);
    EXPECT_EQ(same.compression, 3);
    FeedOptions mp3;
    mp3.audio = FeedAudio::Mp3;
    EXPECT_EQ(SettingsForFeed(global, mp3).podcastFormat, 0);
    global.podcastFormat = 0;
    FeedOptions amr;
    amr.audio = FeedAudio::Amr;
    EXPECT_EQ(SettingsForFeed(global, amr).podcastFormat, 1);
}

TEST(EnclosureSelection, NewestFirstPutsUndatedLastInDocumentOrder)
{
    auto channel = Channel({{"a.mp3", "audio/mpeg"}, {"b.mp3", "audio/mpeg"},
        {"c.mp3", "audio/mpeg"}, {"d.mp3", "audio/mpeg"}});
    CFeedItem* item = channel->firstItem.get();
    item->nextItem->pubDate = "Mon, 04 Mar 2024 10:00:00 GMT";
    item->nextItem->nextItem->nextItem->pubDate = "Tue, 05 Mar 2024 10:00:00 GMT";
    std::vector<EpisodeJudgement> judgements = JudgeEpisodes(*channel, Global(1, 0));
    SortNewestFirst(judgements);
    std::vector<std::size_t> order;
    for (const EpisodeJudgement& judgement : judgements)
        order.push_back(judgement.itemNumber);
    EXPECT_EQ(order, (std::vector<std::size_t> {4, 2, 1, 3}));
}

TEST(EnclosureSelection, BoundedNewestAgreesWithRankingEveryCandidate)
{
    // Many equal dates, undated and unreadable ones and items that take no part, in a fixed
    // pseudo-random mix: the selection, which keeps only Newest's candidates, must take what
    // ranking every candidate takes, and the judgements must agree with it.
    const std::optional<std::string> dates[]
        = {std::nullopt, "not a date", kJan1, kJan2, kJan3, kJan4};
    std::mt19937 random(25);
    for (int round = 0; round < 20; ++round) {
        auto channel = std::make_unique<CFeedChannel>();
        // (date rank: higher is newer, 0 undated; item number) of every candidate.
        std::vector<std::pair<int, std::size_t>> candidates;
        CFeedItem* last = nullptr;
        for (std::size_t number = 1; number <= 40; ++number) {
            auto item = std::make_unique<CFeedItem>();
            const std::size_t date = random() % 6;
            item->pubDate = dates[date];
            const unsigned kind = random() % 4;
            if (kind != 0) {
                item->enclosureUrl = "e" + std::to_string(number) + ".mp3";
                item->enclosureType = kind == 1 ? "audio/ogg" : "audio/mpeg";
            }
            if (kind > 1)
                candidates.emplace_back(date < 2 ? 0 : static_cast<int>(date), number);
            CFeedItem* added = item.get();
            channel->AppendItem(std::move(item), last);
            last = added;
        }
        std::stable_sort(candidates.begin(), candidates.end(),
            [](const auto& left, const auto& right) { return left.first > right.first; });
        for (const int count : {1, 2, 3, 7, 40}) {
            SCOPED_TRACE("round " + std::to_string(round) + ", newest " + std::to_string(count));
            std::vector<std::size_t> expected;
            for (std::size_t i = 0; i < candidates.size() && i < std::size_t(count); ++i)
                expected.push_back(candidates[i].second);
            std::sort(expected.begin(), expected.end());

            std::vector<std::size_t> selected;
            for (const SelectedEnclosure& enclosure : SelectEnclosures(*channel, Newest(count)))
                selected.push_back(enclosure.itemNumber);
            EXPECT_EQ(selected, expected);

            std::vector<std::size_t> taken;
            std::size_t older = 0;
            for (const EpisodeJudgement& judgement : JudgeEpisodes(*channel, Newest(count))) {
                if (judgement.verdict == EpisodeVerdict::Taken)
                    taken.push_back(judgement.itemNumber);
                older += judgement.verdict == EpisodeVerdict::OlderThanNewest ? 1 : 0;
            }
            EXPECT_EQ(taken, expected);
            EXPECT_EQ(older, candidates.size() - expected.size());
        }
    }
}
