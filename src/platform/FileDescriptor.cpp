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

} // namespace corvane
