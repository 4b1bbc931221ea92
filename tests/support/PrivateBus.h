// A private session bus for one test: dbus-daemon started by the test, and the stand-in
// notification service (tests/platform/NotificationStandIn.cpp) that records each Notify call.
#pragma once

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testbus {

// A child process, killed and reaped when the object dies; its standard output can be read.
class Child {
public:
    explicit Child(std::vector<std::string> arguments)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            return;
        output = ends[0];
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
    }
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
        if (output >= 0)
            ::close(output);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The first line of standard output, waiting at most 10 s.
    std::string FirstLine()
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (
            line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd wait {output, POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0)
                continue;
            char buffer[256];
            const ssize_t count = ::read(output, buffer, sizeof buffer);
            if (count <= 0)
                break;
            line.append(buffer, static_cast<std::size_t>(count));
        }
        return line.substr(0, line.find('\n'));
    }

private:
    pid_t pid = -1;
    int output = -1;
};

inline bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 500; ++i) {
        if (FileExists(path))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Starts the bus and points DBUS_SESSION_BUS_ADDRESS at it while the object lives. Ok() is
// false when dbus-daemon is missing or did not start.
class PrivateBus {
public:
    PrivateBus()
    {
        if (::access("/usr/bin/dbus-daemon", X_OK) != 0)
            return;
        daemon = std::make_unique<Child>(std::vector<std::string> {
            "/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"});
        address = daemon->FirstLine();
        if (!address.empty())
            variable.emplace("DBUS_SESSION_BUS_ADDRESS", address);
    }
    bool Ok() const { return !address.empty(); }
    const std::string& Address() const { return address; }
    // Starts the stand-in service (standin: its executable), which appends each call to
    // recordPath; false when it did not come up.
    bool StartService(const std::string& standin, const std::string& recordPath)
    {
        service = std::make_unique<Child>(std::vector<std::string> {standin, recordPath});
        return WaitForFile(recordPath + ".ready");
    }

private:
    std::unique_ptr<Child> daemon;
    std::unique_ptr<Child> service;
    std::string address;
    std::optional<ScopedEnv> variable;
};

} // namespace testbus
