// corvane-cli clean, and the prune after an update with "Update"/"Prune" on, run as a separate
// process.
#include "CliTestSupport.h"

#include "update/CacheNames.h"
#include "update/CachePrune.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

class CleanCommandTest : public UpdateCliFixture {
protected:
    // Two podcasts, A and B, with one episode each, updated once (audio converted); then B is
    // unsubscribed.
    void UpdateThenDropB()
    {
        server.Serve("/a.rss", Rss("A", {{server.Url("/a1.mp3"), "audio/mpeg"}}));
        server.Serve("/b.rss", Rss("B", {{server.Url("/b1.mp3"), "audio/mpeg"}}));
        server.Serve("/a1.mp3", TestData("tone-a.mp3"), "audio/mpeg");
        server.Serve("/b1.mp3", TestData("tone-b.mp3"), "audio/mpeg");
        Subscribe({{"A", server.Url("/a.rss")}, {"B", server.Url("/b.rss")}});
        ASSERT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
        const std::string mp3 = CacheFileName(server.Url("/b1.mp3"), CACHE_MP3);
        bFiles = {CacheFileName(server.Url("/b.rss"), CACHE_FEED), mp3,
            KeptAmrPath(mp3, AmrSettingsFrom(CorvaneSettings {}))};
        std::sort(bFiles.begin(), bFiles.end());
        for (const std::string& path : bFiles) {
            ASSERT_TRUE(FileExists(path)) << path;
            bBytes += std::filesystem::file_size(path);
        }
        ASSERT_EQ(RunCli({"remove", "B"}).exitCode, 0);
    }

    std::string Listing(const std::string& lastLine) const
    {
        std::string text;
        for (const std::string& path : bFiles)
            text += path + "\n";
        return text + lastLine + "\n";
    }

    std::vector<std::string> bFiles;
    std::uint64_t bBytes = 0;
};

TEST_F(CleanCommandTest, ListsAndRemovesTheFilesOfFeedsNoLongerSubscribed)
{
    UpdateThenDropB();
    PruneResult expected;
    expected.files = bFiles.size();
    expected.bytes = bBytes;

    const CliRun dry = RunCli({"clean", "--dry-run"});
    EXPECT_EQ(dry.exitCode, 0) << dry.err;
    EXPECT_EQ(dry.out, Listing(PruneSummaryText(expected, true)));
    for (const std::string& path : bFiles)
        EXPECT_TRUE(FileExists(path)) << path;

    const CliRun clean = RunCli({"clean"});
    EXPECT_EQ(clean.exitCode, 0) << clean.err;
    EXPECT_EQ(clean.out, Listing(PruneSummaryText(expected)));
    for (const std::string& path : bFiles)
        EXPECT_FALSE(FileExists(path)) << path;
    EXPECT_TRUE(FileExists(CacheFileName(server.Url("/a1.mp3"), CACHE_MP3)));

    const CliRun again = RunCli({"clean"});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "Removed 0 files, 0 bytes freed.\n");
}

TEST_F(CleanCommandTest, UsageHelpAndAnUnreadableChannelsFile)
{
    EXPECT_EQ(RunCli({"clean", "--bogus"}).exitCode, 2);
    EXPECT_EQ(RunCli({"clean", "extra"}).exitCode, 2);
    const CliRun help = RunCli({"clean", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--dry-run"), std::string::npos);
    EXPECT_NE(RunCli({"--help"}).out.find("clean [--dry-run]"), std::string::npos);

    UpdateThenDropB();
    // A channels file cut short would make its lost feeds look unsubscribed.
    const std::string channels = ReadWholeFile(ChannelsPath());
    std::ofstream(ChannelsPath(), std::ios::binary | std::ios::trunc)
        << channels.substr(0, channels.size() / 2);
    const CliRun clean = RunCli({"clean"});
    EXPECT_EQ(clean.exitCode, 1);
    EXPECT_NE(clean.err.find(ChannelsPath()), std::string::npos) << clean.err;
    for (const std::string& path : bFiles)
        EXPECT_TRUE(FileExists(path)) << path;
}

// A channels file that parses but holds no subscription list, or a link leading nowhere, is no
// evidence that nothing is subscribed: clean, list and the prune after an update refuse it.
TEST_F(CleanCommandTest, AChannelsFileThatIsNoSubscriptionListRemovesNothing)
{
    UpdateThenDropB();
    const std::string aFile = CacheFileName(server.Url("/a1.mp3"), CACHE_MP3);
    const std::string moved = temp.File("elsewhere.cha");
    std::filesystem::rename(ChannelsPath(), moved);
    struct Case {
        const char* name;
        const char* document; // null: a link to a missing file
        const char* reason;
    };
    const Case cases[] = {
        {"rss", "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel/></rss>", "<rss>"},
        {"html", "<html><body><p>Not found</p></body></html>", "<html>"},
        {"dangling link", nullptr, "a link to a missing file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(ChannelsPath());
        if (c.document)
            std::ofstream(ChannelsPath(), std::ios::binary) << c.document;
        else
            std::filesystem::create_symlink(temp.File("unmounted/Corvane.Cha"), ChannelsPath());
        const CliRun clean = RunCli({"clean"});
        EXPECT_EQ(clean.exitCode, 1);
        EXPECT_NE(
            clean.err.find("cannot read the channels file " + ChannelsPath()), std::string::npos)
            << clean.err;
        EXPECT_NE(clean.err.find(c.reason), std::string::npos) << clean.err;
        EXPECT_NE(clean.err.find("; nothing was removed"), std::string::npos) << clean.err;
        const CliRun list = RunCli({"list"});
        EXPECT_EQ(list.exitCode, 1);
        EXPECT_NE(list.err.find(c.reason), std::string::npos) << list.err;
        ASSERT_EQ(RunCli({"options", "Update/Prune=1"}).exitCode, 0);
        const std::string package = ReadWholeFile(Output());
        const int update = Cli({"update", "--output", Output()});
        if (c.document) { // a package of a tree never seen would replace the phone's
            EXPECT_EQ(update, 1);
            EXPECT_EQ(ReadWholeFile(Output()), package);
        }
        ASSERT_EQ(RunCli({"options", "Update/Prune=0"}).exitCode, 0);
        for (const std::string& path : bFiles)
            EXPECT_TRUE(FileExists(path)) << path;
        EXPECT_TRUE(FileExists(aFile));
    }
}

// With "Update"/"Prune" on, the next update removes what the unsubscribed feed left.
TEST_F(CleanCommandTest, UpdateWithPruneOnRemovesWhatNoFeedNeeds)
{
    UpdateThenDropB();
    ASSERT_EQ(RunCli({"options", "Update/Prune=1"}).exitCode, 0);
    EXPECT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    for (const std::string& path : bFiles)
        EXPECT_FALSE(FileExists(path)) << path;
    EXPECT_TRUE(FileExists(CacheFileName(server.Url("/a1.mp3"), CACHE_MP3)));
}

} // namespace
