// The settings store: QSettings in INI format, per user, at
// SettingsFilePath() (below), sections "Path", "Update", "Podcast" and "WinPos".
// Reading an absent value gives its default without writing it. A stored integer that is not a
// number or lies outside its range reads as its entry's OutOfRangeRead says. Part of the core
// (QtCore only). Thread: any; each call opens its own QSettings.
#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace corvane {

// The settings that the tree view keeps as members while the program runs.
struct CorvaneSettings {
    std::string outputPath; // "Path"/"FeedFile": documents folder + "/corvane.mrf"
    int scheduleOn = 0; // "Update"/"Scheduled"
    int scheduleHour = 6; // "Update"/"Hour", 0..23; outside: the schedule never runs
    int scheduleMinute = 0; // "Update"/"Minute", 0..59; outside: the schedule never runs
    int prune = 0; // "Update"/"Prune": 1 removes unneeded cache files after each full update
    int catchUp = 0; // "Update"/"Catch Up": 1 runs a scheduled update missed while off or asleep
    int podcastOn = 1; // "Podcast"/"On"
    int podcastFormat = 1; // "Podcast"/"MP3": 0 original MP3, 1 re-compressed AMR
    int compression = 7; // "Podcast"/"Compression", 0..7
    int volume = 4; // "Podcast"/"Volume", 0..7
    int lengthLimitOn = 0; // "Podcast"/"Limit"
    std::uint32_t lengthLimit = 1200; // "Podcast"/"Length", seconds, 1..4294967295
    int firstItemOnly = 0; // "Podcast"/"Download First One Only"
    int newest = 0; // "Podcast"/"Newest": 0 every episode, 1..1000 that many newest per feed
    int anyMp3Type = 0; // "Podcast"/"Any MP3 Type": 1 also takes audio/mp3 and its other names
    int repackable = 0; // "Podcast"/"Repackable"
    // "Update"/"Connections": downloads at once in a job, all hosts together (at most 6 from one
    // host). 64 lets a tree of feeds on many hosts go out together while the descriptors (up to
    // six per download worker) stay far below the usual limit of 1024 and the memory (a 256 KiB
    // receive buffer per download) near 16 MB; BoundedConnections lowers it where the limit is
    // smaller.
    int connections = 64;
    // "Update"/"Floor Rate": bytes per second below which a transfer that lasts the stall
    // time-out (60 s) fails as transient, its partial kept. 0: only a transfer that stalls
    // entirely fails (under 1 byte/s).
    int floorRate = 1024;
};

struct WindowPlacement {
    int x = 10, y = 10, cx = 500, cy = 350; // "WinPos"/"x", "y", "cx", "cy"
};

// Empty unless a FIFO, a device or a socket stands at the settings file, which opening would
// block on for ever; then why it is refused, naming it: "cannot read the settings file <path>:
// not a regular file (a FIFO)". A refused file is neither read (LoadSettings gives the
// defaults) nor written (every writer fails, "cannot write the settings file <path>: ...").
std::string SettingsFileProblem();

// Reads every setting of the view in the described order, with defaults for absent values.
CorvaneSettings LoadSettings();

// Each writer below stores its entries at once and fails when the settings file cannot be
// written: "cannot write the settings file <path>: <reason>".

// Writes the entries of the Options dialog group in their order (all but "Repackable" and the
// window's).
Result<void> SaveOptions(const CorvaneSettings& settings);

// Writes "Podcast"/"Repackable".
Result<void> StoreRepackable(int value);

WindowPlacement LoadWindowPlacement();
Result<void> SaveWindowPlacement(const WindowPlacement& placement);

// The default package path: QStandardPaths' documents folder followed by "/corvane.mrf".
std::string DefaultOutputPath();

// The settings file: "Corvane.conf" in the program folder when CORVANE_HOME names a folder of
// its own (IsOwnProgramFolder), else $XDG_CONFIG_HOME (when set and absolute, else ~/.config)
// followed by "/Corvane/Corvane.conf". Read anew at each call, so a changed environment is
// honoured. A missing file reads as the defaults.
std::string SettingsFilePath();

// What a stored integer reads as when it is not a number or lies outside its range.
enum class OutOfRangeRead {
    Default, // its default: a hand-edited file must not put the job or the window out of bounds
    On, // a 0/1 flag: any other number is on (1), as zero and nonzero are everywhere else
    Invalid, // an hour or minute of the schedule: kept as stored (not a number: -1), so it
             // never matches the clock; a default would start the update at a time nobody set
};

// Which of the store's writers writes an entry: SaveOptions, StoreRepackable,
// SaveWindowPlacement, or none but WriteSettingText.
// Tuning: entries the dialogs do not show, written only by the options command, so that a user
// who never sets one has no such line in the file.
enum class SettingGroup { Options, Repackable, Window, Tuning };

// The member that holds an entry while the program runs. Its initializer in CorvaneSettings or
// WindowPlacement is the entry's default; a text entry ("Path"/"FeedFile") defaults to
// DefaultOutputPath() instead, since the documents folder is only known at run time.
using SettingMember = std::variant<std::string CorvaneSettings::*, int CorvaneSettings::*,
    std::uint32_t CorvaneSettings::*, int WindowPlacement::*>;

// One entry of the store. The table of these is the one home of every entry: loading, saving,
// defaults, validation and the command-line "options" command all read it, so a new setting is
// one row (and its member).
struct SettingInfo {
    const char* section;
    const char* entry;
    bool isText; // a string ("Path"/"FeedFile"); else an integer
    long long minimum; // the accepted range of an integer entry
    long long maximum;
    OutOfRangeRead outOfRange;
    SettingGroup group;
    SettingMember member;
};

// Every entry, section by section in the described order.
const std::vector<SettingInfo>& AllSettings();
// The entry "SECTION/ENTRY" (exact names), or null.
const SettingInfo* FindSetting(const std::string& sectionSlashEntry);
// The value as LoadSettings reads it, as text: the default when absent. An integer kept although
// outside its range (OutOfRangeRead::Invalid) is shown as stored and marked, for example
// "25 (invalid: 0 to 23; the scheduled update never runs)". Writes nothing.
std::string ReadSettingText(const SettingInfo& setting);
// Empty when value may be stored in setting; else why not, naming the entry, for example
// "bad value '24' for Update/Hour: expected a whole number from 0 to 23".
std::string CheckSettingText(const SettingInfo& setting, const std::string& value);
// Stores value (already checked with CheckSettingText); false with a reason naming the
// settings file when the store could not be written.
bool WriteSettingText(const SettingInfo& setting, const std::string& value, std::string& error);

} // namespace corvane
