// The runner of the command-line tests: its bounds hold, so no test hangs or fills the disk.
#include "support/CliRunner.h"
#include "support/TempDir.h"
#include "support/TestHome.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

// A feed whose text listing runs far past the caps below.
std::string LongFeed()
{
    std::string text = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Long</title>";
    for (int i = 0; i < 20000; ++i)
        text += "<item><title>item " + std::to_string(i) + "</title></item>";
    return text + "</channel></rss>";
}

TEST(CliRunner, OutputPastTheCapKillsTheRunAndKeepsWhatCame)
{
    TempDir dir;
    const std::string feed = dir.Write("long.rss", LongFeed());
    const CliRun whole = RunCli({"feed", feed});
    EXPECT_EQ(whole.exitCode, 0) << whole.err;
    ASSERT_GT(whole.out.size(), 400'000u);

    CliRunOptions options;
    options.outputCap = 1000;
    const CliRun capped = RunCli({"feed", feed}, options);
    EXPECT_EQ(capped.exitCode, -1);
    EXPECT_GT(capped.out.size(), 1000u);
    EXPECT_LT(capped.out.size(), whole.out.size());
    EXPECT_EQ(capped.out, whole.out.substr(0, capped.out.size()));
}

TEST(CliRunner, ARunPastTheTimeLimitIsKilled)
{
    TestServer server;
    server.Serve("/late.rss", LongFeed(), "application/rss+xml");
    server.SetDelay("/late.rss", std::chrono::seconds(4));
    CliRunOptions options;
    options.timeLimit = std::chrono::seconds(1);
    const CliRun run = RunCli({"feed", server.Url("/late.rss")}, options);
    EXPECT_EQ(run.exitCode, -1);
    EXPECT_TRUE(run.out.empty()) << run.out;
}

class CliRunnerHome : public TestHome { };

TEST_F(CliRunnerHome, InputEnvironmentAndBothOutputsReachTheRun)
{
    CliRunOptions options;
    options.environment = {"CORVANE_HOME=" + temp.File("other-home")};
    const CliRun set = RunCli({"options", "Update/Hour=7", "Update/Hour"}, options);
    EXPECT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(set.out, "Update/Hour=7\n");
    EXPECT_TRUE(FileExists(temp.File("other-home/Corvane.conf")));
    EXPECT_FALSE(FileExists(SettingsPath()));

    const CliRun bad = RunCli({"options", "Update/Hour=24"}, options);
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("Update/Hour"), std::string::npos) << bad.err;
    options.environment.clear();

    const std::string opml = temp.Write("in.opml",
        "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>"
        "<outline text=\"a\" xmlUrl=\"http://a/\"/></body></opml>");
    EXPECT_EQ(RunCli({"import", opml}).exitCode, 1); // no input: no answer
    EXPECT_FALSE(FileExists(ChannelsPath()));
    options.input = "yes\n";
    const CliRun accepted = RunCli({"import", opml}, options);
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_TRUE(FileExists(ChannelsPath()));
}

} // namespace
