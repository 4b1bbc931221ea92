#include "formats/CorvaneDoc.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

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

CCorvaneDoc::CCorvaneDoc()
    : root(std::make_unique<COutlineItem>()), head(std::make_unique<COutlineHead>())
{
}

InputFile::~InputFile()
{
    if (fd >= 0)
        ::close(fd);
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd(std::exchange(other.fd, -1))
{
}

InputFile& InputFile::operator=(InputFile&& other) noexcept
{
    if (this != &other) {
        if (fd >= 0)
            ::close(fd);
        fd = std::exchange(other.fd, -1);
    }
    return *this;
}

bool InputFile::Open(const std::string& path, std::string& reason)
{
    *this = InputFile();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; O_NOCTTY: a terminal named by
    // mistake must not become ours.
    const int opened = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (opened < 0) {
        const int error = errno;
        struct stat status { };
        // A socket cannot be opened at all; say what it is rather than "No such device".
        reason = ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)
            ? NotRegular(status.st_mode)
            : std::string("cannot open: ") + std::strerror(error);
        return false;
    }
    InputFile candidate;
    candidate.fd = opened;
    struct stat status { };
    if (::fstat(opened, &status) != 0) {
        reason = std::string("cannot open: ") + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        reason = NotRegular(status.st_mode);
        return false;
    }
    const int flags = ::fcntl(opened, F_GETFL);
    if (flags != -1)
        ::fcntl(opened, F_SETFL, flags & ~O_NONBLOCK);
    *this = std::move(candidate);
    return true;
}

long InputFile::Read(char* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return static_cast<long>(got);
    }
}
