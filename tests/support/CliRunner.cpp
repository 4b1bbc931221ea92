#include "support/CliRunner.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A file descriptor closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd = -1)
        : fd(fd)
    { }
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd; }
    void Close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

private:
    int fd;
};

// The test's environment with each "NAME=value" of overrides put over it.
std::vector<std::string> Environment(const std::vector<std::string>& overrides)
{
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        bool replaced = false;
        for (const std::string& override : overrides) {
            const std::size_t equals = override.find('=');
            replaced = replaced || text.substr(0, text.find('=')) == override.substr(0, equals);
        }
        if (!replaced)
            entries.emplace_back(text);
    }
    entries.insert(entries.end(), overrides.begin(), overrides.end());
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (std::string& text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts corvane-cli with arguments; -1 when it could not be started.
pid_t Spawn(std::vector<std::string> arguments, const posix_spawn_file_actions_t& actions,
    std::vector<std::string> environment)
{
    arguments.insert(arguments.begin(), CORVANE_CLI_PATH);
    std::vector<char*> argv = Pointers(arguments);
    std::vector<char*> envp = Pointers(environment);
    pid_t pid = -1;
    if (posix_spawn(&pid, CORVANE_CLI_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    return pid;
}

// Standard input holding input, in memory: no temporary file, and no writer that could block.
int InputDescriptor(const std::string& input)
{
    const int fd = memfd_create("corvane-cli-input", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    std::size_t written = 0;
    while (written < input.size()) {
        const ssize_t n = ::write(fd, input.data() + written, input.size() - written);
        if (n <= 0)
            break;
        written += static_cast<std::size_t>(n);
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// Reads both pipes until they close, the deadline passes or the cap is passed; false when the
// run has to be killed.
bool Drain(int outFd, int errFd, CliRun& run, Clock::time_point deadline, std::size_t cap)
{
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* targets[2] = {&run.out, &run.err};
    int open = 2;
    while (open > 0) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                targets[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                fds[i].fd = -1;
                --open;
            }
        }
        if (cap > 0 && run.out.size() + run.err.size() > cap)
            return false;
    }
    return true;
}

// The exit code of pid, killing it when it has not ended by deadline (or kill is set).
int Reap(pid_t pid, Clock::time_point deadline, bool kill)
{
    if (pid <= 0)
        return -1; // never started: there is nothing to signal (kill(-1) would reach everything)
    int status = 0;
    while (!kill) {
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (ended < 0)
            return -1;
        if (Clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}

} // namespace

CliRun RunCli(const std::vector<std::string>& arguments, const CliRunOptions& options)
{
    CliRun run;
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        return run;
    Descriptor outRead(outPipe[0]), outWrite(outPipe[1]);
    if (::pipe2(errPipe, O_CLOEXEC) != 0)
        return run;
    Descriptor errRead(errPipe[0]), errWrite(errPipe[1]);
    Descriptor input(InputDescriptor(options.input));
    if (input.Get() < 0)
        return run;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input.Get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), STDERR_FILENO);
    const pid_t pid = Spawn(arguments, actions, Environment(options.environment));
    posix_spawn_file_actions_destroy(&actions);
    outWrite.Close();
    errWrite.Close();
    if (pid <= 0)
        return run;

    const Clock::time_point deadline = Clock::now() + options.timeLimit;
    const bool finished = Drain(outRead.Get(), errRead.Get(), run, deadline, options.outputCap);
    run.exitCode = Reap(pid, deadline, !finished);
    return run;
}

CliProcess::CliProcess(std::vector<std::string> arguments, const std::string& stderrPath)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(
        &actions, STDERR_FILENO, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid = Spawn(std::move(arguments), actions, Environment({}));
    posix_spawn_file_actions_destroy(&actions);
}

CliProcess::~CliProcess()
{
    if (pid > 0 && !exited) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

int CliProcess::Wait()
{
    const int code = Reap(pid, Clock::now() + std::chrono::seconds(60), false);
    exited = true;
    return code;
}

bool CliProcess::Ended() const
{
    siginfo_t info {};
    return pid <= 0 || exited
        || (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
            && info.si_pid == pid);
}
