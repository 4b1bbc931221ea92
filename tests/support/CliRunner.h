// Running the built corvane-cli (CORVANE_CLI_PATH) as a separate process, without a shell, for
// the command-line tests. The child inherits the test's environment (a TestHome's folders) and
// working directory.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <sys/types.h>
#include <vector>

// What a finished run gave. exitCode is -1 when the run was killed (time limit, output cap) or
// ended by a signal, or when it could not be started.
struct CliRun {
    int exitCode = -1;
    std::string out; // standard output
    std::string err; // standard error
};

struct CliRunOptions {
    std::string input; // standard input; empty: end of file at once
    std::vector<std::string> environment; // "NAME=value" entries set over the test's own
    // A run still going after this is killed, so that no test hangs.
    std::chrono::seconds timeLimit {60};
    // 0: none. Else a run whose standard output and error together pass this many bytes is
    // killed, so that a runaway writer cannot fill the disk or the memory; what came is kept.
    std::size_t outputCap = 0;
};

// Runs corvane-cli with arguments (argv[1] on) and waits for its end, capturing both outputs.
CliRun RunCli(const std::vector<std::string>& arguments, const CliRunOptions& options = {});

// A started corvane-cli whose standard error goes to a file (which a test may watch while it
// runs) and standard output to /dev/null. Killed and reaped on destruction when it still runs.
class CliProcess {
public:
    CliProcess(std::vector<std::string> arguments, const std::string& stderrPath);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // The exit code, or -1 after 60 s (then the process is killed) or on a signal.
    int Wait();
    pid_t Pid() const { return pid; }
    // True once the process has ended (or never started); it stays unreaped for Wait().
    bool Ended() const;

private:
    pid_t pid = -1;
    bool exited = false;
};
