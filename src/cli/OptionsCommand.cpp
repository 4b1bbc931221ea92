// corvane-cli options: shows or sets the entries of the settings store.
#include "cli/Commands.h"

#include "platform/Settings.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace corvane {

namespace {

const char* kOptionsUsage
    = "usage: corvane-cli options [SECTION/ENTRY[=VALUE]]...\n"
      "Without arguments shows every setting; SECTION/ENTRY shows one; SECTION/ENTRY=VALUE sets\n"
      "it (for example Podcast/MP3=0). Entry names are those of the settings file, spaces and\n"
      "capitals included (\"Podcast/Download First One Only=1\"). Nothing is written unless every\n"
      "value given is valid.\n";

std::string Name(const SettingInfo& setting)
{
    return std::string(setting.section) + "/" + setting.entry;
}

void Show(const SettingInfo& setting)
{
    std::printf("%s=%s\n", Name(setting).c_str(), ReadSettingText(setting).c_str());
}

} // namespace

int RunOptions(CommandArguments& arguments)
{
    const std::vector<std::string> positionals = arguments.Positionals();
    if (arguments.WantsHelp()) {
        std::printf("%s", kOptionsUsage);
        return EXIT_DONE;
    }
    if (!arguments.UsageError().empty()) {
        PrintError(arguments.UsageError());
        std::fprintf(stderr, "%s", kOptionsUsage);
        return EXIT_USAGE;
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
