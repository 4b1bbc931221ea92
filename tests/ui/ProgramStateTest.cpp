#include "UiTestSupport.h"

#include "support/ScopedEnv.h"
#include "support/TestServer.h"
#include "ui/ProgramState.h"
#include "update/PackageReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace corvane;

namespace {

std::string TestData(const std::string& name)
{
    return ReadWholeFile(std::string(CORVANE_TEST_DATA_DIR) + "/update/" + name);
}

// A podcast of three dated episodes; the second is the newest.
std::string ServePodcast(TestServer& server)
{
    const char* dates[] = {"Mon, 01 Jan 2024 06:00:00 GMT", "Fri, 05 Jan 2024 06:00:00 GMT",
        "Tue, 02 Jan 2024 06:00:00 GMT"};
    std::string rss = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>P</title>\n";
    for (int number = 1; number <= 3; ++number) {
        const std::string path = "/e" + std::to_string(number) + ".mp3";
        rss += std::string("<item><title>P</title><pubDate>") + dates[number - 1]
            + "</pubDate><enclosure url=\"" + server.Url(path)
            + "\" length=\"100\" type=\"audio/mpeg\"/></item>\n";
        server.Serve(path, TestData("tone-a.mp3"), "audio/mpeg");
    }
    server.Serve("/p.rss", rss + "</channel></rss>\n", "application/rss+xml");
    return server.Url("/p.rss");
}

std::vector<std::string> RecordNames(const std::string& package)
{
    std::vector<std::string> names;
    CPackageReader reader;
    if (!reader.Open(package))
        return {"<no package>"};
    for (const PackageRecord& record : reader.Records())
        names.push_back(std::to_string(record.type) + " " + record.name);
    return names;
}

} // namespace

// The desktop program's jobs take their settings from the members that Options set, as the
// dialog shows them, not from the settings file: when the file could not be written, the
// choices still hold for this run.
TEST(ProgramState, JobsUseTheSettingsMembersEvenWhenTheFileCouldNotBeWritten)
{
    PrivateEnvironment environment;
    // The default package path lies in the documents folder: keep it in the test's folder.
    const ScopedEnv home("HOME", environment.Folder().File("user"));
    TestServer server;
    const std::string feed = ServePodcast(server);
    CProgramState state;
    CSubscriptions& subscriptions = state.Subscriptions();
    subscriptions.Load();
    ASSERT_NE(subscriptions.NewFeed(subscriptions.Root(), "P", feed, "", "").node, nullptr);

    // A folder stands where the settings file belongs: Options' OK cannot store anything.
    std::filesystem::remove(environment.ConfigFile());
    std::filesystem::create_directories(environment.ConfigFile());
    CorvaneSettings options = subscriptions.Settings();
    options.outputPath = environment.Folder().File("corvane.mrf");
    options.podcastFormat = 0;
    options.newest = 1;
    options.scheduleOn = 1;
    options.scheduleHour = 6;
    options.scheduleMinute = 0;
    EXPECT_FALSE(subscriptions.ApplyOptions(options).Ok());

    // No path in the request: the job takes the member's, as the scheduled update does.
    UpdateRequest request;
    request.feedUrls = {feed};
    std::string error;
    ASSERT_EQ(state.StartWithoutWindow(request, &error), StartResult::Started) << error;
    state.UpdateController().WaitManual();
    EXPECT_EQ(RecordNames(options.outputPath),
        (std::vector<std::string> {"0 " + feed, "1 " + server.Url("/e2.mp3")}));

    // The schedule, too, is the one Options set.
    CUpdateController& controller = state.UpdateController();
    EXPECT_TRUE(controller.OnScheduleTick(LocalTime {2026, 12, 8, 6, 0, 0}));
    controller.WaitScheduled();
}

TEST(ProgramState, NewestEpisodesCountIsReadAtStartAndKeptByOptions)
{
    PrivateEnvironment environment;
    std::string error;
    ASSERT_TRUE(WriteSettingText(*FindSetting("Podcast/Newest"), "7", error)) << error;
    CProgramState state;
    CSubscriptions& subscriptions = state.Subscriptions();
    EXPECT_EQ(subscriptions.Settings().newest, 0); // nothing read yet
    subscriptions.Load();
    EXPECT_EQ(subscriptions.Settings().newest, 7);

    CorvaneSettings options = subscriptions.Settings();
    options.newest = 3;
    ASSERT_TRUE(subscriptions.ApplyOptions(options).Ok());
    EXPECT_EQ(subscriptions.Settings().newest, 3);
    EXPECT_EQ(LoadSettings().newest, 3);
}
