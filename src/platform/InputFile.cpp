#include "platform/InputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace corvane {

namespace {

const char* KindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    if (S_ISSOCK(mode))
        return "a socket";
    return "of an unknown kind";
}

std::string NotRegular(mode_t mode)
{
    return std::string("not a regular file (") + KindOf(mode) + ")";
}

} // namespace

bool InputFile::Open(const std::string& path, std::string& reason)
{
    file.reset();
    size = 0;
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOCTTY: a terminal named by
    // mistake must not become ours.
    FileDescriptor opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!opened.valid()) {
        const int error = errno;
        struct stat status { };
        // A socket cannot be opened at all; say what it is rather than "No such device".
        reason = ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)
            ? NotRegular(status.st_mode)
            : std::string("cannot open: ") + std::strerror(error);
        return false;
    }
    struct stat status { };
    if (::fstat(opened.get(), &status) != 0) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = NotRegular(status.st_mode);
        return false;
    }
    const int flags = ::fcntl(opened.get(), F_GETFL);
    if (flags != -1)
        ::fcntl(opened.get(), F_SETFL, flags & ~O_NONBLOCK);
    file = std::move(opened);
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

long InputFile::Read(char* buffer, std::size_t count)
{
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, count);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
    }
}

} // namespace corvane
