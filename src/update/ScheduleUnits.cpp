#include "update/ScheduleUnits.h"

#include "platform/ChildProcess.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace corvane {

namespace {

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::string WithoutSlash(std::string folder)
{
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string TwoDigits(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

bool IsPlain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || std::string_view("/._-+=:,@").find(c) != std::string_view::npos;
}

std::string EscapeInQuotes(char c)
{
    switch (c) {
    case '\\':
        return "\\\\";
    case '"':
        return "\\\"";
    case '\n':
        return "\\n";
    case '\t':
        return "\\t";
    default:
        break;
    }
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
        char text[8];
        std::snprintf(text, sizeof text, "\\x%02x", static_cast<unsigned char>(c));
        return text;
    }
    return std::string(1, c);
}

} // namespace

std::string SystemdQuote(const std::string& word)
{
    bool plain = !word.empty();
    std::string quoted;
    for (char c : word) {
        plain = plain && (IsPlain(c) || c == '%' || c == '$');
        if (c == '%')
            quoted += "%%";
        else if (c == '$')
            quoted += "$$";
        else
            quoted += EscapeInQuotes(c);
    }
    return plain ? quoted : "\"" + quoted + "\"";
}

ScheduleUnitTexts MakeScheduleUnits(int hour, int minute, const std::string& cliPath,
    const std::string& programFolder, const std::vector<std::string>& environment,
    const std::vector<std::string>& updateArguments)
{
    ScheduleUnitTexts units;
    units.timer = "[Unit]\n"
                  "Description=Daily Corvane update of the feeds for the phone\n"
                  "\n"
                  "[Timer]\n"
                  "OnCalendar=*-*-* "
        + TwoDigits(hour) + ":" + TwoDigits(minute)
        + ":00\n"
          "Persistent=true\n"
          "Unit="
        + SCHEDULE_SERVICE_NAME
        + "\n"
          "\n"
          "[Install]\n"
          "WantedBy=timers.target\n";

    std::string command = SystemdQuote(cliPath);
    if (!programFolder.empty())
        command += " --home " + SystemdQuote(WithoutSlash(programFolder));
    command += " update --quiet --wait-for-network";
    for (const std::string& argument : updateArguments)
        command += " " + SystemdQuote(argument);
    // A laptop that wakes at the set time starts the timer before its network is up.
    units.service = "[Unit]\n"
                    "Description=Corvane update of the feeds for the phone\n"
                    "Wants=network-online.target\n"
                    "After=network-online.target\n"
                    "\n"
                    "[Service]\n"
                    "Type=oneshot\n";
    for (const std::string& assignment : environment)
        units.service += "Environment=" + SystemdQuote(assignment) + "\n";
    units.service += "ExecStart=" + command + "\n";
    return units;
}

std::string SystemdUserUnitFolder()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base = config && config[0] == '/' ? WithoutSlash(config)
                                                        : WithoutSlash(HomeFolder()) + "/.config";
    return base + "/systemd/user/";
}

std::string ScheduleTimerPath()
{
    return SystemdUserUnitFolder() + SCHEDULE_TIMER_NAME;
}

std::string ScheduleServicePath()
{
    return SystemdUserUnitFolder() + SCHEDULE_SERVICE_NAME;
}

bool ScheduleTimerInstalled()
{
    struct stat status { };
    return ::stat(ScheduleTimerPath().c_str(), &status) == 0;
}

namespace {

// systemctl's one-word answer to a question about the timer; empty when there is none.
std::string AskSystemctl(const std::string& systemctl, const char* question)
{
    const ChildRun run
        = RunChild(systemctl, {"--user", question, SCHEDULE_TIMER_NAME}, std::chrono::seconds(5));
    const std::string& output = run.output;
    const std::size_t end = output.find_first_of(" \n");
    const std::string word = output.substr(0, end);
    // An error text ("Failed to connect to bus") is no answer.
    const bool oneWord = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || c == '-';
    });
    return run.started && oneWord && output.find_first_not_of(" \n", end) == std::string::npos
        ? word
        : std::string();
}

std::optional<bool> AskEnabled(const std::string& systemctl)
{
    const std::string answer = AskSystemctl(systemctl, "is-enabled");
    if (answer.empty())
        return std::nullopt;
    return answer == "enabled" || answer == "enabled-runtime";
}

} // namespace

ScheduleTimerState QueryScheduleTimer()
{
    ScheduleTimerState state;
    state.installed = ScheduleTimerInstalled();
    const std::string systemctl = FindOnPath("systemctl");
    if (!state.installed || systemctl.empty())
        return state;
    state.enabled = AskEnabled(systemctl);
    state.active = AskSystemctl(systemctl, "is-active");
    return state;
}

bool ScheduleTimerEnabled()
{
    if (!ScheduleTimerInstalled())
        return false;
    const std::string systemctl = FindOnPath("systemctl");
    return !systemctl.empty() && AskEnabled(systemctl).value_or(false);
}

std::string ScheduleHomeArgument()
{
    if (!IsOwnProgramFolder())
        return std::string();
    // The service runs in the user's home folder, where a relative --home would lead elsewhere.
    std::error_code ignored;
    return WithoutSlash(std::filesystem::absolute(ProgramFolderPath(), ignored).string());
}

std::vector<std::string> ScheduleEnvironment()
{
    // systemd's user manager need not have the session's XDG folders, and the default program
    // folder and its settings file are found through them.
    std::vector<std::string> environment;
    const auto passOn = [&](const char* name, const std::string& usual) {
        const char* value = std::getenv(name);
        if (value && value[0] == '/' && WithoutSlash(value) != usual)
            environment.push_back(std::string(name) + "=" + WithoutSlash(value));
    };
    passOn("XDG_CONFIG_HOME", WithoutSlash(HomeFolder()) + "/.config");
    if (!IsOwnProgramFolder())
        passOn("XDG_DATA_HOME", WithoutSlash(HomeFolder()) + "/.local/share");
    return environment;
}

std::string ScheduleCronLine(int hour, int minute, const std::string& cliPath)
{
    // cron hands the line to the shell, and a "%" in it ends the command.
    std::string word;
    bool plain = !cliPath.empty();
    for (char c : cliPath) {
        plain = plain && IsPlain(c);
        if (c == '\'')
            word += "'\\''";
        else if (c == '%')
            word += "'\\%'";
        else
            word += c;
    }
    if (!plain)
        word = "'" + word + "'";
    return std::to_string(minute) + " " + std::to_string(hour) + " * * * " + word
        + " update --quiet";
}

} // namespace corvane
