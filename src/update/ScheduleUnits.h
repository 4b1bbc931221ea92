// The systemd user timer and service that run `corvane-cli update` once a day without the
// desktop program: their texts (pure functions, so that they are tested without systemd) and
// where they go.
//
// The timer fires at "Update"/"Hour" and "Minute" every day; Persistent=true makes systemd run
// an update that was missed while the computer slept or was off at its next start or wake. The
// service runs this very corvane-cli by its absolute path, with --home when the program folder
// is not the one a plain login session would get, so that the timer updates the same folder as
// the command that installed it.
// Thread: any.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace corvane {

inline constexpr const char* SCHEDULE_TIMER_NAME = "corvane-update.timer";
inline constexpr const char* SCHEDULE_SERVICE_NAME = "corvane-update.service";

struct ScheduleUnitTexts {
    std::string timer;
    std::string service;
};

// The two unit files for an update at hour:minute (0..23, 0..59) by the program at cliPath (an
// absolute path). programFolder empty: the default program folder, no --home. environment:
// "NAME=value" assignments for the service (ScheduleEnvironment), so that the timer's update
// finds the same program folder and settings file. updateArguments follow "update --quiet
// --wait-for-network" on the service's command line, each a word of its own ("--sync", a
// target). The service waits for network-online.target.
ScheduleUnitTexts MakeScheduleUnits(int hour, int minute, const std::string& cliPath,
    const std::string& programFolder, const std::vector<std::string>& environment,
    const std::vector<std::string>& updateArguments = {});

// One word of an ExecStart= or Environment= line as systemd reads it back: unchanged when it
// holds only plain characters, else in double quotes with backslash, quote and control
// characters escaped; "%" is doubled (specifiers) and "$" doubled (variable expansion) always.
std::string SystemdQuote(const std::string& word);

// Where user units go: $XDG_CONFIG_HOME (when set and absolute, else ~/.config) followed by
// "/systemd/user/".
std::string SystemdUserUnitFolder();
std::string ScheduleTimerPath(); // SystemdUserUnitFolder() + SCHEDULE_TIMER_NAME
std::string ScheduleServicePath(); // SystemdUserUnitFolder() + SCHEDULE_SERVICE_NAME

// True when the timer file is there.
bool ScheduleTimerInstalled();

// What systemd says of the timer: three different things, since a file may be there while the
// user's systemd never loaded it (no session bus) or the timer was disabled by hand.
struct ScheduleTimerState {
    bool installed = false; // ScheduleTimerInstalled()
    std::optional<bool> enabled; // systemctl --user is-enabled; none: no systemctl or no answer
    std::string active; // systemctl --user is-active's word ("active", "inactive"); "" unknown
};
// Asks systemctl (found on PATH, a few seconds at most for each question) only when the file is
// there.
ScheduleTimerState QueryScheduleTimer();

// True when the timer file is there and systemd reports the timer enabled: only then does the
// systemd timer run the daily update, and the desktop program's own schedule stands aside.
bool ScheduleTimerEnabled();

// The program folder to name with --home in the service: empty unless CORVANE_HOME names a
// folder of its own (IsOwnProgramFolder), else that folder, absolute.
std::string ScheduleHomeArgument();
// The XDG folders to pass on to the service: XDG_CONFIG_HOME, and XDG_DATA_HOME for the default
// program folder, each when set, absolute and not the usual ~/.config or ~/.local/share.
std::vector<std::string> ScheduleEnvironment();

// A crontab line that does what the timer does (for systems without a user systemd): at
// hour:minute every day, cliPath update --quiet.
std::string ScheduleCronLine(int hour, int minute, const std::string& cliPath);

} // namespace corvane
