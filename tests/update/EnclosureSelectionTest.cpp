#include "update/EnclosureSelection.h"

#include <gtest/gtest.h>

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
