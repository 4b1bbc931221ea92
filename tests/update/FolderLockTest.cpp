// The program folder's update lock: two updates of one folder never run at once.
#include "UpdateTestSupport.h"

#include "support/ScopedEnv.h"
#include "update/FolderLock.h"
#include "update/LastRun.h"
#include "update/ScheduledUpdate.h"

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

class FolderLockTest : public UpdateFixture { };

TEST_F(FolderLockTest, SecondHolderWaitsThenGivesUpNamingTheFolder)
{
    ProgramFolderLock first;
    std::string error;
    ASSERT_TRUE(first.Take(0ms, {}, error)) << error;
    EXPECT_TRUE(FileExists(home + "/update.lock"));

    ProgramFolderLock second;
    bool busy = false;
    EXPECT_FALSE(second.Take(100ms, {}, error, &busy));
    EXPECT_TRUE(busy);
    EXPECT_EQ(error,
        "another update is running on the program folder " + home + "/; this one was skipped");

    // Once the first lets go the lock is free again, within the wait.
    std::thread release([&] {
        std::this_thread::sleep_for(50ms);
        first.Release();
    });
    EXPECT_TRUE(second.Take(5s, {}, error, &busy)) << error;
    release.join();
    EXPECT_TRUE(second.Held());
}

TEST_F(FolderLockTest, StopEndsTheWaitAtOnce)
{
    ProgramFolderLock first;
    std::string error;
    ASSERT_TRUE(first.Take(0ms, {}, error));
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.request_stop();
    });
    ProgramFolderLock second;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(second.Take(30s, stop.get_token(), error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    stopper.join();
}

TEST_F(FolderLockTest, WaitComesFromTheEnvironment)
{
    {
        ScopedEnv wait("CORVANE_LOCK_WAIT_MS", "250");
        EXPECT_EQ(FolderLockWait(), 250ms);
    }
    {
        ScopedEnv wait("CORVANE_LOCK_WAIT_MS", "soon");
        EXPECT_EQ(FolderLockWait(), 5000ms);
    }
    ScopedEnv wait("CORVANE_LOCK_WAIT_MS", std::nullopt);
    EXPECT_EQ(FolderLockWait(), 5000ms);
}

// Two updates started together on one folder: one runs and writes a whole package, the other
// gives up after its wait without touching the package or the cache.
TEST_F(FolderLockTest, TwoUpdatesStartedTogetherOneRunsTheOtherSkips)
{
    server.Serve("/feed.xml", Rss("Slow", {}), "application/rss+xml");
    server.SetDelay("/feed.xml", 400ms);
    const std::string feed = server.Url("/feed.xml");

    UpdateJobSetup firstSetup = Setup({feed});
    firstSetup.folderLockWait = 0ms;
    UpdateJobSetup secondSetup = firstSetup;
    secondSetup.outputPath = temp.File("out/second.mrf");
    RecordingListener firstListener, secondListener;
    CUpdateJob first(std::move(firstSetup), firstListener);
    CUpdateJob second(std::move(secondSetup), secondListener);
    std::string error;
    ASSERT_TRUE(first.Start(error)) << error;
    // The first has its lock once it shows its first feed.
    for (int i = 0; i < 500 && firstListener.Events().size() < 2; ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_TRUE(second.Start(error)) << error;
    first.Wait();
    second.Wait();

    const UpdateJobResult ran = first.Result();
    const UpdateJobResult skipped = second.Result();
    EXPECT_TRUE(ran.packageWritten);
    EXPECT_FALSE(ran.folderBusy);
    EXPECT_TRUE(Unpack(Output()).ok);
    EXPECT_EQ(Unpack(Output()).records.size(), 1u);

    EXPECT_TRUE(skipped.finished);
    EXPECT_TRUE(skipped.folderBusy);
    EXPECT_FALSE(skipped.packageWritten);
    EXPECT_FALSE(FileExists(temp.File("out/second.mrf")));
    EXPECT_EQ(RunExitStatus(skipped), RUN_FOLDER_BUSY);
    const std::string busy = FolderBusyText(home + "/");
    EXPECT_EQ(secondListener.Failures(), std::vector<std::string> {busy});
    EXPECT_EQ(secondListener.Events().back(),
        "finished failed " + UpdateNotWrittenText(temp.File("out/second.mrf"), busy));
    EXPECT_EQ(server.Hits("/feed.xml"), 1);
}

// The wait of a job runs on its thread: Cancel ends it and nothing is shown after.
TEST_F(FolderLockTest, CancelDuringTheWaitEndsTheJob)
{
    ProgramFolderLock other;
    std::string error;
    ASSERT_TRUE(other.Take(0ms, {}, error));
    UpdateJobSetup setup = Setup({server.Url("/feed.xml")});
    setup.folderLockWait = 30s;
    RecordingListener listener;
    CUpdateJob job(std::move(setup), listener);
    ASSERT_TRUE(job.Start(error)) << error;
    for (int i = 0; i < 500 && listener.Events().empty(); ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(listener.Events().size(), 1u);
    EXPECT_EQ(listener.Events()[0], "status Waiting for the other update of " + home + "/ to end");
    job.Cancel();
    job.Wait();
    EXPECT_TRUE(job.Result().cancelled);
    EXPECT_EQ(listener.Events().size(), 1u);
}
