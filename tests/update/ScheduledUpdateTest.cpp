#include "UpdateTestSupport.h"

#include "update/ScheduledUpdate.h"

#include <algorithm>
#include <chrono>
#include <thread>

using namespace corvane;

namespace {

LocalTime At(int hour, int minute, int second, int day = 7)
{
    LocalTime time;
    time.year = 2026;
    time.month = 12;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    return time;
}

} // namespace

TEST(ScheduledUpdateDueTest, StartsOnceWithinTheSetMinute)
{
    // Schedule on, 06:00, nothing running, not started yet today.
    EXPECT_TRUE(ScheduledUpdateDue(At(6, 0, 0), 1, 6, 0, false, std::nullopt));
    // The tick of second 0 came late: the first tick within the minute still starts it.
    EXPECT_TRUE(ScheduledUpdateDue(At(6, 0, 1), 1, 6, 0, false, std::nullopt));
    EXPECT_TRUE(ScheduledUpdateDue(At(6, 0, 59), 1, 6, 0, false, std::nullopt));
    // ... but once only: a later tick in the same minute of the same day does not.
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 0, 1), 1, 6, 0, false, At(6, 0, 0)));
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 0, 30), 1, 6, 0, false, At(6, 0, 1)));
    // The next day's minute does.
    EXPECT_TRUE(ScheduledUpdateDue(At(6, 0, 0, 8), 1, 6, 0, false, At(6, 0, 0, 7)));
}

TEST(ScheduledUpdateDueTest, AManualJobThatEndedWithinTheSetMinuteTakesThatDay)
{
    // Ended within the minute (it ran during it): not today, whatever second the tick comes.
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 0, 30), 1, 6, 0, false, std::nullopt, At(6, 0, 0)));
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 0, 59), 1, 6, 0, false, std::nullopt, At(6, 0, 58)));
    // Ended before the minute, or on another day: the late tick still starts it.
    EXPECT_TRUE(ScheduledUpdateDue(At(6, 0, 30), 1, 6, 0, false, std::nullopt, At(5, 59, 59)));
    EXPECT_TRUE(ScheduledUpdateDue(At(6, 0, 0, 8), 1, 6, 0, false, std::nullopt, At(6, 0, 10)));
}

TEST(ScheduledUpdateDueTest, OtherTimesScheduleOffAndRunningJobsDoNotStart)
{
    EXPECT_FALSE(ScheduledUpdateDue(At(5, 59, 59), 1, 6, 0, false, std::nullopt));
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 1, 0), 1, 6, 0, false, std::nullopt));
    EXPECT_FALSE(ScheduledUpdateDue(At(7, 0, 0), 1, 6, 0, false, std::nullopt));
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 0, 0), 0, 6, 0, false, std::nullopt));
    EXPECT_FALSE(ScheduledUpdateDue(At(6, 0, 0), 1, 6, 0, true, std::nullopt));
    EXPECT_TRUE(ScheduledUpdateDue(At(23, 59, 0), 1, 23, 59, false, std::nullopt));
}

TEST(CanRepackTest, OnlyWhileRepackableIsOneAndNoJobRuns)
{
    EXPECT_TRUE(CanRepack(1, false));
    EXPECT_FALSE(CanRepack(1, true));
    EXPECT_FALSE(CanRepack(0, false));
    EXPECT_FALSE(CanRepack(2, false)); // nonzero is not enough
    EXPECT_FALSE(CanRepack(-1, false));
}

class ScheduledUpdateTest : public UpdateFixture {
protected:
    // A controller whose hooks record what the program around it would see.
    std::unique_ptr<CUpdateController> MakeController(std::vector<std::string> feeds)
    {
        settings.outputPath = Output();
        settings.scheduleOn = 1;
        settings.scheduleHour = 6;
        settings.scheduleMinute = 0;
        settings.podcastOn = 0;
        UpdateHooks hooks;
        hooks.readSettings = [this] {
            std::lock_guard lock(mutex);
            return settings;
        };
        hooks.collectAllFeeds = [this, feeds] {
            ++collected;
            return feeds;
        };
        hooks.channelsPath = ChannelsPath();
        hooks.setRepackable = [this](int value) {
            std::lock_guard lock(mutex);
            repackable.push_back(value);
            return Result<void>();
        };
        hooks.scheduledBusy = [this](bool busy) {
            std::lock_guard lock(mutex);
            tray.push_back(busy ? 145 : 128);
        };
        hooks.now = [this] {
            std::lock_guard lock(mutex);
            return clock;
        };
        return std::make_unique<CUpdateController>(std::move(hooks));
    }
    // The clock that manual jobs read as they end.
    void SetClock(const LocalTime& time)
    {
        std::lock_guard lock(mutex);
        clock = time;
    }
    // Runs a manual job of feeds to its end.
    void RunManualJob(CUpdateController& controller, std::vector<std::string> feeds)
    {
        RecordingListener listener;
        UpdateRequest request;
        request.feedUrls = std::move(feeds);
        ASSERT_EQ(controller.StartUpdate(request, listener), StartResult::Started);
        controller.WaitManual();
        ASSERT_TRUE(controller.ManualResult().finished);
    }
    std::vector<int> Tray()
    {
        std::lock_guard lock(mutex);
        return tray;
    }
    std::vector<int> Repackable()
    {
        std::lock_guard lock(mutex);
        return repackable;
    }

    std::mutex mutex;
    CorvaneSettings settings;
    std::vector<int> tray;
    std::vector<int> repackable;
    LocalTime clock;
    int collected = 0;
};

TEST_F(ScheduledUpdateTest, TickAtTheSetTimeRunsTheFullUpdateSilently)
{
    server.Serve("/ok.rss", Rss("Ok", {}));
    auto controller = MakeController({server.Url("/bad.rss"), server.Url("/ok.rss")});

    EXPECT_FALSE(controller->OnScheduleTick(At(5, 59, 59)));
    EXPECT_EQ(collected, 0);
    ASSERT_TRUE(controller->OnScheduleTick(At(6, 0, 0)));
    EXPECT_TRUE(controller->UpdateRunning());
    // A second tick in the same minute, while or after it runs, starts nothing.
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 1)));
    controller->WaitScheduled();
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 2)));
    EXPECT_EQ(collected, 1);

    EXPECT_FALSE(controller->UpdateRunning());
    EXPECT_EQ(Tray(), (std::vector<int> {145, 128}));
    EXPECT_EQ(Repackable(), (std::vector<int> {0, 1}));
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/ok.rss")}));
}

TEST_F(ScheduledUpdateTest, LateTickStartsOnceAndScheduleOffNever)
{
    server.Serve("/ok.rss", Rss("Ok", {}));
    auto controller = MakeController({server.Url("/ok.rss")});
    ASSERT_TRUE(controller->OnScheduleTick(At(6, 0, 1)));
    controller->WaitScheduled();
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 2)));
    EXPECT_EQ(server.Hits("/ok.rss"), 1);

    settings.scheduleOn = 0;
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 0, 8)));
    EXPECT_EQ(server.Hits("/ok.rss"), 1);
}

// The tick of second 0 finds the user's job running, and the job ends later in the same minute:
// the next ticks of that minute must not start the scheduled update after all.
TEST_F(ScheduledUpdateTest, TickWhileAManualJobRunsDoesNothingAndSkipsThatDay)
{
    server.Serve("/slow.rss", Rss("Slow", {}));
    server.SetDelay("/slow.rss", std::chrono::milliseconds(400));
    auto controller = MakeController({server.Url("/slow.rss")});
    RecordingListener listener;
    UpdateRequest request;
    request.feedUrls = {server.Url("/slow.rss")};
    SetClock(At(6, 0, 1)); // when the job ends
    ASSERT_EQ(controller->StartUpdate(request, listener), StartResult::Started);
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 0)));
    EXPECT_EQ(collected, 0);
    controller->WaitManual();
    EXPECT_TRUE(controller->ManualResult().finished);
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 2)));
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 59)));
    EXPECT_EQ(collected, 0);
    EXPECT_TRUE(Tray().empty());
    // The next day's minute starts it again.
    EXPECT_TRUE(controller->OnScheduleTick(At(6, 0, 0, 8)));
    controller->WaitScheduled();
    EXPECT_EQ(collected, 1);
}

// The ticks came late (a busy GUI thread) and the user's whole job fell between them, inside
// the set minute: no tick saw it running, yet it ran at the set time. A job that ended before
// the set minute leaves the late tick's start alone.
TEST_F(ScheduledUpdateTest, ManualJobWithinTheSetMinuteBetweenTicksSkipsThatDay)
{
    server.Serve("/ok.rss", Rss("Ok", {}));
    auto controller = MakeController({server.Url("/ok.rss")});
    SetClock(At(5, 59, 59));
    RunManualJob(*controller, {server.Url("/ok.rss")});
    EXPECT_TRUE(controller->OnScheduleTick(At(6, 0, 20)));
    controller->WaitScheduled();
    EXPECT_EQ(collected, 1);

    SetClock(At(6, 0, 5, 8));
    RunManualJob(*controller, {server.Url("/ok.rss")});
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 6, 8)));
    EXPECT_EQ(collected, 1);
    EXPECT_EQ(server.Hits("/ok.rss"), 3);
}

// A hand-edited time outside the day, read from the settings file as the program reads it:
// no tick of the day starts the update, in particular not at the default 06:00.
TEST_F(ScheduledUpdateTest, StoredTimeOutsideTheDayNeverStartsTheUpdate)
{
    server.Serve("/ok.rss", Rss("Ok", {}));
    UpdateHooks hooks;
    hooks.collectAllFeeds = [this] {
        ++collected;
        return std::vector<std::string> {server.Url("/ok.rss")};
    };
    hooks.channelsPath = ChannelsPath();
    hooks.setRepackable = [](int) { return Result<void>(); };
    CUpdateController controller(std::move(hooks));
    const struct {
        const char* time;
        int hour, minute; // as read
    } cases[] = {{"Hour=25\nMinute=0", 25, 0}, {"Hour=6\nMinute=60", 6, 60},
        {"Hour=noon\nMinute=0", -1, 0}, {"Hour=-1\nMinute=-1", -1, -1}};
    // QSettings takes a file of the same size and time for unchanged: each case's file is padded
    // to a size of its own.
    std::size_t size = 0;
    for (const auto& [time, hour, minute] : cases) {
        const std::string body
            = "\n[Path]\nFeedFile=" + Output() + "\n[Update]\nScheduled=1\n" + time + "\n";
        size = std::max(size + 1, body.size() + 1);
        temp.Write("home/Corvane.conf", std::string(size - body.size(), ';') + body);
        const CorvaneSettings read = LoadSettings();
        ASSERT_EQ(read.scheduleOn, 1);
        EXPECT_EQ(read.scheduleHour, hour) << time;
        EXPECT_EQ(read.scheduleMinute, minute) << time;
        // Every hour's first minute and every minute of the default hour.
        for (int h = 0; h < 24; ++h)
            EXPECT_FALSE(controller.OnScheduleTick(At(h, 0, 0))) << time;
        for (int m = 0; m < 60; ++m)
            EXPECT_FALSE(controller.OnScheduleTick(At(6, m, 30))) << time;
    }
    EXPECT_EQ(collected, 0);
    EXPECT_EQ(server.Hits("/ok.rss"), 0);
}

TEST_F(ScheduledUpdateTest, ManualJobStopsTheScheduledOne)
{
    temp.Write("out/corvane.mrf", "previous package");
    server.Serve("/hang.rss", Rss("Hang", {}));
    server.SetDelay("/hang.rss", std::chrono::seconds(30));
    server.Serve("/mine.rss", Rss("Mine", {}));
    auto controller = MakeController({server.Url("/hang.rss")});
    ASSERT_TRUE(controller->OnScheduleTick(At(6, 0, 0)));
    for (int i = 0; i < 500 && server.Hits("/hang.rss") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(controller->ScheduledRunning());

    RecordingListener listener;
    UpdateRequest request;
    request.feedUrls = {server.Url("/mine.rss")};
    ASSERT_EQ(controller->StartUpdate(request, listener), StartResult::Started);
    EXPECT_FALSE(controller->ScheduledRunning());
    // The tray went back to normal when the scheduled update ended, before the manual job.
    EXPECT_EQ(Tray(), (std::vector<int> {145, 128}));
    controller->WaitManual();

    EXPECT_EQ(
        Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/mine.rss")}));
    // The scheduled update cleared Repackable and never set it; the manual job did.
    EXPECT_EQ(Repackable(), (std::vector<int> {0, 0, 1}));
    EXPECT_FALSE(controller->UpdateRunning());
}

TEST_F(ScheduledUpdateTest, NothingToDoAndUnwritablePackageLeaveEverythingAsItWas)
{
    temp.Write("out/corvane.mrf", "previous package");
    auto controller = MakeController({});
    RecordingListener listener;
    UpdateRequest request;
    EXPECT_EQ(controller->StartUpdate(request, listener), StartResult::NothingToDo);
    EXPECT_FALSE(controller->UpdateRunning());

    request.feedUrls = {server.Url("/x.rss")};
    request.outputPath = temp.File("missing/corvane.mrf");
    std::string error;
    EXPECT_EQ(controller->StartUpdate(request, listener, &error), StartResult::CannotOpenPackage);
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_FALSE(controller->UpdateRunning());
    EXPECT_TRUE(listener.Events().empty());
    // An empty tree at the set time starts nothing.
    EXPECT_FALSE(controller->OnScheduleTick(At(6, 0, 0)));
    EXPECT_TRUE(Tray().empty());
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
}

// A laptop that woke before its network: the scheduled update tries again while no server
// answers, says nothing meanwhile, and packs once the network is up; a manual job ends the
// wait; without a network for the whole limit it gives up and says so once.
TEST_F(ScheduledUpdateTest, WithoutANetworkTheScheduledUpdateWaitsForIt)
{
    temp.Write("out/corvane.mrf", "previous package");
    const auto closedPort = [] { return TestServer().Port(); };
    const int port = closedPort();
    const std::string feed = "http://127.0.0.1:" + std::to_string(port) + "/feed.rss";
    auto controller = MakeController({feed});
    std::vector<std::string> told;
    controller->SetJobEndedListener([&](const UpdateJobResult& result, JobKind) {
        std::lock_guard lock(mutex);
        told.push_back(result.finalText);
    });
    const auto Told = [&] {
        std::lock_guard lock(mutex);
        return told;
    };
    controller->SetNetworkWaitPolicy({std::chrono::milliseconds(20), std::chrono::seconds(60)});
    // Ticks outside the set minute until the retry starts.
    const auto retryStarts = [&] {
        controller->WaitScheduled();
        for (int i = 0; i < 2000; ++i) {
            if (controller->OnScheduleTick(At(6, 30, 0)))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    };

    ASSERT_TRUE(controller->OnScheduleTick(At(6, 0, 0)));
    ASSERT_TRUE(retryStarts());
    controller->WaitScheduled();
    EXPECT_TRUE(controller->WaitingForNetwork());
    EXPECT_EQ(Told(), std::vector<std::string> {});
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    TestServer up(port);
    up.Serve("/feed.rss", Rss("Up", {}));
    ASSERT_TRUE(retryStarts());
    controller->WaitScheduled();
    EXPECT_FALSE(controller->WaitingForNetwork());
    EXPECT_EQ(up.Hits("/feed.rss"), 1);
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + feed}));
    ASSERT_EQ(Told().size(), 1u);

    auto offline = MakeController({"http://127.0.0.1:" + std::to_string(closedPort()) + "/f"});
    offline->SetNetworkWaitPolicy({std::chrono::milliseconds(20), std::chrono::seconds(60)});
    ASSERT_TRUE(offline->OnScheduleTick(At(6, 0, 0)));
    offline->WaitScheduled();
    ASSERT_TRUE(offline->WaitingForNetwork());
    server.Serve("/mine.rss", Rss("Mine", {}));
    RunManualJob(*offline, {server.Url("/mine.rss")});
    EXPECT_FALSE(offline->WaitingForNetwork());
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    EXPECT_FALSE(offline->OnScheduleTick(At(6, 30, 0)));

    offline->SetNetworkWaitPolicy({std::chrono::milliseconds(20), std::chrono::milliseconds(60)});
    offline->SetJobEndedListener([&](const UpdateJobResult& result, JobKind) {
        std::lock_guard lock(mutex);
        told.push_back(result.finalText);
    });
    ASSERT_TRUE(offline->OnScheduleTick(At(6, 0, 0, 8)));
    for (int i = 0; i < 2000 && (offline->WaitingForNetwork() || offline->UpdateRunning()); ++i) {
        offline->OnScheduleTick(At(6, 30, 0, 8));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    offline->WaitScheduled();
    EXPECT_EQ(Told().size(), 2u);
    EXPECT_EQ(Told().back().rfind("No network for ", 0), 0u) << Told().back();
}
