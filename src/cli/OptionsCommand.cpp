// corvane-cli options: shows or sets the entries of the settings store.
#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "platform/Settings.h"

#include <QJsonObject>

#include <climits>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

namespace {

std::string Name(const SettingInfo& setting)
{
    return std::string(setting.section) + "/" + setting.entry;
}

void Show(const SettingInfo& setting)
{
    std::printf("%s=%s\n", Name(setting).c_str(), ReadSettingText(setting).c_str());
}

// Every setting as {"SECTION/ENTRY": value}: a number for an integer setting, else a string.
void ShowAllAsJson()
{
    QJsonObject object;
    for (const SettingInfo& setting : AllSettings()) {
        const std::string text = ReadSettingText(setting);
        const std::optional<long long> number
            = setting.isText ? std::nullopt : ParseInteger(text, LLONG_MIN, LLONG_MAX);
        object.insert(JsonText(Name(setting)),
            number ? QJsonValue(static_cast<qint64>(*number)) : QJsonValue(JsonText(text)));
    }
    PrintJson(object);
}

} // namespace

int RunOptions(CommandLine& arguments)
{
    arguments.Describe(
        "Without arguments shows every setting; SECTION/ENTRY shows one; SECTION/ENTRY=VALUE sets\n"
        "it (for example Podcast/MP3=0). Entry names are those of the settings file, spaces and\n"
        "capitals included (\"Podcast/Download First One Only=1\"). Nothing is written unless "
        "every\n"
        "value given is valid.");
    arguments.MoreOf("SECTION/ENTRY[=VALUE]", "a setting to show, or to set to VALUE");
    arguments.Flag("json",
        "show every setting as one JSON object {\"SECTION/ENTRY\": value, ...} (numbers as\n"
        "numbers); only without arguments");
    // Scripts give --quiet to every command that sets something; setting prints nothing here
    // anyway, and what is asked to be shown is the answer, not chatter, so it still shows.
    arguments.Flag("quiet",
        "print nothing but failures (setting prints nothing else; a SECTION/ENTRY asked for is\n"
        "still shown)");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const std::vector<std::string>& positionals = arguments.Positionals();
    if (arguments.Has("json")) {
        if (!positionals.empty())
            return arguments.UsageError("--json shows every setting and takes no SECTION/ENTRY");
        ShowAllAsJson();
        return EXIT_DONE;
    }
    if (positionals.empty()) {
        for (const SettingInfo& setting : AllSettings())
            Show(setting);
        return EXIT_DONE;
    }

    // Everything is checked before anything is written.
    std::vector<const SettingInfo*> shown;
    std::vector<std::pair<const SettingInfo*, std::string>> changes;
    for (const std::string& argument : positionals) {
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const SettingInfo* setting = FindSetting(name);
        if (!setting) {
            PrintError("unknown setting '" + name
                + "' (run 'corvane-cli options' to see every SECTION/ENTRY)");
            return EXIT_USAGE;
        }
        if (equals == std::string::npos) {
            shown.push_back(setting);
            continue;
        }
        const std::string value = argument.substr(equals + 1);
        if (const std::string reason = CheckSettingText(*setting, value); !reason.empty()) {
            PrintError(reason);
            return EXIT_USAGE;
        }
        changes.emplace_back(setting, value);
    }

    for (const auto& [setting, value] : changes) {
        std::string error;
        if (!WriteSettingText(*setting, value, error)) {
            PrintError(error);
            return EXIT_FAILED;
        }
    }
    for (const SettingInfo* setting : shown)
        Show(*setting);
    return EXIT_DONE;
}

} // namespace corvane
