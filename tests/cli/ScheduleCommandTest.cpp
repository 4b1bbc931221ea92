// corvane-cli schedule on|off|status against a stand-in systemctl that records its arguments,
// and two updates of one program folder at once.
#include "CliTestSupport.h"

#include "support/PrivateBus.h"
#include "update/LastRun.h"

#include <cstdlib>
#include <sys/stat.h>

namespace {

class ScheduleCommandTest : public UpdateCliFixture {
protected:
    void SetUp() override
    {
        UpdateCliFixture::SetUp();
        ::mkdir(temp.File("bin").c_str(), 0700);
        log = temp.File("systemctl.log");
        const std::string script = temp.Write("bin/systemctl",
            "#!/bin/sh\n"
            "echo \"$*\" >> '"
                + log
                + "'\n"
                  "case \"$*\" in *\"$STANDIN_FAIL_AT\"*) if [ -n \"$STANDIN_FAIL_AT\" ]; then "
                  "echo 'Failed to connect to bus' >&2; exit 1; fi ;; esac\n"
                  "case \"$*\" in *is-active*) echo active ;; *is-enabled*) echo "
                  "${STANDIN_ENABLED:-enabled} ;; esac\n"
                  "exit 0\n");
        ::chmod(script.c_str(), 0755);
    }
    // With the stand-in first on PATH (or no systemctl at all).
    CliRun Schedule(const std::string& action, bool withSystemctl = true,
        std::vector<std::string> environment = {})
    {
        CliRunOptions options;
        options.environment = std::move(environment);
        options.environment.push_back(
            "PATH=" + (withSystemctl ? temp.File("bin") : temp.File("nothing")) + ":/usr/bin:/bin");
        options.timeLimit = std::chrono::seconds(30);
        if (!withSystemctl)
            options.environment.back() = "PATH=" + temp.File("nothing");
        return RunCli({"schedule", action}, options);
    }
    std::string TimerPath() const { return config + "/systemd/user/corvane-update.timer"; }
    std::string ServicePath() const { return config + "/systemd/user/corvane-update.service"; }
    std::string log;
};

TEST_F(ScheduleCommandTest, OnWritesTheUnitsSetsScheduledAndEnablesTheTimer)
{
    ASSERT_EQ(RunCli({"options", "Update/Hour=7", "Update/Minute=45"}).exitCode, 0);
    const CliRun on = Schedule("on");
    ASSERT_EQ(on.exitCode, 0) << on.err;
    const std::string timer = ReadWholeFile(TimerPath());
    EXPECT_NE(timer.find("OnCalendar=*-*-* 07:45:00\n"), std::string::npos) << timer;
    EXPECT_NE(timer.find("Persistent=true\n"), std::string::npos);
    const std::string service = ReadWholeFile(ServicePath());
    // This very program, by its absolute path, on this program folder and settings.
    EXPECT_NE(service.find("ExecStart=" + std::string(CORVANE_CLI_PATH) + " --home " + home
                  + " update --quiet --wait-for-network\n"),
        std::string::npos)
        << service;
    EXPECT_NE(service.find("Environment=XDG_CONFIG_HOME=" + config + "\n"), std::string::npos);
    EXPECT_EQ(
        ReadWholeFile(log), "--user daemon-reload\n--user enable --now corvane-update.timer\n");
    EXPECT_EQ(RunCli({"options", "Update/Scheduled"}).out, "Update/Scheduled=1\n");

    const CliRun status = Schedule("status");
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_NE(status.out.find("Update time: 07:45"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("Timer: installed at " + TimerPath()), std::string::npos);
    EXPECT_NE(status.out.find("Enabled: yes\nActive: active\n"), std::string::npos);
    EXPECT_NE(status.out.find("Last run: none recorded\n"), std::string::npos);
}

TEST_F(ScheduleCommandTest, OffLeavesNothing)
{
    ASSERT_EQ(Schedule("on").exitCode, 0);
    std::remove(log.c_str());
    const CliRun off = Schedule("off");
    ASSERT_EQ(off.exitCode, 0) << off.err;
    EXPECT_FALSE(FileExists(TimerPath()));
    EXPECT_FALSE(FileExists(ServicePath()));
    EXPECT_EQ(
        ReadWholeFile(log), "--user disable --now corvane-update.timer\n--user daemon-reload\n");
    EXPECT_EQ(RunCli({"options", "Update/Scheduled"}).out, "Update/Scheduled=0\n");
    EXPECT_NE(Schedule("status").out.find("Timer: not installed"), std::string::npos);
}

TEST_F(ScheduleCommandTest, WithoutSystemctlTheCommandsAreShown)
{
    const CliRun on = Schedule("on", false);
    ASSERT_EQ(on.exitCode, 0) << on.err;
    EXPECT_TRUE(FileExists(TimerPath()));
    EXPECT_NE(on.out.find("systemctl --user enable --now corvane-update.timer"), std::string::npos)
        << on.out;
    EXPECT_FALSE(FileExists(log));
    EXPECT_NE(Schedule("status", false).out.find("Enabled: unknown (systemctl was not found)"),
        std::string::npos);
}

// A step of systemctl that fails (no session bus) undoes the whole "on": no unit files that
// systemd never runs, and "Scheduled" as it was, so the desktop program's schedule still runs.
TEST_F(ScheduleCommandTest, AFailingSystemctlLeavesNothingAndIsReportedWithItsOutput)
{
    for (const std::string step : {"daemon-reload", "enable"}) {
        std::remove(log.c_str());
        const CliRun on = Schedule("on", true, {"STANDIN_FAIL_AT=" + step});
        EXPECT_EQ(on.exitCode, 1) << step;
        EXPECT_NE(on.err.find("systemctl --user " + step), std::string::npos) << on.err;
        EXPECT_NE(
            on.err.find("failed with exit status 1:\nFailed to connect to bus"), std::string::npos)
            << on.err;
        EXPECT_NE(on.err.find("the schedule was left as it was"), std::string::npos) << on.err;
        EXPECT_FALSE(FileExists(TimerPath())) << step;
        EXPECT_FALSE(FileExists(ServicePath())) << step;
        EXPECT_EQ(RunCli({"options", "Update/Scheduled"}).out, "Update/Scheduled=0\n") << step;
        EXPECT_NE(ReadWholeFile(log).find("--user daemon-reload\n"), std::string::npos) << step;
    }
    // A working timer stays as it was when changing it fails.
    ASSERT_EQ(Schedule("on").exitCode, 0);
    const std::string timer = ReadWholeFile(TimerPath());
    ASSERT_EQ(RunCli({"options", "Update/Hour=9"}).exitCode, 0);
    EXPECT_EQ(Schedule("on", true, {"STANDIN_FAIL_AT=enable"}).exitCode, 1);
    EXPECT_EQ(ReadWholeFile(TimerPath()), timer);
    EXPECT_EQ(RunCli({"options", "Update/Scheduled"}).out, "Update/Scheduled=1\n");

    // A timer the user disabled, or that systemd cannot be asked about, is told apart.
    EXPECT_NE(Schedule("status", true, {"STANDIN_ENABLED=disabled"}).out.find("Enabled: no"),
        std::string::npos);
    EXPECT_NE(Schedule("status", true, {"STANDIN_FAIL_AT=is-enabled"})
                  .out.find("Enabled: unknown (systemctl gave no answer)"),
        std::string::npos);
}

TEST_F(ScheduleCommandTest, HelpShowsACronLineAndBadActionsAreUsageErrors)
{
    EXPECT_EQ(RunCli({"schedule", "off", "--sync", "/media/stick"}).exitCode, 2);
    const CliRun help = RunCli({"schedule", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("0 6 * * * /usr/bin/corvane-cli update --quiet"), std::string::npos);
    EXPECT_EQ(RunCli({"schedule"}).exitCode, 2);
    EXPECT_EQ(RunCli({"schedule", "sometimes"}).exitCode, 2);
}

TEST_F(ScheduleCommandTest, StatusShowsTheLastUpdate)
{
    server.Serve("/feed.xml", "<rss><channel><title>A</title></channel></rss>");
    Subscribe({{"A", server.Url("/feed.xml")}});
    ASSERT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    const CliRun status = Schedule("status");
    EXPECT_NE(status.out.find("update by corvane-cli, exit status 0"), std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find("  Package: " + Output()), std::string::npos);
}

// A stored time that is no time of day is shown as the values stored, never as "-1:-7".
TEST_F(ScheduleCommandTest, StatusSaysWhichStoredTimeIsNotValid)
{
    struct Case {
        const char* hour;
        const char* minute;
        const char* shown;
    } cases[] = {
        {"6", "5", "Update time: 06:05 "},
        {"garbage", "-7", "Update time: not valid (Update/Hour=garbage (invalid: 0 to 23"},
        {"25", "0", "Update time: not valid (Update/Hour=25 (invalid: 0 to 23"},
        {"6", "-7", ", Update/Minute=-7 (invalid: 0 to 59"},
    };
    for (const Case& c : cases) {
        temp.Write("home/Corvane.conf",
            std::string("[Update]\nHour=") + c.hour + "\nMinute=" + c.minute + "\n");
        const CliRun status = Schedule("status");
        EXPECT_EQ(status.exitCode, 0);
        EXPECT_NE(status.out.find(c.shown), std::string::npos) << status.out;
        EXPECT_EQ(status.out.find(":-"), std::string::npos) << status.out;
    }
}

// Two updates of one program folder started together: one writes its package, the other
// waits, gives up with exit status 75 and a message naming the folder, and writes nothing.
TEST_F(ScheduleCommandTest, TwoUpdatesAtOnceOneRunsTheOtherSkips)
{
    server.Serve("/feed.xml", "<rss><channel><title>A</title></channel></rss>");
    server.SetDelay("/feed.xml", std::chrono::milliseconds(800));
    Subscribe({{"A", server.Url("/feed.xml")}});
    setenv("CORVANE_LOCK_WAIT_MS", "100", 1);
    CliProcess first({"update", "--output", Output()}, temp.File("first.err"));
    for (int i = 0; i < 1000 && ReadWholeFile(temp.File("first.err")).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const CliRun second = RunCli({"update", "--output", temp.File("out/second.mrf")});
    unsetenv("CORVANE_LOCK_WAIT_MS");
    EXPECT_EQ(first.Wait(), 0) << ReadWholeFile(temp.File("first.err"));
    EXPECT_EQ(second.exitCode, RUN_FOLDER_BUSY) << second.err;
    EXPECT_NE(second.err.find("another update is running on the program folder " + home + "/"),
        std::string::npos)
        << second.err;
    EXPECT_FALSE(FileExists(temp.File("out/second.mrf")));
    EXPECT_TRUE(Unpack(Output()).ok);
    EXPECT_EQ(server.Hits("/feed.xml"), 1);
}

// The timer's run has no one watching: under systemd (INVOCATION_ID) the update tells the
// desktop how it went; on a terminal or in a script it does not.
TEST_F(ScheduleCommandTest, AnUpdateUnderSystemdSendsTheNotification)
{
    testbus::PrivateBus bus;
    if (!bus.Ok())
        GTEST_SKIP() << "no dbus-daemon";
    const std::string calls = temp.File("calls");
    ASSERT_TRUE(bus.StartService(CORVANE_NOTIFICATION_STANDIN, calls));
    server.Serve("/feed.xml", "<rss><channel><title>A</title></channel></rss>");
    Subscribe({{"A", server.Url("/feed.xml")}});
    CliRunOptions plain;
    plain.environment = {"INVOCATION_ID=", "CORVANE_NOTIFY="};
    ASSERT_EQ(RunCli({"update", "--output", Output()}, plain).exitCode, 0);
    EXPECT_FALSE(FileExists(calls));

    CliRunOptions underSystemd;
    underSystemd.environment = {"INVOCATION_ID=0123456789abcdef", "CORVANE_NOTIFY="};
    const CliRun run = RunCli({"update", "--output", Output()}, underSystemd);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::string size = std::to_string(std::filesystem::file_size(Output()));
    EXPECT_EQ(LastLine(ReadWholeFile(calls))
                  .rfind("Corvane|Corvane: feeds updated|The package " + Output(), 0),
        0u)
        << ReadWholeFile(calls);
    EXPECT_NE(ReadWholeFile(calls).find("(" + size + " bytes)"), std::string::npos);
}

} // namespace
