// The systemd timer and service texts, and where they go.
#include "update/ScheduleUnits.h"
#include "support/ScopedEnv.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(ScheduleUnitsTest, TimerRunsDailyAtTheSetTimeAndCatchesUpAfterSleep)
{
    const ScheduleUnitTexts units = MakeScheduleUnits(6, 5, "/usr/bin/corvane-cli", "", {});
    EXPECT_NE(units.timer.find("\nOnCalendar=*-*-* 06:05:00\n"), std::string::npos) << units.timer;
    EXPECT_NE(units.timer.find("\nPersistent=true\n"), std::string::npos);
    EXPECT_NE(units.timer.find("\nUnit=corvane-update.service\n"), std::string::npos);
    EXPECT_NE(units.timer.find("[Install]\nWantedBy=timers.target\n"), std::string::npos);
    EXPECT_NE(units.service.find("\nType=oneshot\n"), std::string::npos);
    EXPECT_NE(
        units.service.find("\nExecStart=/usr/bin/corvane-cli update --quiet --wait-for-network\n"),
        std::string::npos)
        << units.service;
    EXPECT_EQ(units.service.find("Environment="), std::string::npos);
    EXPECT_NE(units.service.find("[Unit]\nDescription=Corvane update of the feeds for the phone\n"
                                 "Wants=network-online.target\nAfter=network-online.target\n"),
        std::string::npos)
        << units.service;

    EXPECT_NE(MakeScheduleUnits(23, 59, "/x", "", {}).timer.find("OnCalendar=*-*-* 23:59:00\n"),
        std::string::npos);
    EXPECT_NE(MakeScheduleUnits(0, 0, "/x", "", {}).timer.find("OnCalendar=*-*-* 00:00:00\n"),
        std::string::npos);
}

TEST(ScheduleUnitsTest, AnotherProgramFolderAndSettingsFolderArePassedOn)
{
    const ScheduleUnitTexts units = MakeScheduleUnits(6, 0, "/opt/c/corvane-cli",
        "/data/phone feeds/", {"XDG_CONFIG_HOME=/cfg", "XDG_DATA_HOME=/my data"});
    EXPECT_NE(units.service.find("\nExecStart=/opt/c/corvane-cli --home \"/data/phone feeds\" "
                                 "update --quiet --wait-for-network\n"),
        std::string::npos)
        << units.service;
    EXPECT_NE(units.service.find("\nEnvironment=XDG_CONFIG_HOME=/cfg\n"
                                 "Environment=\"XDG_DATA_HOME=/my data\"\n"),
        std::string::npos);

    // The update's own further arguments follow it, each quoted as a word.
    const ScheduleUnitTexts syncing
        = MakeScheduleUnits(6, 0, "/x", "", {}, {"--sync", "Acme Phone X1 \u2013 SD card"});
    EXPECT_NE(syncing.service.find("\nExecStart=/x update --quiet --wait-for-network --sync "
                                   "\"Acme Phone X1 \u2013 SD card\"\n"),
        std::string::npos)
        << syncing.service;
}

TEST(ScheduleUnitsTest, WordsAreQuotedAsSystemdReadsThem)
{
    EXPECT_EQ(SystemdQuote("/usr/bin/corvane-cli"), "/usr/bin/corvane-cli");
    EXPECT_EQ(SystemdQuote("/home/a b/cli"), "\"/home/a b/cli\"");
    // Specifiers and variables would be expanded by systemd: doubled.
    EXPECT_EQ(SystemdQuote("/home/100%/cli"), "/home/100%%/cli");
    EXPECT_EQ(SystemdQuote("/home/$USER/cli"), "/home/$$USER/cli");
    EXPECT_EQ(SystemdQuote("/a\"b\\c"), "\"/a\\\"b\\\\c\"");
    EXPECT_EQ(SystemdQuote("/a\nb"), "\"/a\\nb\"");
    EXPECT_EQ(SystemdQuote("/a;b"), "\"/a;b\"");
    EXPECT_EQ(SystemdQuote(""), "\"\"");
}

TEST(ScheduleUnitsTest, CronLineQuotesForTheShell)
{
    EXPECT_EQ(ScheduleCronLine(6, 0, "/usr/bin/corvane-cli"),
        "0 6 * * * /usr/bin/corvane-cli update --quiet");
    EXPECT_EQ(
        ScheduleCronLine(7, 30, "/home/a b/cli"), "30 7 * * * '/home/a b/cli' update --quiet");
    EXPECT_EQ(ScheduleCronLine(7, 30, "/x/it's"), "30 7 * * * '/x/it'\\''s' update --quiet");
    EXPECT_EQ(ScheduleCronLine(7, 30, "/x/100%"), "30 7 * * * '/x/100'\\%'' update --quiet");
}

class ScheduleUnitPathsTest : public TestHome { };

TEST_F(ScheduleUnitPathsTest, UnitsGoUnderTheConfigFolderAndTheHomeIsNamedWhenNotTheUsualOne)
{
    EXPECT_EQ(ScheduleTimerPath(), config + "/systemd/user/corvane-update.timer");
    EXPECT_EQ(ScheduleServicePath(), config + "/systemd/user/corvane-update.service");
    using Environment = std::vector<std::string>;
    EXPECT_EQ(ScheduleEnvironment(), Environment {"XDG_CONFIG_HOME=" + config});
    EXPECT_EQ(ScheduleHomeArgument(), home);
    {
        // The default program folder of a session with its own XDG_DATA_HOME is found through
        // it, also when named with --home.
        ScopedEnv noHome("CORVANE_HOME", std::nullopt);
        const Environment both {"XDG_CONFIG_HOME=" + config, "XDG_DATA_HOME=" + temp.File("data")};
        EXPECT_EQ(ScheduleEnvironment(), both);
        EXPECT_EQ(ScheduleHomeArgument(), "");
        ScopedEnv usualHome("CORVANE_HOME", temp.File("data") + "/Corvane/");
        EXPECT_EQ(ScheduleEnvironment(), both);
        EXPECT_EQ(ScheduleHomeArgument(), "");
    }
    {
        ScopedEnv noConfig("XDG_CONFIG_HOME", std::nullopt);
        ScopedEnv noHome("CORVANE_HOME", std::nullopt);
        ScopedEnv noData("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(ScheduleTimerPath(), temp.File("user/.config/systemd/user/corvane-update.timer"));
        EXPECT_EQ(ScheduleEnvironment(), Environment {});
        EXPECT_EQ(ScheduleHomeArgument(), "");
    }
    EXPECT_FALSE(ScheduleTimerInstalled());
    std::filesystem::create_directories(config + "/systemd/user");
    temp.Write("config/systemd/user/corvane-update.timer", "[Timer]\n");
    EXPECT_TRUE(ScheduleTimerInstalled());
}
