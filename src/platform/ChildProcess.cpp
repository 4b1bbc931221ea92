#include "platform/ChildProcess.h"

#include "platform/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace corvane {

namespace {

// Reads what the child writes until it closes its end or the deadline passes.
void ReadUntilClosed(
    int descriptor, std::string& output, std::chrono::steady_clock::time_point deadline)
{
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        pollfd wait {descriptor, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        output.append(buffer, static_cast<std::size_t>(count));
    }
}

} // namespace

std::string FindOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeLimit)
{
    ChildRun run;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        run.output = std::strerror(errno);
        return run;
    }
    FileDescriptor reading(pipeEnds[0]);
    FileDescriptor writing(pipeEnds[1]);
    std::vector<char*> argv {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writing.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writing.get(), 2);
    pid_t child = -1;
    const int spawned
        = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writing.reset();
    if (spawned != 0) {
        run.output = std::strerror(spawned);
        return run;
    }
    run.started = true;
    const auto deadline = std::chrono::steady_clock::now() + timeLimit;
    ReadUntilClosed(reading.get(), run.output, deadline);
    // The output closes as the child ends, a moment before the kernel has its status ready, so
    // the status is waited for too, within the same limit.
    int status = 0;
    pid_t ended = ::waitpid(child, &status, WNOHANG);
    while (ended == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ended = ::waitpid(child, &status, WNOHANG);
    }
    if (ended == 0) {
        ::kill(child, SIGKILL); // past the time limit, or it left its output open to a grandchild
        ::waitpid(child, &status, 0);
        return run;
    }
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace corvane
