#include "update/FolderLock.h"

#include "platform/Paths.h"

#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::chrono::milliseconds kDefaultWait {5000};
constexpr std::chrono::milliseconds kPollInterval {50};

bool TryLock(int descriptor)
{
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Sleeps for pause unless stop is requested first; false when it was.
bool PauseUnlessStopped(std::chrono::milliseconds pause, const std::stop_token& stop)
{
    std::mutex mutex;
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    return !wakeUp.wait_for(lock, stop, pause, [] { return false; }) && !stop.stop_requested();
}

} // namespace

std::chrono::milliseconds FolderLockWait()
{
    const char* text = std::getenv("CORVANE_LOCK_WAIT_MS");
    if (!text || !*text)
        return kDefaultWait;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0)
        return kDefaultWait;
    return std::chrono::milliseconds(value);
}

std::string FolderLockPath()
{
    return GetProgramFolder() + "update.lock";
}

std::string FolderBusyText(const std::string& programFolder)
{
    return "another update is running on the program folder " + programFolder
        + "; this one was skipped";
}

bool ProgramFolderLock::Take(
    std::chrono::milliseconds wait, std::stop_token stop, std::string& error, bool* busy)
{
    if (busy)
        *busy = false;
    const std::string path = FolderLockPath();
    FileDescriptor file(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!file.valid()) {
        error = "cannot open the lock file " + path + ": " + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (!TryLock(file.get())) {
        if (errno != EWOULDBLOCK) {
            error = "cannot lock " + path + ": " + std::strerror(errno);
            return false;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left <= std::chrono::milliseconds::zero()
            || !PauseUnlessStopped(std::min(left, kPollInterval), stop)) {
            if (busy)
                *busy = true;
            error = FolderBusyText(ProgramFolderPath());
            return false;
        }
    }
    descriptor = std::move(file);
    return true;
}

} // namespace corvane
