#include "update/ScheduleUnits.h"

#include "platform/Paths.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

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
    const std::string& programFolder, const std::string& configFolder,
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
    command += " update --quiet";
    for (const std::string& argument : updateArguments)
        command += " " + SystemdQuote(argument);
    units.service = "[Unit]\n"
                    "Description=Corvane update of the feeds for the phone\n"
                    "\n"
                    "[Service]\n"
                    "Type=oneshot\n";
    if (!configFolder.empty())
        units.service += "Environment=" + SystemdQuote("XDG_CONFIG_HOME=" + configFolder) + "\n";
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

std::string ScheduleHomeArgument()
{
    // The service runs in the user's home folder, where a relative --home would lead elsewhere.
    std::error_code ignored;
    const std::string folder
        = WithoutSlash(std::filesystem::absolute(ProgramFolderPath(), ignored).string());
    const std::string usual = WithoutSlash(HomeFolder()) + "/.local/share/Corvane";
    return folder == usual ? std::string() : folder;
}

std::string ScheduleConfigArgument()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (!config || config[0] != '/')
        return std::string();
    const std::string folder = WithoutSlash(config);
    return folder == WithoutSlash(HomeFolder()) + "/.config" ? std::string() : folder;
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
