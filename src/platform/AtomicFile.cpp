#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// As many hops as the kernel itself follows before it says ELOOP.
constexpr int MAXIMUM_LINK_HOPS = 40;
constexpr std::size_t RANDOM_LETTERS = 6;
constexpr std::size_t LONGEST_ENTRY_NAME = 255;

std::string Reason(int error)
{
    return std::strerror(error);
}

struct PathParts {
    std::string folder; // ending in '/', or empty for the working folder
    std::string name;
};

PathParts Split(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos)
        return {std::string(), path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string OpenableFolder(const std::string& folder)
{
    return folder.empty() ? std::string(".") : folder;
}

bool ReadLink(const std::string& path, std::string& target)
{
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string RandomLetters()
{
    static constexpr char alphabet[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator {std::random_device {}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string letters(RANDOM_LETTERS, ' ');
    for (char& letter : letters)
        letter = alphabet[pick(generator)];
    return letters;
}

bool IsTemporaryName(const std::string& name, const std::string& prefix)
{
    if (name.size() != prefix.size() + RANDOM_LETTERS
        || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Takes the writer's lock on a temporary that was just created, and makes sure that the name
// still leads to it: a cleaner may have seen the file in the instant before the lock, taken the
// lock itself and removed the name. Then the writer must start again with another name.
bool LockNewTemporary(int fd, const std::string& path)
{
    // A file system without flock gives the writer no lock, but then no cleaner can take one
    // either, and the cleaner removes only what it could lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return false;
    struct stat opened {
    }, named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0
        && SameFile(opened, named);
}

// Removes the entry name of the folder open as folderFd when it is a regular file that nobody
// holds locked. The lock is held while the name goes, so a writer cannot take it in between.
bool RemoveIfStale(int folderFd, const std::string& name)
{
    const FileDescriptor file(::openat(
        folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0)
        return false;
    struct stat opened {
    }, named {};
    const bool stale = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)
        && ::flock(fd, LOCK_EX | LOCK_NB) == 0
        && ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && SameFile(opened, named);
    return stale && ::unlinkat(folderFd, name.c_str(), 0) == 0;
}

struct CloseFolder {
    void operator()(DIR* folder) const noexcept { ::closedir(folder); }
};

// Makes the rename itself survive a power cut.
void SyncFolder(const std::string& folder)
{
    const FileDescriptor opened(
        ::open(OpenableFolder(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.valid())
        ::fsync(opened.get());
}

// Whether two regular files hold the same bytes. Any doubt (a file that cannot be read, one that
// is no regular file) is a difference.
bool SameBytes(const std::string& onePath, const std::string& otherPath)
{
    const FileDescriptor one(::open(onePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    const FileDescriptor other(::open(otherPath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat oneStatus { };
    struct stat otherStatus { };
    if (!one.valid() || !other.valid() || ::fstat(one.get(), &oneStatus) != 0
        || ::fstat(other.get(), &otherStatus) != 0 || !S_ISREG(oneStatus.st_mode)
        || !S_ISREG(otherStatus.st_mode) || oneStatus.st_size != otherStatus.st_size)
        return false;
    constexpr std::size_t piece = 256 * 1024;
    std::vector<char> oneBytes(piece);
    std::vector<char> otherBytes(piece);
    const auto size = static_cast<std::uint64_t>(oneStatus.st_size);
    for (std::uint64_t offset = 0; offset < size;) {
        const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(piece, size - offset));
        if (!ReadFullyAt(one.get(), oneBytes.data(), wanted, offset)
            || !ReadFullyAt(other.get(), otherBytes.data(), wanted, offset)
            || std::memcmp(oneBytes.data(), otherBytes.data(), wanted) != 0)
            return false;
        offset += wanted;
    }
    return true;
}

} // namespace

AtomicFile::~AtomicFile()
{
    Discard();
}

bool AtomicFile::Open(const std::string& path, std::string& error)
{
    return Open(path, std::string(), error);
}

bool AtomicFile::Open(
    const std::string& path, const std::string& temporaryPrefix, std::string& error)
{
    if (!targetPath.empty()) {
        error = "cannot write " + path + ": the file was opened already";
        return false;
    }
    std::string target;
    if (path.empty() || !ResolveLinks(path, target, error)) {
        if (path.empty())
            error = "cannot write '': no file name was given";
        return false;
    }
    const std::string named = target == path ? path : path + " (a link to " + target + ")";
    const PathParts parts = Split(target);
    if (parts.name.empty()) {
        error = "cannot write " + named + ": not a file name";
        return false;
    }
    struct stat status { };
    if (::stat(target.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode)) {
            error = "cannot write " + named + ": "
                + (S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file");
            return false;
        }
        targetExists = true;
        targetMode = status.st_mode & 07777;
    }
    targetPath = target;
    const std::string prefix
        = temporaryPrefix.empty() ? TemporaryPrefixFor(parts.name) : temporaryPrefix;
    // A temporary named for this target can only be a killed writer's, or a live one's, which
    // keeps its lock: the dead ones go now, whoever writes the file. (A shared prefix belongs to
    // many targets; its owner clears those.)
    if (temporaryPrefix.empty())
        RemoveStaleTemporaries(parts.folder, prefix);
    if (!CreateTemporary(parts.folder + prefix, error)) {
        error = "cannot write " + named + ": " + error;
        targetPath.clear();
        return false;
    }
    return true;
}

bool AtomicFile::CreateTemporary(const std::string& prefix, std::string& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = prefix + RandomLetters();
        // 0666 lets the umask decide, as for any new file. A replacement is never born more open
        // than the file it replaces: a descriptor opened in that moment would read what follows.
        const mode_t mode = targetExists ? (targetMode & 0666) : 0666;
        FileDescriptor created(
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        const int fd = created.get();
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            error = "cannot create a temporary file in " + OpenableFolder(Split(candidate).folder)
                + ": " + Reason(errno);
            return false;
        }
        if (!LockNewTemporary(fd, candidate))
            continue; // closed; the cleaner that holds it removes the name
        if (targetExists)
            ::fchmod(fd, targetMode);
        descriptor = std::move(created);
        temporaryPath = candidate;
        return true;
    }
    error = "no free temporary name in " + OpenableFolder(Split(prefix).folder);
    return false;
}

bool AtomicFile::Write(const void* data, std::size_t size, std::string& error)
{
    if (!descriptor.valid()) {
        error = "cannot write " + targetPath + ": the file is not open";
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = ::write(descriptor.get(), bytes, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0) {
            error = "cannot write " + targetPath + ": " + Reason(done < 0 ? errno : EIO);
            return false;
        }
        bytes += done;
        size -= static_cast<std::size_t>(done);
    }
    return true;
}

std::FILE* AtomicFile::Stream(std::string& error)
{
    if (stream)
        return stream;
    if (!descriptor.valid()) {
        error = "cannot write " + targetPath + ": the file is not open";
        return nullptr;
    }
    // A copy of the descriptor, so that closing the stream leaves the lock and the descriptor
    // that Commit syncs and closes.
    FileDescriptor copy(::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, 0));
    stream = copy.valid() ? ::fdopen(copy.get(), "wb") : nullptr;
    if (!stream) {
        error = "cannot write " + targetPath + ": " + Reason(errno);
        return nullptr;
    }
    copy.release(); // the stream closes it
    return stream;
}

bool AtomicFile::CloseStream(std::string& error)
{
    if (!stream)
        return true;
    // A delayed write error (a full disk, a network file system) may show only at close.
    const bool flushed = std::fflush(stream) == 0;
    const int flushError = errno;
    const bool closed = std::fclose(std::exchange(stream, nullptr)) == 0;
    if (flushed && closed)
        return true;
    error = "cannot write " + targetPath + ": " + Reason(flushed ? errno : flushError);
    Discard();
    return false;
}

bool AtomicFile::CommitUnlessUnchanged(std::string& error)
{
    if (!descriptor.valid()) {
        error = "cannot write " + targetPath + ": the file is not open";
        return false;
    }
    if (!CloseStream(error))
        return false;
    if (targetExists && SameBytes(temporaryPath, targetPath)) {
        Discard();
        keptTarget = true;
        return true;
    }
    return Commit(error);
}

bool AtomicFile::Commit(std::string& error)
{
    if (!descriptor.valid()) {
        error = "cannot write " + targetPath + ": the file is not open";
        return false;
    }
    auto fail = [&](const char* what, int reason) {
        error = what + targetPath + ": " + Reason(reason);
        Discard();
        return false;
    };
    if (!CloseStream(error))
        return false;
    // EINVAL: a file system that has nothing to sync.
    if (::fsync(descriptor.get()) != 0 && errno != EINVAL)
        return fail("cannot write ", errno);
    // Renamed while the lock is still held: no cleaner can take the temporary for a dead one.
    if (::rename(temporaryPath.c_str(), targetPath.c_str()) != 0)
        return fail("cannot replace ", errno);
    temporaryPath.clear();
    descriptor.reset();
    SyncFolder(Split(targetPath).folder);
    return true;
}

void AtomicFile::Discard()
{
    if (stream)
        std::fclose(std::exchange(stream, nullptr));
    // The name goes while the lock is held.
    if (!temporaryPath.empty())
        ::unlink(temporaryPath.c_str());
    temporaryPath.clear();
    descriptor.reset();
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error)
{
    AtomicFile file;
    return file.Open(path, error) && file.Write(bytes.data(), bytes.size(), error)
        && file.Commit(error);
}

bool ResolveLinks(const std::string& path, std::string& resolved, std::string& error)
{
    std::string current = path;
    for (int hop = 0; hop <= MAXIMUM_LINK_HOPS; ++hop) {
        struct stat status { };
        if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            resolved = current;
            return true;
        }
        std::string next;
        if (!ReadLink(current, next)) {
            error = "cannot write " + path + ": cannot read the link " + current + ": "
                + Reason(errno);
            return false;
        }
        current = !next.empty() && next.front() == '/' ? next : Split(current).folder + next;
    }
    error = "cannot write " + path + ": " + Reason(ELOOP);
    return false;
}

std::string TemporaryPrefixFor(const std::string& fileName)
{
    return "." + fileName.substr(0, LONGEST_ENTRY_NAME - RANDOM_LETTERS - 2) + "-";
}

int RemoveStaleTemporaries(const std::string& folder, const std::string& prefix)
{
    const std::unique_ptr<DIR, CloseFolder> entries(::opendir(OpenableFolder(folder).c_str()));
    if (!entries || prefix.empty())
        return 0;
    // The names first: what readdir shows after an unlink in the same folder is unspecified.
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(entries.get())) {
        if (IsTemporaryName(entry->d_name, prefix))
            names.emplace_back(entry->d_name);
    }
    int removed = 0;
    for (const std::string& name : names)
        removed += RemoveIfStale(::dirfd(entries.get()), name) ? 1 : 0;
    return removed;
}

int RemoveStaleTemporariesOf(const std::string& path)
{
    std::string target, ignored;
    if (path.empty() || !ResolveLinks(path, target, ignored))
        return 0;
    const PathParts parts = Split(target);
    if (parts.name.empty())
        return 0;
    return RemoveStaleTemporaries(parts.folder, TemporaryPrefixFor(parts.name));
}

} // namespace corvane
