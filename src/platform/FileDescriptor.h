// The one owner of a POSIX file descriptor: every descriptor the program opens lives in one.
// Move-only; the descriptor is closed when the owner dies or is reset (errors of that close
// are ignored: the data of a file being written must be checked with fsync before). A close
// interrupted by a signal is not repeated, because on Linux the descriptor is gone already and
// a second close could close one that another thread has just opened.
// Thread: one thread at a time per owner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace corvane {

class FileDescriptor {
public:
    FileDescriptor() = default;
    // Takes ownership of descriptor (-1 for none).
    explicit FileDescriptor(int descriptor_) noexcept
        : descriptor(descriptor_)
    { }
    ~FileDescriptor() { reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept
        : descriptor(other.release())
    { }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    // The descriptor, still owned here; -1 when empty.
    int get() const noexcept { return descriptor; }
    bool valid() const noexcept { return descriptor >= 0; }
    // Hands the descriptor to the caller, who must close it; the owner is empty afterwards.
    int release() noexcept { return std::exchange(descriptor, -1); }
    // Closes what is held and takes replacement (-1: stays empty).
    void reset(int replacement = -1) noexcept;

private:
    int descriptor = -1;
};

// Reads exactly size bytes at offset of descriptor (pread, EINTR repeated); false on an error
// or when the file ends before.
bool ReadFullyAt(int descriptor, void* into, std::size_t size, std::uint64_t offset);

} // namespace corvane
