// corvane-cli: the headless face of Corvane, over the same files and settings as the desktop
// program.
#include "cli/CliSupport.h"
#include "cli/Commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace corvane;

namespace {

struct Command {
    const char* name;
    CommandFunction run;
    const char* summary;
};

// Every command of the program, in the order --help lists them.
const Command commands[] = {
    {"help", nullptr, "help                        show this text"},
    {"list", RunList, "list                        show the subscription tree"},
    {"add", RunAdd, "add URL [--title T] [--group G]  add a feed"},
    {"remove", RunRemove, "remove TITLE-OR-URL         remove a group or feed"},
    {"undo", RunUndo, "undo                        undo the last change to the subscriptions"},
    {"import", RunImport,
        "import FILE [--yes]         replace the subscriptions with an OPML file"},
    {"export", RunExport, "export FILE                 write the subscriptions as OPML"},
    {"options", RunOptions, "options [SECTION/ENTRY[=VALUE]]...  show or set settings"},
    {"update", RunUpdateCommand,
        "update [--feed URL]... [--marked TITLE]... [--output PATH] [--connections N]  update "
        "feeds, write the package"},
    {"repack", RunRepackCommand,
        "repack [--output PATH]      write the package again from the cache"},
    {"clean", RunClean,
        "clean [--dry-run]           remove cache files that no feed needs any more"},
    {"schedule", RunSchedule,
        "schedule on|off|status      run the daily update as a systemd user timer"},
    {"fetch", RunFetch, "fetch URL FILE              download URL into FILE as an update does"},
    {"feed", RunFeed, "feed PATH-OR-URL [--json]   read a feed document and show its items"},
    {"inspect", RunInspect, "inspect PACKAGE [--json]    show the head and records of a package"},
    {"extract", RunExtract, "extract PACKAGE DIR         write a package's records into DIR"},
    {"convert", RunConvert, "convert IN.mp3 OUT.amr      MP3 audio to AMR-NB for the phone"},
};

void PrintUsage(std::FILE* out)
{
    std::fprintf(out, "usage: corvane-cli [--home DIR] COMMAND [ARGUMENTS]\n\ncommands:\n");
    for (const Command& command : commands)
        std::fprintf(out, "  %s\n", command.summary);
    std::fprintf(out,
        "\n--home DIR sets the program folder (default $CORVANE_HOME, else "
        "$XDG_DATA_HOME/Corvane).\n'corvane-cli COMMAND --help' describes a "
        "command.\n");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);

    // Global options stand before the command's name.
    while (!arguments.empty() && arguments.front().rfind("--home", 0) == 0) {
        std::string home;
        if (arguments.front() == "--home") {
            if (arguments.size() < 2) {
                PrintError("--home needs a folder");
                return EXIT_USAGE;
            }
            home = arguments[1];
            arguments.erase(arguments.begin(), arguments.begin() + 2);
        } else if (arguments.front().rfind("--home=", 0) == 0) {
            home = arguments.front().substr(7);
            arguments.erase(arguments.begin());
        } else {
            break;
        }
        setenv("CORVANE_HOME", home.c_str(), 1);
    }

    if (arguments.empty() || arguments.front() == "--help" || arguments.front() == "-h"
        || arguments.front() == "help") {
        PrintUsage(arguments.empty() ? stderr : stdout);
        return arguments.empty() ? EXIT_USAGE : EXIT_DONE;
    }

    const std::string name = arguments.front();
    arguments.erase(arguments.begin());
    for (const Command& command : commands) {
        if (name == command.name && command.run) {
            CommandArguments commandArguments(std::move(arguments));
            return command.run(commandArguments);
        }
    }
    PrintError("unknown command '" + name + "'");
    PrintUsage(stderr);
    return EXIT_USAGE;
}
