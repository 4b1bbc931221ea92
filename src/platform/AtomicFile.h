// The one way Corvane replaces a file: write everything under a hidden temporary name beside the
// final file, flush it to disk, rename it over the final file, flush the folder. A reader sees
// the old content or the new, never half of it; a failure or a crash leaves the old file as it
// was (and at worst a hidden temporary, which the next write of that file clears, or
// RemoveStaleTemporaries for a temporary of a shared prefix).
//
// Symbolic links. The final file is where the path's symbolic links lead (a chain of them, and a
// dangling one: the file is then created where the link points); the links themselves stay
// links. A target that exists and is not a regular file (a folder, a FIFO, a device) is refused.
//
// Permissions. A replaced file keeps its permission bits; a new one gets 0666 less the umask.
//
// Temporaries and their lock. The temporary is "<prefix>XXXXXX" (six random letters and digits)
// in the target's folder; the prefix is "." + the target's file name + "-" unless the caller
// names one. The writer holds an exclusive flock(2) on it from the moment it exists until it is
// renamed or removed. The kernel drops that lock when the writer dies however it dies, and a
// flock belongs to one open file, not to a process, so a cleaner in the same process tells a live
// writer from a dead one as well as a cleaner in another process does. (A process id in the name
// would not: ids are reused, and differ between the pid namespaces that share one home folder.)
//
// Errors are one line naming the file and the reason (strerror).
// Thread: one object per thread; distinct objects share nothing. Plain POSIX, no Qt.
#pragma once

#include "platform/FileDescriptor.h"

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace corvane {

class AtomicFile {
public:
    AtomicFile() = default;
    ~AtomicFile(); // an uncommitted temporary is removed; the target stays as it was
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Resolves path's links, checks the target, removes the target's temporaries that no live
    // writer holds (RemoveStaleTemporariesOf) and creates the locked temporary. False with a
    // message in error when path is empty, the target is not a regular file, the links loop, or
    // the folder cannot take the temporary (a missing folder among them). The target itself is
    // not touched before Commit. Call once.
    bool Open(const std::string& path, std::string& error);
    // The same with a temporary named temporaryPrefix + "XXXXXX" (a short fixed prefix for
    // targets whose names may be close to the longest a folder takes). Removes no temporaries:
    // the prefix is shared by other targets, and its owner clears them.
    bool Open(const std::string& path, const std::string& temporaryPrefix, std::string& error);

    // The temporary's descriptor, open for writing; -1 when not open.
    int Descriptor() const { return descriptor.get(); }
    // Appends bytes at the descriptor's offset. False with a message on a write error.
    bool Write(const void* data, std::size_t size, std::string& error);
    // A buffered stdio stream over the temporary, made at the first call and owned here (never
    // fclose it); Commit flushes it. Null with a message when it cannot be made. Writes through
    // the descriptor must follow a fflush of the stream.
    std::FILE* Stream(std::string& error);

    // Flushes the stream, fsyncs the temporary, renames it over the target and fsyncs the
    // folder. False with a message, the temporary removed and the target as it was, when any of
    // the first three fails. (The folder's fsync comes after the new file is in place: when it
    // alone fails, the new content stands and Commit says true.) Nothing may be written after.
    bool Commit(std::string& error);
    // The same, except that a target whose bytes are already those of the temporary is kept as
    // it is: the temporary goes, nothing is synced or renamed, and KeptTarget() says so. For a
    // large file that is mostly written again unchanged (the package after a morning where no
    // feed changed), a read of both copies costs far less than putting one on the disk again.
    bool CommitUnlessUnchanged(std::string& error);
    bool KeptTarget() const { return keptTarget; }

    // Where the file goes once committed: path with its links resolved.
    const std::string& TargetPath() const { return targetPath; }
    const std::string& TemporaryPath() const { return temporaryPath; }

private:
    bool CreateTemporary(const std::string& prefix, std::string& error);
    bool CloseStream(std::string& error); // flushes and closes the stream, if any
    void Discard();

    std::string targetPath;
    std::string temporaryPath;
    FileDescriptor descriptor;
    std::FILE* stream = nullptr;
    bool targetExists = false;
    bool keptTarget = false;
    unsigned int targetMode = 0;
};

// Replaces the file at path with bytes through an AtomicFile.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

// Where path leads: its chain of symbolic links followed (relative links from the link's own
// folder), also to a name that does not exist yet. False with a message when the chain loops.
bool ResolveLinks(const std::string& path, std::string& resolved, std::string& error);

// The temporary prefix of a target's file name: "." + name + "-", the name cut so that the
// temporary's name stays within the 255 bytes a folder entry may have.
std::string TemporaryPrefixFor(const std::string& fileName);

// Removes the temporaries "<prefix>XXXXXX" in folder that no live writer holds: regular files
// whose lock can be taken at once. Links, folders, other names and locked files stay. A missing
// or unreadable folder removes nothing. Returns how many files were removed.
int RemoveStaleTemporaries(const std::string& folder, const std::string& prefix);

// RemoveStaleTemporaries for the temporaries an AtomicFile with the default prefix leaves for
// path: in the folder of path's resolved target, with that target's prefix.
int RemoveStaleTemporariesOf(const std::string& path);

} // namespace corvane
