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
