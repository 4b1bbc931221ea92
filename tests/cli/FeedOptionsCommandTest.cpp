// corvane-cli feed-options and episodes, run as a separate process against the loopback server.
#include "CliTestSupport.h"

#include "platform/Paths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

class FeedOptionsCommandTest : public UpdateCliFixture {
protected:
    // A feed of five items: dated MP3s of 5 and 7 March, an undated MP3, an Ogg episode and an
    // item without enclosure.
    std::string ServeMixedFeed()
    {
        std::string rss = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>M</title>"
                          "<item><title>Old</title><pubDate>Tue, 05 Mar 2024 10:00:00 GMT"
                          "</pubDate><enclosure url=\""
            + server.Url("/old.mp3")
            + "\" length=\"2500000\" type=\"audio/mpeg\"/></item>"
              "<item><title>Undated</title><enclosure url=\""
            + server.Url("/undated.mp3")
            + "\" type=\"audio/mpeg\"/></item>"
              "<item><title>Ogg</title><pubDate>Fri, 08 Mar 2024 10:00:00 GMT</pubDate>"
              "<enclosure url=\""
            + server.Url("/e.ogg")
            + "\" length=\"9\" type=\"audio/ogg\"/></item>"
              "<item><title>New</title><pubDate>Thu, 07 Mar 2024 10:00:00 GMT</pubDate>"
              "<enclosure url=\""
            + server.Url("/new.mp3")
            + "\" type=\"audio/mpeg\"/></item>"
              "<item><title>Text only</title></item></channel></rss>";
        server.Serve("/m.rss", rss, "application/rss+xml");
        for (const char* path : {"/old.mp3", "/undated.mp3", "/new.mp3"})
            server.Serve(path, TestData("tone-a.mp3"), "audio/mpeg");
        return server.Url("/m.rss");
    }

    static QJsonArray Episodes(const std::string& json)
    {
        return QJsonDocument::fromJson(QByteArray::fromStdString(json))
            .object()["feeds"]
            .toArray()[0]
            .toObject()["episodes"]
            .toArray();
    }

    // Each episode as "title reason-or-taken cached".
    static std::vector<std::string> Rows(const QJsonArray& episodes)
    {
        std::vector<std::string> rows;
        for (const QJsonValue& value : episodes) {
            const QJsonObject episode = value.toObject();
            rows.push_back(episode["title"].toString().toStdString() + " "
                + (episode["taken"].toBool() ? "taken" : episode["reason"].toString().toStdString())
                + (episode["cached"].toBool() ? " cached" : ""));
        }
        return rows;
    }
};

} // namespace

TEST_F(FeedOptionsCommandTest, ChoicesAreSetShownRefusedAndChangeThePackage)
{
    const std::string feed = ServeMixedFeed();
    Subscribe({{"Mixed", feed}});
    ASSERT_EQ(Cli({"options", "Podcast/MP3=0"}), 0) << Stderr();

    const CliRun shown = RunCli({"feed-options", feed});
    EXPECT_EQ(shown.exitCode, 0);
    EXPECT_NE(shown.out.find("podcast=default newest=default audio=default"), std::string::npos)
        << shown.out;
    struct Refused {
        std::vector<std::string> arguments;
        int code;
        const char* said;
    };
    const Refused refusals[] = {
        {{"feed-options", feed, "newest=1001"}, 2, "newest"},
        {{"feed-options", feed, "podcast=maybe"}, 2, "podcast"},
        {{"feed-options", feed, "colour=red"}, 2, "colour"},
        {{"feed-options", feed, "audio"}, 2, "NAME=VALUE"},
        {{"feed-options", "http://not.subscribed/", "podcast=off"}, 1, "not.subscribed"},
    };
    for (const Refused& refused : refusals) {
        const CliRun run = RunCli(refused.arguments);
        EXPECT_EQ(run.exitCode, refused.code) << refused.said;
        EXPECT_NE(run.err.find(refused.said), std::string::npos) << run.err;
    }
    EXPECT_FALSE(FileExists(GetFeedOptionsFilePath()));

    // Newest 1 for this feed: the package holds the newest MP3 only.
    ASSERT_EQ(RunCli({"feed-options", feed, "newest=1", "--quiet"}).exitCode, 0);
    const std::string channels = ReadWholeFile(ChannelsPath());
    EXPECT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    EXPECT_EQ(Unpack(Output()).records,
        (std::vector<std::string> {"0 " + feed, "1 " + server.Url("/new.mp3")}));
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), channels);

    const CliRun json = RunCli({"feed-options", feed, "podcast=off", "--json"});
    const QJsonObject object
        = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(object["options"].toObject(), (QJsonObject {{"podcast", "off"}, {"newest", 1}}));
    EXPECT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + feed}));
    // Back to the global settings: every MP3 again, in feed order.
    ASSERT_EQ(RunCli({"feed-options", feed, "podcast=default", "newest=default"}).exitCode, 0);
    EXPECT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    EXPECT_EQ(Unpack(Output()).records.size(), 4u);
}

TEST_F(FeedOptionsCommandTest, EpisodesListNewestFirstWithWhatTheUpdateTakesAndWhy)
{
    const std::string feed = ServeMixedFeed();
    Subscribe({{"Mixed", feed}});
    ASSERT_EQ(Cli({"options", "Podcast/MP3=0"}), 0) << Stderr();
    // Before any update there is nothing to list; --fetch reads the feed now.
    const CliRun before = RunCli({"episodes", "--json"});
    EXPECT_EQ(before.exitCode, 1);
    EXPECT_NE(before.err.find("run an update"), std::string::npos) << before.err;
    const CliRun fetched = RunCli({"episodes", feed, "--fetch", "--json"});
    EXPECT_EQ(fetched.exitCode, 0) << fetched.err;
    EXPECT_EQ(Rows(Episodes(fetched.out)),
        (std::vector<std::string> {
            "Ogg not MP3", "New taken", "Old taken", "Undated taken", "Text only no enclosure"}));

    ASSERT_EQ(RunCli({"feed-options", feed, "newest=2"}).exitCode, 0);
    ASSERT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    const CliRun listed = RunCli({"episodes", "--json"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    const QJsonArray episodes = Episodes(listed.out);
    EXPECT_EQ(Rows(episodes),
        (std::vector<std::string> {"Ogg not MP3", "New taken cached", "Old taken cached",
            "Undated older than Newest", "Text only no enclosure"}));
    ASSERT_EQ(episodes.size(), 5);
    EXPECT_EQ(episodes[2].toObject()["size"].toInteger(), 2500000);
    EXPECT_EQ(episodes[2].toObject()["date"].toString(), "Tue, 05 Mar 2024 10:00:00 GMT");
    EXPECT_TRUE(episodes[3].toObject()["date"].isNull());

    const CliRun text = RunCli({"episodes"});
    EXPECT_NE(text.out.find("Mixed  <" + feed + ">  podcast=default newest=2 audio=default\n"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  2024-03-05 10:00  Old  2.4 MB  audio/mpeg  taken, cached\n"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  (no date)  Undated"), std::string::npos) << text.out;
}
