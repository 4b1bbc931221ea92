// Small helpers shared by the commands of corvane-cli: argument handling, exit codes, JSON text.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

QT_BEGIN_NAMESPACE
class QCommandLineParser;
QT_END_NAMESPACE

namespace corvane {

// Exit codes of every command.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1; // a message on standard error names the file and reason
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PARTLY_FAILED = 3; // update: package written, something failed
constexpr int EXIT_BUSY = 75; // another update held the program folder; nothing was done
constexpr int EXIT_INTERRUPTED = 130; // Ctrl-C

// The arguments of one command, after the command's name and the global options, read with
// QCommandLineParser. A command declares its options and positional arguments, calls Parse()
// and then reads them:
//
//     arguments.Describe("Reads the feed document ...");
//     arguments.Flag("json", "print one JSON object");
//     arguments.Option("output", "PATH", "write the package here");
//     arguments.Repeated("feed", "URL", "update this feed address (repeatable)");
//     arguments.Positional("PATH", "the feed document");
//     if (const std::optional<int> code = arguments.Parse())
//         return *code;
//     const bool json = arguments.Has("json");
//
// Every command has -h/--help, whose text the parser builds from the declarations. The bytes
// of every value and positional come back exactly as given, whether or not they are UTF-8.
class CommandLine {
public:
    CommandLine(std::string command, std::vector<std::string> arguments);
    ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // The paragraph under the usage line, and the text the help ends with (exit status).
    void Describe(const std::string& description);
    void Epilogue(const std::string& epilogue);
    // "--name", present or not.
    void Flag(const std::string& name, const std::string& description);
    // "--name VALUE" or "--name=VALUE", at most once; Repeated: any number of times.
    void Option(
        const std::string& name, const std::string& valueName, const std::string& description);
    void Repeated(
        const std::string& name, const std::string& valueName, const std::string& description);
    // The positional arguments, in order: Positional ones must be there, Optional ones may be
    // left out, and MoreOf (declared last) takes any number.
    void Positional(const std::string& name, const std::string& description);
    void Optional(const std::string& name, const std::string& description);
    void MoreOf(const std::string& name, const std::string& description);
    // The usage error shown when the number of positionals is wrong (default: "missing
    // argument" or "unexpected argument 'X'").
    void CountError(const std::string& message);

    // Parses. Nothing: go on and read the arguments. Else the command's exit code: EXIT_DONE
    // after --help printed the help on standard output, EXIT_USAGE after an unknown option, a
    // missing value, an option given twice or a wrong number of positionals (the reason and the
    // help on standard error).
    std::optional<int> Parse();

    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    std::vector<std::string> Values(const std::string& name) const;
    const std::vector<std::string>& Positionals() const { return positionals; }

    // The help text: "usage: corvane-cli COMMAND ..." and what the parser lists.
    std::string HelpText() const;
    // Prints "corvane-cli: message" and the help on standard error; gives EXIT_USAGE.
    int UsageError(const std::string& message) const;

private:
    struct Declarations;
    std::string command;
    std::vector<std::string> arguments;
    std::unique_ptr<Declarations> declared;
    std::vector<std::string> positionals;
};

// Why parser refused the arguments, naming the option as typed ("unknown option --xml").
std::string ParserError(const QCommandLineParser& parser);

// Prints "corvane-cli: <message>" to standard error.
void PrintError(const std::string& message);

// Parses a whole decimal number in [minimum, maximum]; nullopt when text is anything else.
std::optional<long long> ParseInteger(
    const std::string& text, long long minimum, long long maximum);

// True when standard error is a terminal (progress is shown only then).
bool StderrIsTerminal();
// The terminal's width in columns when standard error is one, else 80.
int StderrColumns();

// A byte count as megabytes with one decimal: "12.3 MB".
std::string Megabytes(std::uint64_t bytes);

// Runs work on a thread of its own until it returns. Ctrl-C, SIGTERM or SIGHUP meanwhile
// requests a stop through stop and then waits for work (WaitAfterStop), which should end soon
// after the request. True when such a signal came.
bool RunUntilInterrupted(const std::function<void()>& work, std::stop_source& stop);

// Ctrl-C, SIGTERM and SIGHUP: the signals that stop a command's work. The command's threads
// block them and its main thread takes them with sigtimedwait.
sigset_t StopSignals();

// After a stop was requested: waits while running() says the work goes on. Every fetch, pause
// and conversion obeys a stop within a second; work held in a read the kernel does not
// interrupt (a file system that hangs) would keep the process, and the program folder's lock,
// for ever. So when it still runs after 10 s, or another of stopSignals comes, the process ends
// at once with status 130, saying so: the kernel drops the lock, the next run clears what was
// left, and a package, renamed in place, is the previous one or the new one whole.
void WaitAfterStop(const std::function<bool()>& running, const sigset_t& stopSignals);

// A command: takes its arguments, returns an exit code. The table in main.cpp names them.
using CommandFunction = int (*)(CommandLine&);

} // namespace corvane
