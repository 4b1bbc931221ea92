// Small helpers shared by the commands of corvane-cli: argument handling, exit codes, JSON text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {

// Exit codes of every command.
constexpr int EXIT_DONE = 0;
constexpr int EXIT_FAILED = 1; // a message on standard error names the file and reason
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PARTLY_FAILED = 3; // update: package written, something failed
constexpr int EXIT_BUSY = 75; // another update held the program folder; nothing was done
constexpr int EXIT_INTERRUPTED = 130; // Ctrl-C

// The arguments of one command, after the command's name and the global options.
class CommandArguments {
public:
    explicit CommandArguments(std::vector<std::string> arguments);

    // Removes "--name" and says whether it was there.
    bool TakeFlag(const std::string& name);
    // Removes "--name VALUE" (or "--name=VALUE") and gives VALUE; every occurrence when
    // TakeOptions. A missing value sets UsageError().
    std::optional<std::string> TakeOption(const std::string& name);
    std::vector<std::string> TakeOptions(const std::string& name);
    // What is left: positional arguments. An unknown "--option" left over is a usage error.
    std::vector<std::string> Positionals();

    bool WantsHelp() const { return help; }
    const std::string& UsageError() const { return usageError; }

private:
    std::vector<std::string> arguments;
    std::string usageError;
    bool help = false;
};

// Prints "corvane-cli: <message>" to standard error.
void PrintError(const std::string& message);

// Parses a whole decimal number in [minimum, maximum]; nullopt when text is anything else.
std::optional<long long> ParseInteger(
    const std::string& text, long long minimum, long long maximum);

// A JSON string literal for UTF-8 text (quotes included); invalid UTF-8 bytes become U+FFFD.
std::string JsonString(const std::string& text);

// True when standard error is a terminal (progress is shown only then).
bool StderrIsTerminal();
// The terminal's width in columns when standard error is one, else 80.
int StderrColumns();

// A byte count as megabytes with one decimal: "12.3 MB".
std::string Megabytes(std::uint64_t bytes);

// Runs work on a thread of its own until it returns. Ctrl-C, SIGTERM or SIGHUP meanwhile
// requests a stop through stop and then still waits for work, which should end soon after the
// request. True when such a signal came.
bool RunUntilInterrupted(const std::function<void()>& work, std::stop_source& stop);

// A command: takes its arguments, returns an exit code. The table in main.cpp names them.
using CommandFunction = int (*)(CommandArguments&);

} // namespace corvane
