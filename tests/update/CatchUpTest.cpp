// Catch-up of a missed scheduled update, the systemd timer standing in for the tick, and the
// last-update record that both read.
#include "UpdateTestSupport.h"

#include "update/LastRun.h"
#include "update/ScheduledUpdate.h"

#include <ctime>

using namespace corvane;

namespace {

LocalTime At(int month, int day, int hour, int minute, int year = 2026)
{
    LocalTime time;
    time.year = year;
    time.month = month;
    time.day = day;
    time.hour = hour;
    time.minute = minute;
    return time;
}

} // namespace

TEST(CatchUpDueTest, RunsWhenTheSetTimePassedSinceTheLastUpdate)
{
    // Set for 06:00. The computer slept from 05:00 to 09:00: the tick at 09:00 catches up.
    EXPECT_TRUE(CatchUpDue(At(3, 10, 9, 0), 1, 6, 0, false, At(3, 9, 6, 2)));
    // The program was not running yesterday at 06:00 nor today: one update, today's.
    EXPECT_TRUE(CatchUpDue(At(3, 10, 9, 0), 1, 6, 0, false, At(3, 8, 6, 2)));
    // Started at 05:00 today; yesterday's 06:00 update ran: nothing until 06:00.
    EXPECT_FALSE(CatchUpDue(At(3, 10, 5, 0), 1, 6, 0, false, At(3, 9, 6, 3)));
    // ... but yesterday's was missed: caught up at once.
    EXPECT_TRUE(CatchUpDue(At(3, 10, 5, 0), 1, 6, 0, false, At(3, 9, 5, 59)));
    // Any update after the set time counts (a manual one at 07:00).
    EXPECT_FALSE(CatchUpDue(At(3, 10, 9, 0), 1, 6, 0, false, At(3, 10, 7, 0)));
}

TEST(CatchUpDueTest, NothingWithoutScheduleValidTimeOrKnownUpdate)
{
    EXPECT_FALSE(CatchUpDue(At(3, 10, 9, 0), 0, 6, 0, false, At(3, 1, 6, 0)));
    EXPECT_FALSE(CatchUpDue(At(3, 10, 9, 0), 1, 6, 0, true, At(3, 1, 6, 0)));
    EXPECT_FALSE(CatchUpDue(At(3, 10, 9, 0), 1, 24, 0, false, At(3, 1, 6, 0)));
    EXPECT_FALSE(CatchUpDue(At(3, 10, 9, 0), 1, -1, 0, false, At(3, 1, 6, 0)));
    EXPECT_FALSE(CatchUpDue(At(3, 10, 9, 0), 1, 6, 0, false, std::nullopt));
}

TEST(CatchUpDueTest, LastOccurrenceCrossesMonthsYearsAndLeapDays)
{
    EXPECT_EQ(LastOccurrence(At(3, 10, 9, 0), 6, 0), At(3, 10, 6, 0));
    EXPECT_EQ(LastOccurrence(At(3, 10, 6, 0), 6, 0), At(3, 10, 6, 0));
    EXPECT_EQ(LastOccurrence(At(3, 10, 5, 59), 6, 0), At(3, 9, 6, 0));
    EXPECT_EQ(LastOccurrence(At(3, 1, 5, 0, 2028), 6, 0), At(2, 29, 6, 0, 2028));
    EXPECT_EQ(LastOccurrence(At(3, 1, 5, 0, 2026), 6, 0), At(2, 28, 6, 0, 2026));
    EXPECT_EQ(LastOccurrence(At(1, 1, 0, 0, 2027), 23, 30), At(12, 31, 23, 30, 2026));
    EXPECT_EQ(LastOccurrence(At(5, 1, 1, 0), 6, 0), At(4, 30, 6, 0));
}

class ScheduleTickTest : public UpdateFixture {
protected:
    UpdateHooks Hooks(CorvaneSettings settings, bool* timer = nullptr)
    {
        settings.outputPath = Output();
        UpdateHooks hooks;
        hooks.readSettings = [settings] { return settings; };
        hooks.collectAllFeeds = [this] { return std::vector<std::string> {feed}; };
        hooks.channelsPath = ChannelsPath();
        hooks.setRepackable = [](int) { return Result<void>(); };
        hooks.timerEnabled = [timer] { return timer && *timer; };
        return hooks;
    }
    void SetUp() override
    {
        UpdateFixture::SetUp();
        server.Serve("/feed.xml", Rss("Daily", {}), "application/rss+xml");
        feed = server.Url("/feed.xml");
    }
    static CorvaneSettings Daily(int catchUp)
    {
        CorvaneSettings settings;
        settings.scheduleOn = 1;
        settings.scheduleHour = 6;
        settings.scheduleMinute = 0;
        settings.catchUp = catchUp;
        return settings;
    }
    static std::int64_t Epoch(const LocalTime& when)
    {
        std::tm parts {};
        parts.tm_year = when.year - 1900;
        parts.tm_mon = when.month - 1;
        parts.tm_mday = when.day;
        parts.tm_hour = when.hour;
        parts.tm_min = when.minute;
        parts.tm_isdst = -1;
        return static_cast<std::int64_t>(std::mktime(&parts));
    }
    // A completed full update at when.
    static void RecordRunAt(const LocalTime& when)
    {
        LastRun run;
        run.time = Epoch(when);
        run.program = "corvane-cli";
        run.kind = "update";
        run.packageWritten = true;
        run.fullUpdate = true;
        ASSERT_TRUE(WriteLastRun(run));
    }
    std::string feed;
};

TEST_F(ScheduleTickTest, CatchUpRunsOnceAtTheNextTickAfterAGap)
{
    RecordRunAt(At(3, 9, 6, 1));
    CUpdateController controller(Hooks(Daily(1)));
    // The computer slept through 06:00; the first tick after waking starts the update.
    ASSERT_TRUE(controller.OnScheduleTick(At(3, 10, 9, 0)));
    controller.WaitScheduled();
    EXPECT_TRUE(Unpack(Output()).ok);
    // Only once.
    EXPECT_FALSE(controller.OnScheduleTick(At(3, 10, 9, 1)));
    EXPECT_EQ(server.Hits("/feed.xml"), 1);
    // The job wrote the record that the next start of the program reads.
    const std::optional<LastRun> record = ReadLastRun();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->kind, "scheduled update");
    EXPECT_TRUE(record->packageWritten);
    EXPECT_EQ(record->exitStatus, RUN_DONE);
}

TEST_F(ScheduleTickTest, WithoutCatchUpOrWhenAnUpdateRanSinceNothingStarts)
{
    RecordRunAt(At(3, 9, 6, 1));
    {
        CUpdateController controller(Hooks(Daily(0)));
        EXPECT_FALSE(controller.OnScheduleTick(At(3, 10, 9, 0)));
    }
    RecordRunAt(At(3, 10, 7, 0)); // corvane-cli updated at 07:00
    CUpdateController controller(Hooks(Daily(1)));
    EXPECT_FALSE(controller.OnScheduleTick(At(3, 10, 9, 0)));
    EXPECT_EQ(server.Hits("/feed.xml"), 0);
}

// Only a full update of the whole tree that wrote its package is the day's update: after any
// other run since the set time, catch-up still runs; and the record of such a run keeps the time
// of the full update before it.
TEST_F(ScheduleTickTest, OnlyACompletedFullUpdateCountsAsTheDaysUpdate)
{
    struct Case {
        const char* what;
        const char* kind;
        bool wholeTree;
        bool written;
        bool folderBusy;
        bool catchUp;
    } cases[] = {
        {"Re-Pack", "Re-Pack", false, true, false, true},
        {"update --feed of one feed", "update", false, true, false, true},
        {"skipped, another update held the folder", "update", true, false, true, true},
        {"cancelled, or offline: nothing written", "scheduled update", true, false, false, true},
        {"full update", "update", true, true, false, false},
    };
    for (const Case& c : cases) {
        RecordRunAt(At(3, 9, 6, 1));
        UpdateJobResult result;
        result.finished = true;
        result.packageWritten = c.written;
        result.folderBusy = c.folderBusy;
        LastRun run = LastRunOf(result, "corvane-cli", c.kind, Output(), false, c.wholeTree);
        run.time = Epoch(At(3, 10, 7, 0));
        ASSERT_TRUE(WriteLastRun(run));
        const std::optional<LastRun> read = ReadLastRun();
        ASSERT_TRUE(read);
        EXPECT_EQ(read->lastFullUpdate, Epoch(c.catchUp ? At(3, 9, 6, 1) : At(3, 10, 7, 0)))
            << c.what;

        CUpdateController controller(Hooks(Daily(1)));
        EXPECT_EQ(controller.OnScheduleTick(At(3, 10, 9, 0)), c.catchUp) << c.what;
        controller.WaitScheduled();
    }
}

// In the desktop program: a Re-Pack or an update of one feed there is no day's update either.
TEST_F(ScheduleTickTest, ARepackInThisProgramDoesNotTakeTheCatchUp)
{
    RecordRunAt(At(3, 9, 6, 1));
    temp.Write("out/corvane.mrf", "previous");
    CUpdateController controller(Hooks(Daily(1)));
    UpdateRequest repack;
    repack.repack = true;
    repack.feedUrls = {feed};
    RecordingListener listener;
    ASSERT_EQ(controller.StartUpdate(repack, listener), StartResult::Started);
    controller.WaitManual();
    const std::optional<LastRun> read = ReadLastRun();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->kind, "Re-Pack");
    EXPECT_FALSE(read->fullUpdate);
    EXPECT_TRUE(controller.OnScheduleTick(At(3, 10, 9, 0)));
    controller.WaitScheduled();
    EXPECT_EQ(server.Hits("/feed.xml"), 1);
}

TEST_F(ScheduleTickTest, TheInstalledTimerTakesTheSchedule)
{
    bool timer = true;
    CUpdateController controller(Hooks(Daily(0), &timer));
    EXPECT_FALSE(controller.OnScheduleTick(At(3, 10, 6, 0)));
    EXPECT_EQ(server.Hits("/feed.xml"), 0);
    timer = false;
    EXPECT_TRUE(controller.OnScheduleTick(At(3, 11, 6, 0)));
    controller.WaitScheduled();
}

class LastRunTest : public UpdateFixture { };

TEST_F(LastRunTest, RecordKeepsTheRunAndIsReadBack)
{
    UpdateJobResult result;
    result.finished = true;
    result.packageWritten = true;
    result.anyFailed = true;
    result.packageSize = 2048;
    result.finalText = UpdateFinalText(2048, true);
    result.failures = {{"http://a/feed", "HTTP status 404"}};
    const LastRun run = LastRunOf(result, "corvane-cli", "update", "/p/corvane.mrf");
    EXPECT_EQ(run.exitStatus, RUN_PARTLY_FAILED);
    ASSERT_TRUE(WriteLastRun(run));
    EXPECT_EQ(LastRunPath(), home + "/last-update.json");

    std::string error;
    const std::optional<LastRun> read = ReadLastRun(&error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->time, run.time);
    EXPECT_EQ(read->exitStatus, 3);
    EXPECT_EQ(read->packageSize, 2048u);
    EXPECT_EQ(read->packagePath, "/p/corvane.mrf");
    ASSERT_EQ(read->failures.size(), 1u);
    EXPECT_EQ(read->failures[0].address, "http://a/feed");
    const std::string text = LastRunText(*read);
    EXPECT_NE(text.find("update by corvane-cli, exit status 3"), std::string::npos) << text;
    EXPECT_NE(text.find("  Package: /p/corvane.mrf (2048 bytes)\n"), std::string::npos);
    EXPECT_NE(text.find("  Failed: http://a/feed (HTTP status 404)\n"), std::string::npos);
}

TEST_F(LastRunTest, MissingAndDamagedRecordsAreTold)
{
    std::string error = "x";
    EXPECT_FALSE(ReadLastRun(&error));
    EXPECT_EQ(error, "");
    temp.Write("home/last-update.json", "{half");
    EXPECT_FALSE(ReadLastRun(&error));
    EXPECT_NE(error.find(home + "/last-update.json"), std::string::npos) << error;
}

// A record from before the full-update fields: an update that wrote its package counts.
TEST_F(LastRunTest, AnOlderRecordCountsAnUpdateThatWroteItsPackage)
{
    struct Case {
        const char* kind;
        const char* written;
        std::int64_t lastFullUpdate;
    } cases[] = {{"update", "true", 1000}, {"scheduled update", "true", 1000},
        {"Re-Pack", "true", 0}, {"update", "false", 0}};
    for (const Case& c : cases) {
        temp.Write("home/last-update.json",
            std::string("{\"time\": 1000, \"kind\": \"") + c.kind
                + "\", \"packageWritten\": " + c.written + "}");
        const std::optional<LastRun> read = ReadLastRun();
        ASSERT_TRUE(read);
        EXPECT_EQ(read->lastFullUpdate, c.lastFullUpdate) << c.kind << " " << c.written;
    }
}

TEST(UpdateNoticeTest, SaysTheSizeOrWhichFeedsFailed)
{
    UpdateJobResult result;
    result.packageWritten = true;
    result.packageSize = 3 * 1024 * 1024;
    UpdateNotice notice = UpdateNoticeOf(result, "/p/c.mrf");
    EXPECT_EQ(notice.summary, "Corvane: feeds updated");
    EXPECT_EQ(notice.body, "The package /p/c.mrf is ready for the phone: 3.0 MB (3145728 bytes).");

    result.anyFailed = true;
    for (int i = 1; i <= 7; ++i)
        result.failures.push_back({"http://h/" + std::to_string(i), "HTTP status 404"});
    notice = UpdateNoticeOf(result, "/p/c.mrf");
    EXPECT_EQ(notice.summary, "Corvane: feeds updated, some failed");
    EXPECT_NE(notice.body.find("\nFailed: http://h/1 (HTTP status 404)"), std::string::npos);
    EXPECT_NE(notice.body.find("\nFailed: http://h/5 "), std::string::npos);
    EXPECT_EQ(notice.body.find("http://h/6"), std::string::npos);
    EXPECT_NE(notice.body.find("\nand 2 more"), std::string::npos) << notice.body;

    UpdateJobResult busy;
    busy.finished = true;
    busy.folderBusy = true;
    busy.finalText = "The package /p/c.mrf was not written: another update is running";
    notice = UpdateNoticeOf(busy, "/p/c.mrf");
    EXPECT_EQ(notice.summary, "Corvane: the package was not written");
    EXPECT_EQ(notice.body, busy.finalText);
}

TEST(HeadlessRunNotifiesTest, UnderSystemdOrWhenAskedOnly)
{
    EXPECT_FALSE(HeadlessRunNotifies(nullptr, nullptr));
    EXPECT_FALSE(HeadlessRunNotifies(nullptr, ""));
    EXPECT_TRUE(HeadlessRunNotifies(nullptr, "7d3c9e"));
    EXPECT_FALSE(HeadlessRunNotifies("0", "7d3c9e"));
    EXPECT_TRUE(HeadlessRunNotifies("1", nullptr));
}
