#include "net/PartialDownload.h"

#include "net/ResponseHeaders.h"
#include "net/WebAccess.h"
#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr const char* MetadataFormatLine = "corvane partial download 1";
// Far more than an address and two validators take; a bigger file is not ours.
constexpr off_t LongestMetadata = 64 * 1024;
constexpr int OpenTries = 3;
constexpr mode_t PrivateMode = 0600;

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool FitsOneLine(const std::string& value)
{
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

std::string Folder(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

void SyncFolder(const std::string& folder)
{
    const FileDescriptor opened(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.valid())
        ::fsync(opened.get());
}

// The whole content of a small regular file that is no link; false when there is none.
bool ReadSmallFile(const std::string& path, std::string& text)
{
    const FileDescriptor file(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status { };
    if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || status.st_size > LongestMetadata)
        return false;
    text.assign(static_cast<std::size_t>(status.st_size), '\0');
    return ReadFullyAt(file.get(), text.data(), text.size(), 0);
}

// Replaces the file at path with text, mode 0600. The file is made (or narrowed) to 0600 first
// because an AtomicFile's replacement keeps the mode of the file it replaces and is born with
// no wider one; a new file would get 0666 less the umask.
bool WritePrivateFile(const std::string& path, const std::string& text)
{
    const FileDescriptor made(::open(
        path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, PrivateMode));
    struct stat status { };
    if (!made.valid() || ::fstat(made.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || ::fchmod(made.get(), PrivateMode) != 0)
        return false;
    std::string error;
    return WriteFileAtomically(path, text, error);
}

} // namespace

std::string PartialDownloadPath(const std::string& targetPath)
{
    const auto slash = targetPath.rfind('/');
    const auto name = slash == std::string::npos ? 0 : slash + 1;
    return targetPath.substr(0, name) + PARTIAL_DOWNLOAD_PREFIX + targetPath.substr(name);
}

std::string PartialMetadataPath(const std::string& targetPath)
{
    return PartialDownloadPath(targetPath) + PARTIAL_METADATA_SUFFIX;
}

std::string PartialMetadata::Serialize() const
{
    if (!FitsOneLine(address) || !FitsOneLine(etag) || !FitsOneLine(lastModified))
        return std::string();
    std::string text = std::string(MetadataFormatLine) + "\n";
    text += "address=" + address + "\n";
    text += "etag=" + etag + "\n";
    text += "last-modified=" + lastModified + "\n";
    text += "length=" + (length ? std::to_string(*length) : std::string()) + "\n";
    return text;
}

bool PartialMetadata::Parse(std::string_view text, PartialMetadata& metadata)
{
    const std::string_view first = std::string_view(MetadataFormatLine);
    if (text.substr(0, first.size()) != first || text.substr(first.size(), 1) != "\n")
        return false;
    text.remove_prefix(first.size() + 1);
    PartialMetadata read;
    std::string length;
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos)
            return false; // cut off
        const std::string_view line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto equals = line.find('=');
        const std::string_view name = line.substr(0, equals);
        const std::string value(equals == std::string_view::npos ? "" : line.substr(equals + 1));
        if (name == "address")
            read.address = value;
        else if (name == "etag")
            read.etag = value;
        else if (name == "last-modified")
            read.lastModified = value;
        else if (name == "length")
            length = value;
    }
    std::uint64_t count = 0;
    if (!length.empty() && !ParseByteCount(length, count))
        return false;
    if (!length.empty())
        read.length = count;
    if (read.address.empty() || read.Validator().empty())
        return false;
    metadata = std::move(read);
    return true;
}

PartialDownload::~PartialDownload()
{
    if (descriptor.valid() && Size() == 0)
        Remove();
}

bool PartialDownload::Open(const std::string& targetPath)
{
    path = PartialDownloadPath(targetPath);
    metadataPath = path + PARTIAL_METADATA_SUFFIX;
    for (int attempt = 0; attempt < OpenTries; ++attempt) {
        FileDescriptor opened(::open(path.c_str(),
            O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, PrivateMode));
        struct stat status {
        }, named {};
        // Without a lock (held by another writer, or a file system without flock) two writers
        // could append to one file: no resuming then.
        if (!opened.valid() || ::fstat(opened.get(), &status) != 0 || !S_ISREG(status.st_mode))
            return false;
        if (::flock(opened.get(), LOCK_EX | LOCK_NB) != 0) {
            // Where no writer can lock, the empty file made just now would only be litter.
            if (errno != EWOULDBLOCK && status.st_size == 0)
                ::unlink(path.c_str());
            return false;
        }
        // A cleaner may have removed the name between the open and the lock.
        if (::lstat(path.c_str(), &named) != 0 || !SameFile(status, named))
            continue;
        if ((status.st_mode & 07777) != PrivateMode)
            ::fchmod(opened.get(), PrivateMode);
        descriptor = std::move(opened);
        return true;
    }
    return false;
}

std::uint64_t PartialDownload::Size() const
{
    struct stat status { };
    return ::fstat(descriptor.get(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

void PartialDownload::RemoveMetadata() const
{
    ::unlink(metadataPath.c_str());
}

std::uint64_t PartialDownload::Continuable(const std::string& address, PartialMetadata& metadata)
{
    const std::uint64_t size = Size();
    std::string text;
    PartialMetadata read;
    if (size > 0 && ReadSmallFile(metadataPath, text) && PartialMetadata::Parse(text, read)
        && read.address == address && (!read.length || size < *read.length)
        && ::lseek(descriptor.get(), 0, SEEK_END) >= 0) {
        metadata = std::move(read);
        described = true;
        return size;
    }
    std::string ignored;
    StartOver(ignored);
    return 0;
}

bool PartialDownload::StartOver(std::string& error)
{
    // The metadata first: a partial without it is never continued, whatever it holds.
    RemoveMetadata();
    described = false;
    if (::ftruncate(descriptor.get(), 0) != 0 || ::lseek(descriptor.get(), 0, SEEK_SET) != 0) {
        error = "cannot write the downloaded file: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}

bool PartialDownload::Record(const PartialMetadata& metadata)
{
    const std::string text = metadata.Serialize();
    described
        = !metadata.Validator().empty() && !text.empty() && WritePrivateFile(metadataPath, text);
    if (!described)
        RemoveMetadata();
    return described;
}

void PartialDownload::Settle(bool keep)
{
    if (keep && described && Size() > 0 && ::fdatasync(descriptor.get()) == 0)
        return;
    Remove();
}

void PartialDownload::Remove()
{
    RemoveMetadata();
    // The name goes while the lock is held, so nobody takes over a file on its way out.
    ::unlink(path.c_str());
    described = false;
    descriptor.reset();
}

bool PartialDownload::CommitTo(const std::string& targetPath, unsigned int mode,
    std::int64_t modificationTime, std::string& error)
{
    const int fd = descriptor.get();
    bool done = ::fchmod(fd, static_cast<mode_t>(mode)) == 0;
    if (done && modificationTime >= 0) {
        const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(modificationTime), 0}};
        ::futimens(fd, times);
    }
    // EINVAL: a file system that has nothing to sync.
    done = done && (::fsync(fd) == 0 || errno == EINVAL);
    const char* what = done ? "cannot replace " : "cannot write ";
    // Renamed while the lock is held: no cleaner takes the whole file for an abandoned partial.
    done = done && ::rename(path.c_str(), targetPath.c_str()) == 0;
    if (!done) {
        error = what + targetPath + ": " + std::strerror(errno);
        Remove();
        return false;
    }
    RemoveMetadata();
    described = false;
    descriptor.reset();
    SyncFolder(Folder(targetPath));
    return true;
}

} // namespace corvane
