#include "UpdateTestSupport.h"

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
