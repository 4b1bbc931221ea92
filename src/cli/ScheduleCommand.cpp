// corvane-cli schedule on|off|status: the daily update as a systemd user timer, so that it runs
// without the desktop program; and the notification at the end of a headless update.
#include "cli/Commands.h"

#include "platform/AtomicFile.h"
#include "platform/ChildProcess.h"
#include "platform/DesktopNotification.h"
#include "platform/Settings.h"
#include "update/LastRun.h"
#include "update/ScheduleUnits.h"
#include "update/ScheduledUpdate.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace corvane {

static_assert(EXIT_DONE == RUN_DONE && EXIT_FAILED == RUN_NOT_WRITTEN
        && EXIT_PARTLY_FAILED == RUN_PARTLY_FAILED && EXIT_BUSY == RUN_FOLDER_BUSY
        && EXIT_INTERRUPTED == RUN_INTERRUPTED,
    "the last-update record keeps corvane-cli's exit statuses");

namespace {

const char* const scheduleDescription
    = "Runs the daily update without the desktop program, as a systemd user timer at the time\n"
      "of \"Update\"/\"Hour\" and \"Minute\" (set them with 'corvane-cli options Update/Hour=6').\n"
      "An update missed while the computer was off or asleep runs at its next start or wake.";

const char* const scheduleActions
    = "on: write corvane-update.timer and corvane-update.service into "
      "$XDG_CONFIG_HOME/systemd/user\n"
      "(default ~/.config/systemd/user), set \"Update\"/\"Scheduled\" to 1, and enable the timer\n"
      "with systemctl --user (or say which commands to run when systemctl is not there);\n"
      "(a failing systemctl step puts the files and \"Scheduled\" back as they were);\n"
      "off: disable the timer, remove both files, set \"Update\"/\"Scheduled\" to 0;\n"
      "status: the time, whether the timer is installed, enabled and active, the last update";

const char* const scheduleEpilogue
    = "While systemd has the timer enabled the desktop program's own schedule stands aside.\n"
      "Updates of one program folder never run at once: a second one waits a few seconds, then\n"
      "gives up with exit status 75.\n"
      "\n"
      "Without systemd, a crontab line (crontab -e) does the same at 06:00:\n"
      "  0 6 * * * /usr/bin/corvane-cli update --quiet\n"
      "\n"
      "A headless update notifies the desktop (org.freedesktop.Notifications on the session\n"
      "bus) when systemd runs it (INVOCATION_ID is set) or CORVANE_NOTIFY=1; CORVANE_NOTIFY=0\n"
      "never. A cron job needs DBUS_SESSION_BUS_ADDRESS and CORVANE_NOTIFY=1 for that.\n"
      "\n"
      "Exit status: 0 done, 1 a file or systemctl failed (the message says which, with\n"
      "systemctl's own output), 2 bad usage.\n";

// The absolute path of this corvane-cli, which the service runs: the timer must run the
// program the user chose, not whatever corvane-cli comes first on PATH.
std::string ThisProgram()
{
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.string();
}

std::string CommandText(const std::vector<std::string>& arguments)
{
    std::string text = "systemctl";
    for (const std::string& argument : arguments)
        text += " " + argument;
    return text;
}

// Runs systemctl with arguments; false after printing the command, its status and its output.
bool Systemctl(const std::string& systemctl, const std::vector<std::string>& arguments)
{
    const ChildRun run = RunChild(systemctl, arguments);
    if (run.started && run.exitStatus == 0)
        return true;
    std::string output = run.output;
    while (!output.empty() && output.back() == '\n')
        output.pop_back();
    PrintError("'" + CommandText(arguments) + "' failed"
        + (run.started
                ? (run.exitStatus < 0 ? std::string(" (killed)")
                                      : " with exit status " + std::to_string(run.exitStatus))
                : std::string())
        + (output.empty() ? std::string() : ":\n" + output));
    return false;
}

bool SetScheduled(int value)
{
    std::string error;
    if (WriteSettingText(*FindSetting("Update/Scheduled"), std::to_string(value), error))
        return true;
    PrintError(error);
    return false;
}

std::string TimeText(int hour, int minute)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d", hour, minute);
    return text;
}

// The stored hour and minute as the file holds them, for a time that is not valid.
std::string StoredScheduleTime()
{
    return "Update/Hour=" + ReadSettingText(*FindSetting("Update/Hour")) + ", Update/Minute="
        + ReadSettingText(*FindSetting("Update/Minute")) + " in " + SettingsFilePath();
}

bool WriteUnit(const std::string& path, const std::string& text)
{
    std::string error;
    if (WriteFileAtomically(path, text, error))
        return true;
    PrintError(error);
    return false;
}

const std::vector<std::string> kEnable {"--user", "enable", "--now", SCHEDULE_TIMER_NAME};
const std::vector<std::string> kDisable {"--user", "disable", "--now", SCHEDULE_TIMER_NAME};
const std::vector<std::string> kReload {"--user", "daemon-reload"};

// What "schedule on" changes, as it was before, so that a failed step can put it back: the
// user is never left with units that systemd does not run and a schedule that stands aside.
class ScheduleOnUndo {
public:
    ScheduleOnUndo()
        : scheduled(LoadSettings().scheduleOn)
        , wasInstalled(ScheduleTimerInstalled())
    {
        for (const std::string& path : {ScheduleServicePath(), ScheduleTimerPath()})
            units.push_back({path, ReadUnit(path)});
    }

    // Puts the unit files and "Scheduled" back and lets systemd forget what it read meanwhile.
    void Restore(const std::string& systemctl) const
    {
        // An enable that failed half-way may have linked the timer into timers.target.
        if (!systemctl.empty() && !wasInstalled)
            RunChild(systemctl, kDisable, std::chrono::seconds(10));
        for (const auto& [path, text] : units) {
            std::string ignored;
            if (text)
                WriteFileAtomically(path, *text, ignored);
            else
                ::unlink(path.c_str());
        }
        if (!systemctl.empty())
            RunChild(systemctl, kReload, std::chrono::seconds(10));
        std::string error;
        WriteSettingText(*FindSetting("Update/Scheduled"), std::to_string(scheduled), error);
        PrintError(error.empty() ? "the schedule was left as it was"
                                 : "the unit files were put back, but " + error);
    }

private:
    static std::optional<std::string> ReadUnit(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        if (!in)
            return std::nullopt;
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    int scheduled;
    bool wasInstalled;
    std::vector<std::pair<std::string, std::optional<std::string>>> units;
};

} // namespace

int ScheduleOn(const std::vector<std::string>& updateArguments)
{
    const CorvaneSettings settings = LoadSettings();
    if (!ScheduleTimeValid(settings.scheduleHour, settings.scheduleMinute)) {
        PrintError("the time of the schedule is not valid (" + StoredScheduleTime()
            + "); set it with 'corvane-cli options Update/Hour=6 Update/Minute=0'");
        return EXIT_FAILED;
    }
    const std::string program = ThisProgram();
    if (program.empty()) {
        PrintError("cannot find the path of this program (/proc/self/exe); nothing was written");
        return EXIT_FAILED;
    }
    const ScheduleUnitTexts units
        = MakeScheduleUnits(settings.scheduleHour, settings.scheduleMinute, program,
            ScheduleHomeArgument(), ScheduleEnvironment(), updateArguments);
    std::error_code made;
    std::filesystem::create_directories(SystemdUserUnitFolder(), made);
    if (made) {
        PrintError("cannot create the folder " + SystemdUserUnitFolder() + ": " + made.message());
        return EXIT_FAILED;
    }
    const ScheduleOnUndo undo;
    const std::string systemctl = FindOnPath("systemctl");
    if (!WriteUnit(ScheduleServicePath(), units.service)
        || !WriteUnit(ScheduleTimerPath(), units.timer) || !SetScheduled(1)) {
        undo.Restore(std::string());
        return EXIT_FAILED;
    }
    if (!systemctl.empty() && (!Systemctl(systemctl, kReload) || !Systemctl(systemctl, kEnable))) {
        undo.Restore(systemctl);
        return EXIT_FAILED;
    }
    std::printf("The daily update runs at %s: wrote %s and %s.\n",
        TimeText(settings.scheduleHour, settings.scheduleMinute).c_str(),
        ScheduleTimerPath().c_str(), ScheduleServicePath().c_str());
    if (systemctl.empty())
        std::printf("systemctl was not found. To start the timer, run:\n  %s\n  %s\n",
            CommandText(kReload).c_str(), CommandText(kEnable).c_str());
    else
        std::printf("The timer is enabled.\n");
    return EXIT_DONE;
}

int ScheduleOff()
{
    const std::string systemctl = FindOnPath("systemctl");
    const bool installed = ScheduleTimerInstalled();
    // A failed disable must not keep the files: the timer would come back at the next login.
    bool systemdOk = systemctl.empty() || !installed || Systemctl(systemctl, kDisable);
    bool removed = true;
    for (const std::string& path : {ScheduleTimerPath(), ScheduleServicePath()}) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            PrintError("cannot remove " + path + ": " + std::strerror(errno));
            removed = false;
        }
    }
    if (!systemctl.empty() && installed)
        systemdOk = Systemctl(systemctl, kReload) && systemdOk;
    if (!SetScheduled(0) || !removed || !systemdOk)
        return EXIT_FAILED;
    std::printf(installed ? "The daily update timer was removed.\n"
                          : "No daily update timer was installed.\n");
    if (installed && systemctl.empty())
        std::printf("systemctl was not found. If the timer was running, run:\n  %s\n  %s\n",
            CommandText(kDisable).c_str(), CommandText(kReload).c_str());
    return EXIT_DONE;
}

int ScheduleStatus()
{
    const CorvaneSettings settings = LoadSettings();
    // "-1:-7" would read as a time; the stored values say what is wrong.
    const std::string time = ScheduleTimeValid(settings.scheduleHour, settings.scheduleMinute)
        ? TimeText(settings.scheduleHour, settings.scheduleMinute)
        : "not valid (" + StoredScheduleTime() + ")";
    std::printf(
        "Update time: %s (\"Update\"/\"Scheduled\" is %d)\n", time.c_str(), settings.scheduleOn);
    const ScheduleTimerState timer = QueryScheduleTimer();
    std::printf("Timer: %s %s\n", timer.installed ? "installed at" : "not installed at",
        ScheduleTimerPath().c_str());
    if (timer.installed) {
        const bool known = !FindOnPath("systemctl").empty();
        const char* enabled = !known ? "unknown (systemctl was not found)"
            : !timer.enabled         ? "unknown (systemctl gave no answer)"
            : *timer.enabled         ? "yes"
                                     : "no (the desktop program's own schedule runs instead)";
        std::printf("Enabled: %s\nActive: %s\n", enabled,
            timer.active.empty() ? "unknown" : timer.active.c_str());
    }
    std::string error;
    if (const std::optional<LastRun> last = ReadLastRun(&error))
        std::fputs(LastRunText(*last).c_str(), stdout);
    else if (error.empty())
        std::printf("Last run: none recorded\n");
    else
        std::printf("Last run: unknown (%s)\n", error.c_str());
    return EXIT_DONE;
}

void NotifyHeadlessRun(const UpdateJobResult& result, const std::string& packagePath)
{
    if (!HeadlessRunNotifies(std::getenv("CORVANE_NOTIFY"), std::getenv("INVOCATION_ID")))
        return;
    const UpdateNotice notice = UpdateNoticeOf(result, packagePath);
    DesktopNotification notification;
    notification.summary = notice.summary;
    notification.body = notice.body;
    std::string error;
    // No bus (a console login, cron) is no failure of the update: the exit status tells.
    if (!SendDesktopNotification(notification, error) && std::getenv("CORVANE_NOTIFY"))
        PrintError("no desktop notification: " + error);
}

int RunSchedule(CommandLine& arguments)
{
    arguments.Describe(scheduleDescription);
    arguments.Positional("ACTION", scheduleActions);
    arguments.CountError("schedule needs one of on, off or status");
    arguments.Option("sync", "TARGET",
        "on: the daily update also syncs its episodes onto TARGET (update --sync)");
    arguments.Epilogue(scheduleEpilogue);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const std::vector<std::string> rest = arguments.Positionals();
    const std::optional<std::string> syncTarget = arguments.Value("sync");
    if (syncTarget && rest.front() != "on")
        return arguments.UsageError("--sync goes with 'schedule on'");
    if (rest.front() == "on")
        return ScheduleOn(syncTarget ? std::vector<std::string> {"--sync", *syncTarget}
                                     : std::vector<std::string>());
    if (rest.front() == "off")
        return ScheduleOff();
    if (rest.front() == "status")
        return ScheduleStatus();
    return arguments.UsageError(
        "unknown schedule action '" + rest.front() + "': expected on, off or status");
}

} // namespace corvane
