#include "platform/FileDescriptor.h"

#include <cerrno>
#include <unistd.h>

namespace corvane {

void FileDescriptor::reset(int replacement) noexcept
{
    const int previous = std::exchange(descriptor, replacement);
    if (previous < 0 || previous == replacement)
        return;
    // A close never changes what the caller sees in errno: owners die while errors are reported.
    const int saved = errno;
    ::close(previous);
    errno = saved;
}

bool ReadFullyAt(int descriptor, void* into, std::size_t size, std::uint64_t offset)
{
    char* bytes = static_cast<char*>(into);
    for (std::size_t done = 0; done < size;) {
        const ssize_t got
            = ::pread(descriptor, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

} // namespace corvane
