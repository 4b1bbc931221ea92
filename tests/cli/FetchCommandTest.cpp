// corvane-cli fetch, and feed with an address, run as a user runs them against the loopback
// server.
#include "support/CliRunner.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>

namespace {

class FetchCommandTest : public ::testing::Test {
protected:
    TestServer server;
    TempDir folder;

    // Runs corvane-cli with arguments, plain words apart by spaces, and a private runtime
    // folder, so that private temporary files land where the test can look.
    CliRun Run(const std::string& arguments)
    {
        const std::string runtime = folder.File("runtime");
        std::filesystem::create_directories(runtime);
        ::chmod(runtime.c_str(), 0700);
        std::vector<std::string> words;
        std::istringstream split(arguments);
        for (std::string word; split >> word;)
            words.push_back(word);
        CliRunOptions options;
        options.environment = {"XDG_RUNTIME_DIR=" + runtime, "CORVANE_HOME=" + folder.File("home")};
        return RunCli(words, options);
    }
    std::size_t PrivateTemporaryFiles() const
    {
        const std::string privateFolder = folder.File("runtime/corvane");
        if (!std::filesystem::exists(privateFolder))
            return 0;
        std::size_t count = 0;
        for ([[maybe_unused]] const auto& entry :
            std::filesystem::directory_iterator(privateFolder))
            ++count;
        return count;
    }
};

TEST_F(FetchCommandTest, DownloadsIntoTheFileAndPrintsTheResult)
{
    server.Serve("/episode.mp3", std::string("ID3\0\1\2", 6), "audio/mpeg");
    const std::string target = folder.File("episode.mp3");
    const CliRun run = Run("fetch " + server.Url("/episode.mp3") + " " + target);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, "1\n");
    EXPECT_EQ(ReadWholeFile(target), std::string("ID3\0\1\2", 6));
}

TEST_F(FetchCommandTest, FailuresPrintTheCodeAndTheDescribedMessage)
{
    server.Serve("/missing", "no", "text/html", 404);
    const std::string target = folder.Write("kept.xml", "old");
    const std::string url = server.Url("/missing");
    CliRun run = Run("fetch " + url + " " + target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "404\n");
    EXPECT_NE(run.err.find(
                  "Failed to get " + url + ", please check the URL and the Internet connection."),
        std::string::npos)
        << run.err;
    EXPECT_EQ(ReadWholeFile(target), "old");

    run = Run("fetch ftp://127.0.0.1/feed.xml " + target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "-20\n");
    EXPECT_NE(run.err.find("not an http or https URL"), std::string::npos) << run.err;
}

TEST_F(FetchCommandTest, WrongUsageAndHelp)
{
    EXPECT_EQ(Run("fetch").exitCode, 2);
    EXPECT_EQ(Run("fetch " + server.Url("/x")).exitCode, 2);
    EXPECT_EQ(Run("fetch a b c").exitCode, 2);
    EXPECT_EQ(Run("fetch --bogus a b").exitCode, 2);
    const CliRun help = Run("fetch --help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: corvane-cli fetch URL FILE"), std::string::npos);
    EXPECT_EQ(server.Hits("/x"), 0);
}

TEST_F(FetchCommandTest, FeedReadsAnAddressThroughAPrivateFileItDeletes)
{
    server.Serve("/news.rss",
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Loopback "
        "News</title><item><title>First</title></item></channel></rss>",
        "application/rss+xml");
    const CliRun run = Run("feed " + server.Url("/news.rss"));
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("Loopback News"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("First"), std::string::npos) << run.out;
    EXPECT_EQ(server.Hits("/news.rss"), 1);
    EXPECT_TRUE(std::filesystem::is_directory(folder.File("runtime/corvane")));
    EXPECT_EQ(PrivateTemporaryFiles(), 0u);
}

TEST_F(FetchCommandTest, FeedFromAnAddressThatFailsSaysSo)
{
    const std::string url = server.Url("/gone.rss");
    const CliRun run = Run("feed " + url);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Failed to get " + url), std::string::npos) << run.err;
    EXPECT_EQ(PrivateTemporaryFiles(), 0u);

    server.Serve("/broken.rss", "<rss><channel><title>cut", "application/rss+xml");
    const CliRun broken = Run("feed " + server.Url("/broken.rss"));
    EXPECT_EQ(broken.exitCode, 1);
    // The failure names the address, not the temporary file.
    EXPECT_NE(broken.err.find(server.Url("/broken.rss")), std::string::npos) << broken.err;
    EXPECT_EQ(PrivateTemporaryFiles(), 0u);
}

} // namespace

namespace {

TEST_F(FetchCommandTest, ASecondFetchOfAnUnchangedAddressKeepsTheFile)
{
    server.ServeWithLastModified("/feed.xml", "<rss/>", 1000000000);
    const std::string target = folder.File("feed.xml");
    ASSERT_EQ(Run("fetch " + server.Url("/feed.xml") + " " + target).exitCode, 0);
    const CliRun again = Run("fetch " + server.Url("/feed.xml") + " " + target);
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.out, "1\n");
    EXPECT_NE(again.err.find("is up to date"), std::string::npos) << again.err;
    EXPECT_EQ(server.Hits("/feed.xml"), 2);
    EXPECT_EQ(ReadWholeFile(target), "<rss/>");
}

} // namespace
