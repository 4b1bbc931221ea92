// corvane-cli: the headless face of Corvane, over the same files and settings as the desktop
// program.
#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "platform/Installation.h"
#include "platform/Paths.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

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
    {"list", RunList, "list [--json]               show the subscription tree"},
    {"add", RunAdd, "add URL [--title T] [--group G]  add a feed"},
    {"remove", RunRemove, "remove TITLE-OR-URL         remove a group or feed"},
    {"undo", RunUndo, "undo                        undo the last change to the subscriptions"},
    {"import", RunImport,
        "import FILE [--yes] | --merge FILE  replace the subscriptions with an OPML file, or add "
        "its new feeds"},
    {"export", RunExport, "export [--format opml|opml2] FILE  write the subscriptions as OPML"},
    {"options", RunOptions, "options [SECTION/ENTRY[=VALUE]]... [--json]  show or set settings"},
    {"feed-options", RunFeedOptions,
        "feed-options URL [podcast=on|off|default] [newest=N|default] [audio=default|mp3|amr]  "
        "a feed's own choices"},
    {"episodes", RunEpisodes,
        "episodes [URL...] [--fetch] [--json]  each feed's episodes and what the next update "
        "takes"},
    {"update", RunUpdateCommand,
        "update [--feed URL]... [--marked TITLE]... [--output PATH] [--connections N] [--quiet] "
        "[--json] [--send TARGET]  update feeds, write the package"},
    {"repack", RunRepackCommand,
        "repack [--output PATH] [--quiet] [--json]  write the package again from the cache"},
    {"clean", RunClean,
        "clean [--dry-run] [--quiet] remove cache files that no feed needs any more"},
    {"send", RunSend, "send --list | TARGET        hand the package to a Send To target"},
    {"sync", RunSync,
        "sync TARGET [--folder NAME] [--with-texts]  the episodes as tagged files with playlists"},
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
    std::fprintf(out,
        "usage: corvane-cli [--home DIR] COMMAND [ARGUMENTS]\n"
        "       corvane-cli --version\n\ncommands:\n");
    for (const Command& command : commands)
        std::fprintf(out, "  %s\n", command.summary);
    std::fprintf(out,
        "\n--home DIR sets the program folder (default $CORVANE_HOME, else "
        "$XDG_DATA_HOME/Corvane);\na folder of its own keeps its own settings in "
        "DIR/Corvane.conf.\n--version (-v) prints the version.\n"
        "'corvane-cli COMMAND --help' describes a command.\n");
}

// The options before the command's name. The command and everything after it are left to the
// command, as positionals: an option there is the command's.
struct GlobalOptions {
    std::optional<std::string> home;
    bool version = false;
    bool help = false;
    std::vector<std::string> rest; // the command's name and its arguments
};

std::optional<GlobalOptions> ParseGlobalOptions(int argc, char** argv)
{
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption home("home", "the program folder", "DIR");
    const QCommandLineOption version({"v", "version"}, "print the version");
    const QCommandLineOption help({"h", "help"}, "show this text");
    parser.addOptions({home, version, help});
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLatin1(argv[i])); // bytes kept, see CommandLine
    if (!parser.parse(arguments)) {
        PrintError(ParserError(parser));
        return std::nullopt;
    }
    GlobalOptions options;
    if (parser.isSet(home))
        options.home = parser.values(home).constLast().toLatin1().toStdString();
    options.version = parser.isSet(version);
    options.help = parser.isSet(help);
    for (const QString& argument : parser.positionalArguments())
        options.rest.push_back(argument.toLatin1().toStdString());
    return options;
}

// A command has joined its threads and committed its files when it returns. What exit() would do
// after that is tear down the libraries' state (OpenSSL's tables, Qt's and libcurl's caches),
// about half a millisecond of a one-feed update, for memory that the process gives back anyway.
// Under the sanitizers the normal exit stays, so that the leak check still runs.
int EndProcess(int code)
{
#if defined(__SANITIZE_ADDRESS__)
    return code;
#else
    std::fflush(nullptr);
    _exit(code);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    std::optional<GlobalOptions> options = ParseGlobalOptions(argc, argv);
    if (!options) {
        PrintUsage(stderr);
        return EXIT_USAGE;
    }
    if (options->home)
        setenv("CORVANE_HOME", options->home->c_str(), 1);
    if (options->version) {
        std::printf("corvane-cli %s\n", ProgramVersion());
        return EXIT_DONE;
    }
    std::vector<std::string>& arguments = options->rest;
    if (options->help || (!arguments.empty() && arguments.front() == "help")) {
        PrintUsage(stdout);
        return EXIT_DONE;
    }
    if (arguments.empty()) {
        PrintUsage(stderr);
        return EXIT_USAGE;
    }

    if (const std::string problem = ProgramFolderProblem(); !problem.empty()) {
        PrintError(problem);
        return EXIT_FAILED;
    }
    const std::string name = arguments.front();
    arguments.erase(arguments.begin());
    for (const Command& command : commands) {
        if (name == command.name && command.run) {
            CommandLine commandLine(name, std::move(arguments));
            return EndProcess(command.run(commandLine));
        }
    }
    PrintError("unknown command '" + name + "'");
    PrintUsage(stderr);
    return EXIT_USAGE;
}
