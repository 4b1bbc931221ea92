// Move-only owner of the stdio stream the audio code uses (descriptors: platform/FileDescriptor.h).
// It closes its handle when it dies; Release hands ownership to the caller.
// Thread: an owner is used by one thread at a time.
#pragma once

#include <cstdio>
#include <unistd.h>
#include <utility>

namespace corvane {

// Owns a FILE*; closing errors are reported by Close, ignored by the destructor.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(std::FILE* file_)
        : file(file_)
    { }
    ~FileHandle()
    {
        if (file)
            std::fclose(file);
    }
    FileHandle(FileHandle&& other) noexcept
        : file(std::exchange(other.file, nullptr))
    { }
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other) {
            if (file)
                std::fclose(file);
            file = std::exchange(other.file, nullptr);
        }
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    std::FILE* Get() const { return file; }
    explicit operator bool() const { return file != nullptr; }
    // Flushes and closes; false when buffered data could not be written.
    bool Close()
    {
        if (!file)
            return true;
        const int result = std::fclose(std::exchange(file, nullptr));
        return result == 0;
    }

private:
    std::FILE* file = nullptr;
};

} // namespace corvane
