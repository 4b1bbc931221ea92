#include "platform/Settings.h"

#include "support/ScopedEnv.h"
#include "support/TestHome.h"

#include <QSettings>

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

using namespace corvane;

namespace {

class SettingsTest : public TestHome {
protected:
    QSettings Store() const
    {
        return QSettings(QString::fromStdString(SettingsPath()), QSettings::IniFormat);
    }
    // A folder where the settings file belongs: no write can succeed.
    void BlockSettingsFile() const
    {
        std::filesystem::remove(SettingsPath());
        std::filesystem::create_directories(SettingsPath());
    }
};

TEST_F(SettingsTest, EmptyStoreGivesDefaultsWithoutWriting)
{
    const CorvaneSettings settings = LoadSettings();
    EXPECT_EQ(settings.outputPath, temp.File("user/Documents/corvane.mrf"));
    EXPECT_EQ(settings.scheduleOn, 0);
    EXPECT_EQ(settings.scheduleHour, 6);
    EXPECT_EQ(settings.scheduleMinute, 0);
    EXPECT_EQ(settings.prune, 0);
    EXPECT_EQ(settings.podcastOn, 1);
    EXPECT_EQ(settings.podcastFormat, 1);
    EXPECT_EQ(settings.compression, 7);
    EXPECT_EQ(settings.volume, 4);
    EXPECT_EQ(settings.lengthLimitOn, 0);
    EXPECT_EQ(settings.lengthLimit, 1200u);
    EXPECT_EQ(settings.firstItemOnly, 0);
    EXPECT_EQ(settings.newest, 0);
    EXPECT_EQ(settings.repackable, 0);
    const WindowPlacement placement = LoadWindowPlacement();
    EXPECT_EQ(placement.x, 10);
    EXPECT_EQ(placement.y, 10);
    EXPECT_EQ(placement.cx, 500);
    EXPECT_EQ(placement.cy, 350);
    for (const SettingInfo& setting : AllSettings())
        ReadSettingText(setting);
    EXPECT_FALSE(FileExists(SettingsPath()));
    EXPECT_FALSE(FileExists(config + "/Corvane"));
}

TEST_F(SettingsTest, OptionsRoundTripUnderTheDescribedNames)
{
    CorvaneSettings settings;
    settings.outputPath = "/media/phone/my package.mrf";
    settings.scheduleOn = 1;
    settings.scheduleHour = 23;
    settings.scheduleMinute = 59;
    settings.podcastOn = 0;
    settings.podcastFormat = 0;
    settings.compression = 0;
    settings.volume = 7;
    settings.lengthLimitOn = 1;
    settings.lengthLimit = 4294967295u;
    settings.firstItemOnly = 1;
    settings.newest = 1000;
    settings.repackable = 1; // not one of the dialog's entries
    SaveOptions(settings);

    const CorvaneSettings read = LoadSettings();
    EXPECT_EQ(read.outputPath, settings.outputPath);
    EXPECT_EQ(read.scheduleOn, 1);
    EXPECT_EQ(read.scheduleHour, 23);
    EXPECT_EQ(read.scheduleMinute, 59);
    EXPECT_EQ(read.podcastOn, 0);
    EXPECT_EQ(read.podcastFormat, 0);
    EXPECT_EQ(read.compression, 0);
    EXPECT_EQ(read.volume, 7);
    EXPECT_EQ(read.lengthLimitOn, 1);
    EXPECT_EQ(read.lengthLimit, 4294967295u);
    EXPECT_EQ(read.firstItemOnly, 1);
    EXPECT_EQ(read.newest, 1000);
    EXPECT_EQ(read.repackable, 0);

    QSettings store = Store();
    EXPECT_EQ(store.value("Update/Hour").toInt(), 23);
    EXPECT_EQ(store.value("Podcast/Download First One Only").toInt(), 1);
    EXPECT_EQ(store.value("Podcast/Newest").toInt(), 1000);
    EXPECT_EQ(store.value("Podcast/Length").toULongLong(), 4294967295ull);
    EXPECT_FALSE(store.contains("Podcast/Repackable"));
    EXPECT_FALSE(store.contains("WinPos/x"));
    const std::string text = ReadWholeFile(SettingsPath());
    EXPECT_NE(text.find("[Podcast]"), std::string::npos);
    EXPECT_NE(text.find("[Update]"), std::string::npos);
    EXPECT_NE(text.find("[Path]"), std::string::npos);
}

TEST_F(SettingsTest, RepackableAndWindowPlacementAreStoredOnTheirOwn)
{
    StoreRepackable(1);
    EXPECT_EQ(LoadSettings().repackable, 1);
    QSettings store = Store();
    EXPECT_EQ(store.allKeys(), QStringList {"Podcast/Repackable"});

    SaveWindowPlacement({-40, 20, 800, 600});
    const WindowPlacement placement = LoadWindowPlacement();
    EXPECT_EQ(placement.x, -40);
    EXPECT_EQ(placement.cx, 800);
    EXPECT_EQ(placement.cy, 600);
}

TEST_F(SettingsTest, HandEditedValuesOutsideTheirRangeReadAsDefaults)
{
    {
        QSettings store = Store();
        store.setValue("Podcast/Compression", 12); // would index past the mode table
        store.setValue("Podcast/Volume", -1);
        store.setValue("Podcast/Length", 0);
        store.setValue("Podcast/MP3", 0); // valid: kept
    }
    const CorvaneSettings settings = LoadSettings();
    EXPECT_EQ(settings.compression, 7);
    EXPECT_EQ(settings.volume, 4);
    EXPECT_EQ(settings.lengthLimit, 1200u);
    EXPECT_EQ(settings.podcastFormat, 0);
    EXPECT_EQ(ReadSettingText(*FindSetting("Podcast/Compression")), "7");
}

// The number of newest episodes sizes how much a feed downloads: a hand-edited value outside 0 to
// 1000, or no number at all, reads as 0 (every episode, as before the entry existed) rather than
// as some other count nobody chose.
TEST_F(SettingsTest, NewestEpisodesEntryDefaultsRangeAndPlace)
{
    const SettingInfo* newest = FindSetting("Podcast/Newest");
    ASSERT_NE(newest, nullptr);
    EXPECT_EQ(newest->minimum, 0);
    EXPECT_EQ(newest->maximum, 1000);
    EXPECT_EQ(newest->group, SettingGroup::Options);
    EXPECT_EQ(ReadSettingText(*newest), "0");
    // Right after "Download First One Only", before "Any MP3 Type" and "Repackable".
    const auto& all = AllSettings();
    const auto at = static_cast<std::size_t>(newest - all.data());
    ASSERT_GT(at, 0u);
    EXPECT_STREQ(all[at - 1].entry, "Download First One Only");
    EXPECT_STREQ(all[at + 1].entry, "Any MP3 Type");
    EXPECT_STREQ(all[at + 2].entry, "Repackable");

    for (const auto& [stored, read] : std::vector<std::pair<QVariant, int>> {{QVariant(1), 1},
             {QVariant(1000), 1000}, {QVariant(0), 0}, {QVariant(1001), 0}, {QVariant(-1), 0},
             {QVariant("ten"), 0}, {QVariant(" 25 "), 25}}) {
        Store().setValue("Podcast/Newest", stored);
        EXPECT_EQ(LoadSettings().newest, read) << stored.toString().toStdString();
        EXPECT_EQ(ReadSettingText(*newest), std::to_string(read));
    }
    EXPECT_EQ(CheckSettingText(*newest, "1000"), "");
    EXPECT_EQ(CheckSettingText(*newest, "0"), "");
    EXPECT_EQ(CheckSettingText(*newest, "1001"),
        "bad value '1001' for Podcast/Newest: expected a whole number from 0 to 1000");
    EXPECT_NE(CheckSettingText(*newest, "-1"), "");
}

TEST_F(SettingsTest, AnyMp3TypeIsAnOptionsFlagOffByDefault)
{
    const SettingInfo* any = FindSetting("Podcast/Any MP3 Type");
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(any->group, SettingGroup::Options);
    EXPECT_EQ(ReadSettingText(*any), "0");
    EXPECT_EQ(LoadSettings().anyMp3Type, 0);
    CorvaneSettings settings = LoadSettings();
    settings.anyMp3Type = 1;
    ASSERT_TRUE(SaveOptions(settings));
    EXPECT_EQ(Store().value("Podcast/Any MP3 Type").toInt(), 1);
    EXPECT_EQ(LoadSettings().anyMp3Type, 1);
    Store().setValue("Podcast/Any MP3 Type", 7); // a flag: any nonzero number is on
    EXPECT_EQ(LoadSettings().anyMp3Type, 1);
    EXPECT_NE(CheckSettingText(*any, "2"), "");
}

// Zero is off and anything else is on, wherever these values are used; a hand-edited 2 must
// not silently turn the schedule or the length limit off.
TEST_F(SettingsTest, FlagsReadAnyNonzeroNumberAsOn)
{
    const struct {
        const char* entry;
        int stored;
        int CorvaneSettings::*member;
        int read;
    } flags[] = {
        {"Update/Scheduled", 2, &CorvaneSettings::scheduleOn, 1},
        {"Podcast/On", 0, &CorvaneSettings::podcastOn, 0},
        {"Podcast/MP3", -1, &CorvaneSettings::podcastFormat, 1},
        {"Podcast/Limit", 5, &CorvaneSettings::lengthLimitOn, 1},
        {"Podcast/Download First One Only", 255, &CorvaneSettings::firstItemOnly, 1},
        {"Podcast/Repackable", 7, &CorvaneSettings::repackable, 1},
    };
    for (const auto& flag : flags)
        Store().setValue(flag.entry, flag.stored);
    const CorvaneSettings settings = LoadSettings();
    for (const auto& flag : flags) {
        EXPECT_EQ(settings.*flag.member, flag.read) << flag.entry;
        EXPECT_EQ(ReadSettingText(*FindSetting(flag.entry)), std::to_string(flag.read));
    }

    // Not a number at all: the default, as for any other entry.
    Store().setValue("Update/Scheduled", "yes");
    EXPECT_EQ(LoadSettings().scheduleOn, 0);
}

// A default would start the scheduled update at 06:00, a time the user never set: the stored
// hour and minute are kept, so they never match the clock, and shown marked.
TEST_F(SettingsTest, ScheduleTimesOutsideTheDayAreKeptNotReplaced)
{
    {
        QSettings store = Store();
        store.setValue("Update/Hour", 25);
        store.setValue("Update/Minute", 60);
    }
    CorvaneSettings settings = LoadSettings();
    EXPECT_EQ(settings.scheduleHour, 25);
    EXPECT_EQ(settings.scheduleMinute, 60);
    EXPECT_EQ(ReadSettingText(*FindSetting("Update/Hour")),
        "25 (invalid: 0 to 23; the scheduled update never runs)");
    EXPECT_EQ(ReadSettingText(*FindSetting("Update/Minute")),
        "60 (invalid: 0 to 59; the scheduled update never runs)");

    Store().setValue("Update/Hour", "noon");
    EXPECT_EQ(LoadSettings().scheduleHour, -1);
    EXPECT_EQ(ReadSettingText(*FindSetting("Update/Hour")),
        "noon (invalid: 0 to 23; the scheduled update never runs)");
    Store().setValue("Update/Hour", -3);
    EXPECT_EQ(LoadSettings().scheduleHour, -3);
    Store().setValue("Update/Hour", 23);
    EXPECT_EQ(ReadSettingText(*FindSetting("Update/Hour")), "23");
}

// Each program folder of its own is a set-up of its own; the default one keeps the XDG file.
TEST_F(SettingsTest, EachProgramFolderHasItsOwnSettingsAndTheDefaultOneFollowsXdgConfigHome)
{
    StoreRepackable(1);
    EXPECT_EQ(SettingsFilePath(), home + "/Corvane.conf");
    ASSERT_TRUE(FileExists(SettingsPath()));
    {
        ScopedEnv otherHome("CORVANE_HOME", temp.File("other-home"));
        EXPECT_EQ(SettingsFilePath(), temp.File("other-home") + "/Corvane.conf");
        EXPECT_EQ(LoadSettings().repackable, 0);
    }
    EXPECT_EQ(LoadSettings().repackable, 1);

    const std::string other = temp.File("other-config");
    setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    for (const std::optional<std::string>& usual :
        {std::optional<std::string>(), std::optional(temp.File("data/Corvane"))}) {
        ScopedEnv defaultHome("CORVANE_HOME", usual);
        EXPECT_EQ(SettingsFilePath(), other + "/Corvane/Corvane.conf");
        EXPECT_EQ(LoadSettings().repackable, 0);
        setenv("XDG_CONFIG_HOME", "relative/path", 1); // not absolute: ignored
        EXPECT_EQ(SettingsFilePath(), temp.File("user/.config/Corvane/Corvane.conf"));
        setenv("XDG_CONFIG_HOME", other.c_str(), 1);
    }
}

TEST_F(SettingsTest, EntriesAreFoundByExactName)
{
    EXPECT_EQ(AllSettings().size(), 22u);
    const SettingInfo* length = FindSetting("Podcast/Length");
    ASSERT_NE(length, nullptr);
    EXPECT_EQ(length->minimum, 1);
    EXPECT_EQ(length->maximum, 4294967295LL);
    EXPECT_NE(FindSetting("Podcast/Download First One Only"), nullptr);
    EXPECT_EQ(FindSetting("podcast/length"), nullptr);
    EXPECT_EQ(FindSetting("Podcast"), nullptr);

    std::string error;
    EXPECT_TRUE(WriteSettingText(*FindSetting("Path/FeedFile"), "/tmp/x.mrf", error));
    EXPECT_EQ(LoadSettings().outputPath, "/tmp/x.mrf");

    // A settings file that cannot be written: the write says so, naming the file.
    BlockSettingsFile();
    EXPECT_FALSE(WriteSettingText(*FindSetting("Update/Hour"), "5", error));
    EXPECT_NE(error.find(SettingsPath()), std::string::npos);
}

TEST_F(SettingsTest, EveryRowHasAMemberAWriterAndAValueCheck)
{
    // Each row reads into and writes from its own member, with the default that member has.
    const CorvaneSettings defaults;
    CorvaneSettings changed;
    changed.outputPath = "/tmp/x.mrf";
    changed.scheduleMinute = 45;
    changed.lengthLimit = 99;
    SaveOptions(changed);
    const CorvaneSettings loaded = LoadSettings();
    EXPECT_EQ(loaded.scheduleMinute, 45);
    EXPECT_EQ(loaded.lengthLimit, 99u);
    EXPECT_EQ(loaded.scheduleHour, defaults.scheduleHour);
    EXPECT_EQ(Store().value("Podcast/Length").toString(), "99");
    EXPECT_FALSE(Store().contains("Podcast/Repackable"));
    EXPECT_FALSE(Store().contains("WinPos/x"));
    for (const SettingInfo& setting : AllSettings()) {
        const std::string name = std::string(setting.section) + "/" + setting.entry;
        EXPECT_TRUE(std::holds_alternative<int WindowPlacement::*>(setting.member)
            == (setting.group == SettingGroup::Window))
            << name;
        EXPECT_EQ(CheckSettingText(setting, ReadSettingText(setting)), "") << name;
    }

    EXPECT_EQ(CheckSettingText(*FindSetting("Update/Hour"), "+23"), "");
    EXPECT_EQ(CheckSettingText(*FindSetting("Update/Hour"), "24"),
        "bad value '24' for Update/Hour: expected a whole number from 0 to 23");
    EXPECT_NE(CheckSettingText(*FindSetting("Podcast/Length"), "0"), "");
    EXPECT_NE(CheckSettingText(*FindSetting("Podcast/Length"), " 5"), "");
    EXPECT_NE(CheckSettingText(*FindSetting("Podcast/Length"), ""), "");
    EXPECT_EQ(CheckSettingText(*FindSetting("Path/FeedFile"), ""),
        "bad value for Path/FeedFile: the path is empty");
}

TEST_F(SettingsTest, AFailedWriteIsReportedNamingTheFileAndTheReason)
{
    EXPECT_TRUE(SaveOptions(CorvaneSettings()).Ok());
    EXPECT_TRUE(StoreRepackable(1).Ok());
    EXPECT_TRUE(SaveWindowPlacement(WindowPlacement()).Ok());

    BlockSettingsFile();
    const std::string expected = "cannot write the settings file " + SettingsFilePath() + ": ";
    for (const Result<void>& written : {SaveOptions(CorvaneSettings()), StoreRepackable(0),
             SaveWindowPlacement(WindowPlacement())}) {
        EXPECT_FALSE(written.Ok());
        EXPECT_EQ(written.Error().rfind(expected, 0), 0u) << written.Error();
        EXPECT_GT(written.Error().size(), expected.size()) << written.Error();
    }
}

// A FIFO at the settings file would block the first read for good: it is refused, read as the
// defaults and never written; a regular file and a folder are not refused.
TEST_F(SettingsTest, AFifoAtTheSettingsFileIsRefusedWithoutWaiting)
{
    std::filesystem::create_directories(home);
    ASSERT_EQ(::mkfifo(SettingsPath().c_str(), 0600), 0);
    const std::string problem = SettingsFileProblem();
    EXPECT_EQ(problem,
        "cannot read the settings file " + SettingsPath() + ": not a regular file (a FIFO)");
    EXPECT_EQ(LoadSettings().scheduleHour, CorvaneSettings().scheduleHour);
    EXPECT_EQ(LoadWindowPlacement().cx, WindowPlacement().cx);
    const std::string expected
        = "cannot write the settings file " + SettingsPath() + ": not a regular file (a FIFO)";
    for (const Result<void>& written : {SaveOptions(CorvaneSettings()), StoreRepackable(1),
             SaveWindowPlacement(WindowPlacement())})
        EXPECT_EQ(written.Error(), expected);
    std::string error;
    EXPECT_FALSE(WriteSettingText(*FindSetting("Update/Hour"), "5", error));
    EXPECT_EQ(error, expected);

    std::filesystem::remove(SettingsPath());
    EXPECT_EQ(SettingsFileProblem(), "");
    EXPECT_TRUE(StoreRepackable(1));
    EXPECT_EQ(SettingsFileProblem(), "");
    BlockSettingsFile();
    EXPECT_EQ(SettingsFileProblem(), "");
}

} // namespace

// The connection total and the floor rate: shown and set like the others, but no dialog writes
// them, so saving the options leaves a file without them as it was.
TEST_F(SettingsTest, TuningEntriesAreReadWithDefaultsAndWrittenOnlyWhenSet)
{
    const struct {
        const char* name;
        int CorvaneSettings::*member;
        const char* defaultText;
        const char* highest;
        const char* tooHigh;
    } cases[] = {
        {"Update/Connections", &CorvaneSettings::connections, "64", "256", "257"},
        {"Update/Floor Rate", &CorvaneSettings::floorRate, "1024", "1048576", "1048577"},
    };
    for (const auto& c : cases) {
        const SettingInfo* setting = FindSetting(c.name);
        ASSERT_NE(setting, nullptr) << c.name;
        EXPECT_EQ(setting->group, SettingGroup::Tuning) << c.name;
        EXPECT_EQ(ReadSettingText(*setting), c.defaultText) << c.name;
        ASSERT_TRUE(SaveOptions(LoadSettings()));
        EXPECT_FALSE(Store().contains(QString::fromLatin1(c.name))) << c.name;

        EXPECT_EQ(CheckSettingText(*setting, c.highest), "") << c.name;
        EXPECT_NE(CheckSettingText(*setting, c.tooHigh), "") << c.name;
        std::string error;
        ASSERT_TRUE(WriteSettingText(*setting, "7", error)) << error;
        EXPECT_EQ(LoadSettings().*c.member, 7) << c.name;
        ASSERT_TRUE(SaveOptions(LoadSettings())); // kept as set
        EXPECT_EQ(Store().value(QString::fromLatin1(c.name)).toInt(), 7) << c.name;
        Store().setValue(QString::fromLatin1(c.name), c.tooHigh); // hand-edited
        EXPECT_EQ(ReadSettingText(*setting), c.defaultText) << c.name;
    }
}
