// A file that the user (or a download) names, opened for reading: the one way the readers, the
// package writer's sources, the package reader, the MP3 decoder and the copies of the channels
// file open what they read. Owns its descriptor (closed with the object; move-only). Any thread,
// one at a time per object.
#pragma once

#include "platform/FileDescriptor.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace corvane {

class InputFile {
public:
    // Opens path (symbolic links followed) for reading, closing what was open before. Only a
    // regular file is taken: a FIFO, directory, device or socket is refused before a byte of it
    // is read, and the open itself never waits (a FIFO without a writer would block it for
    // ever). False on failure, with reason saying why in words without the path:
    // "cannot open: <errno text>" or "not a regular file (a FIFO)".
    bool Open(const std::string& path, std::string& reason);

    bool IsOpen() const { return file.valid(); }
    // The descriptor, still owned here (for pread and for libraries that read a descriptor);
    // -1 when not open. It is blocking again after Open.
    int Descriptor() const { return file.get(); }
    // The file's length when it was opened.
    std::uint64_t Size() const { return size; }

    // Up to size bytes into buffer (reads interrupted by a signal are repeated): the count, 0 at
    // the end of the file, -1 on an error (errno says which). Needs an open file.
    long Read(char* buffer, std::size_t size);

private:
    FileDescriptor file;
    std::uint64_t size = 0;
};

} // namespace corvane
