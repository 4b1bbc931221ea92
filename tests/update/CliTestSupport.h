// Running the built corvane-cli as a separate process against the loopback server, in the
// temporary home of UpdateFixture (the child inherits its environment).
#pragma once

#include "UpdateTestSupport.h"

#include "subscriptions/Subscriptions.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

// A started corvane-cli whose standard error goes to a file. Killed and reaped on destruction
// when it still runs.
class CliProcess {
public:
    CliProcess(std::vector<std::string> arguments, const std::string& stderrPath)
    {
        arguments.insert(arguments.begin(), CORVANE_CLI_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, STDERR_FILENO, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid, CORVANE_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CliProcess()
    {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // The exit code, or -1 after 60 s (then the process is killed) or on a signal.
    int Wait()
    {
        for (int i = 0; i < 6000; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t Pid() const { return pid; }
    // True once the process has ended (or never started); it stays unreaped for Wait().
    bool Ended() const
    {
        siginfo_t info {};
        return pid <= 0 || exited
            || (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0
                && info.si_pid == pid);
    }

private:
    pid_t pid = -1;
    bool exited = false;
};

// The last line of a text (a trailing line break ignored).
inline std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

// A temporary home with a channels file, and corvane-cli run in it.
class UpdateCliFixture : public UpdateFixture {
protected:
    // Writes the channels file with one feed per (title, address).
    void Subscribe(const std::vector<std::pair<std::string, std::string>>& feeds)
    {
        CSubscriptions subscriptions;
        subscriptions.Load();
        for (const auto& [title, url] : feeds)
            ASSERT_TRUE(subscriptions.NewFeed(subscriptions.Root(), title, url, "", "").changed);
    }
    int Cli(std::vector<std::string> arguments)
    {
        CliProcess process(std::move(arguments), home.File("stderr"));
        return process.Wait();
    }
    std::string Stderr() const { return ReadWholeFile(home.File("stderr")); }
};
