#include "UpdateTestSupport.h"

#include "platform/Paths.h"
#include "update/CacheIndex.h"
#include "update/EpisodeList.h"

using namespace corvane;

namespace {

class NewestEpisodesTest : public UpdateFixture {
protected:
    // A podcast of five episodes whose dates do not follow the document order; the newest are
    // the fourth and the second.
    std::string ServePodcast()
    {
        const char* dates[] = {"Mon, 01 Jan 2024 06:00:00 GMT", "Fri, 05 Jan 2024 06:00:00 GMT",
            "Tue, 02 Jan 2024 06:00:00 GMT", "2024-01-09T06:00:00Z",
            "Wed, 03 Jan 2024 06:00:00 +0000"};
        std::string rss = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">"
                          "<channel><title>P</title>\n";
        for (int number = 1; number <= 5; ++number) {
            const std::string path = Episode(number);
            rss += "<item><title>P " + std::to_string(number) + "</title><pubDate>"
                + dates[number - 1] + "</pubDate><enclosure url=\"" + server.Url(path)
                + "\" length=\"100\" type=\"audio/mpeg\"/></item>\n";
            server.Serve(path, TestData(number % 2 ? "tone-a.mp3" : "tone-b.mp3"), "audio/mpeg");
        }
        server.Serve("/p.rss", rss + "</channel></rss>\n", "application/rss+xml");
        return server.Url("/p.rss");
    }

    static std::string Episode(int number) { return "/e" + std::to_string(number) + ".mp3"; }

    int EpisodeHits(int number) { return server.Hits(Episode(number)); }
};

} // namespace

TEST_F(NewestEpisodesTest, FullUpdateDownloadsAndPacksOnlyTheNewestInFeedOrder)
{
    const std::string feed = ServePodcast();
    UpdateJobSetup setup = Setup({feed});
    setup.settings.newest = 2;
    RecordingListener listener;
    EXPECT_FALSE(Run(setup, listener).anyFailed) << ::testing::PrintToString(listener.Events());

    const Unpacked unpacked = Unpack(Output());
    ASSERT_TRUE(unpacked.ok);
    EXPECT_EQ(unpacked.records,
        (std::vector<std::string> {
            "0 " + feed, "1 " + server.Url(Episode(2)), "1 " + server.Url(Episode(4))}));
    ASSERT_EQ(unpacked.data.size(), 3u);
    EXPECT_EQ(unpacked.data[1], TestData("tone-b.mp3"));
    EXPECT_EQ(unpacked.data[2], TestData("tone-b.mp3"));
    EXPECT_EQ(EpisodeHits(2), 1);
    EXPECT_EQ(EpisodeHits(4), 1);
    EXPECT_EQ(EpisodeHits(1) + EpisodeHits(3) + EpisodeHits(5), 0);

    // Re-Pack chooses from the cached feed by the same rule, without going online.
    UpdateJobSetup repack = Setup({feed});
    repack.repack = true;
    repack.settings.newest = 1;
    RecordingListener repackListener;
    EXPECT_FALSE(Run(repack, repackListener).anyFailed);
    EXPECT_EQ(Unpack(Output()).records,
        (std::vector<std::string> {"0 " + feed, "1 " + server.Url(Episode(4))}));
    EXPECT_EQ(server.Hits("/p.rss"), 1);
    EXPECT_EQ(EpisodeHits(4), 1);
}

// A feed's own choices decide for it alone: one feed off, one keeping its single newest while
// the global setting takes every episode, a third with none following the global settings; the
// episode list says what the job did and what is cached.
TEST_F(NewestEpisodesTest, EachFeedsChoicesDecideItsEpisodesAndTheListAgrees)
{
    const std::string feed = ServePodcast();
    const std::string off = feed + "?off";
    const std::string plain = feed + "?plain";
    FeedOptionsTable table;
    SetFeedOptionsOf(table, feed, FeedOptions {std::nullopt, 1, FeedAudio::Default});
    SetFeedOptionsOf(table, off, FeedOptions {false, std::nullopt, FeedAudio::Default});
    UpdateJobSetup setup = Setup({feed, off, plain});
    setup.readFeedOptions = [table](const std::string& url) { return FeedOptionsOf(table, url); };
    RecordingListener listener;
    EXPECT_FALSE(Run(setup, listener).anyFailed) << ::testing::PrintToString(listener.Events());

    std::vector<std::string> expected
        = {"0 " + feed, "1 " + server.Url(Episode(4)), "0 " + off, "0 " + plain};
    for (int number = 1; number <= 5; ++number)
        expected.push_back("1 " + server.Url(Episode(number)));
    EXPECT_EQ(Unpack(Output()).records, expected);

    const CCacheIndex index(GetDataFolder());
    const FeedEpisodes listed = ListEpisodes(
        feed, index.Find(feed, CACHE_FEED), setup.settings, FeedOptionsOf(table, feed), index);
    ASSERT_TRUE(listed.error.empty()) << listed.error;
    std::vector<std::string> rows;
    for (const EpisodeRow& row : listed.episodes) {
        rows.push_back(
            row.title + " " + EpisodeVerdictText(row.verdict) + (row.cached ? " cached" : ""));
    }
    // Episode 4 is the newest; every MP3 is cached, since the third feed took them all.
    EXPECT_EQ(rows,
        (std::vector<std::string> {"P 4 taken cached", "P 2 older than Newest cached",
            "P 5 older than Newest cached", "P 3 older than Newest cached",
            "P 1 older than Newest cached"}));
    EXPECT_EQ(ListEpisodes(off, GetDataFolder() + "none.xml", setup.settings, {}, index).error,
        "not in the download cache; run an update");
}
