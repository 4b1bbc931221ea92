// The partial file of one resumable download and its metadata (see CWebAccess::DownloadUrl for
// when they are kept and how they are used). Internal to src/net.
//
// The partial is opened, or created with mode 0600, and held under an exclusive flock(2) for the
// object's life, so two writers never append to the same partial; a cleaner that wants to remove
// a partial takes the same lock first. The metadata file (mode 0600) is replaced through an
// AtomicFile and always describes the bytes of the partial beside it: it goes before the partial
// is emptied and is written again before the first byte of a new body.
//
// Thread: one object per thread.
#pragma once

#include "platform/FileDescriptor.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// What the answer whose body the partial holds said about it.
struct PartialMetadata {
    std::string address; // as the caller passed it
    std::string etag; // a strong entity tag, or empty
    std::string lastModified; // a strong Last-Modified as sent, or empty
    std::optional<std::uint64_t> length; // of the whole file, when announced

    // What If-Range carries: the ETag, else the Last-Modified; empty when there is neither.
    const std::string& Validator() const { return etag.empty() ? lastModified : etag; }

    // A few "name=value" lines under a first line naming the format. Empty when a value holds a
    // line break or a zero byte, which the format cannot carry.
    std::string Serialize() const;
    // False when text is not what Serialize writes, or names no address or no validator.
    static bool Parse(std::string_view text, PartialMetadata& metadata);
};

class PartialDownload {
public:
    PartialDownload() = default;
    // Closes the partial. One without bytes goes with its metadata; one with bytes stays.
    ~PartialDownload();
    PartialDownload(const PartialDownload&) = delete;
    PartialDownload& operator=(const PartialDownload&) = delete;

    // Opens the partial of targetPath and takes its lock. False when another writer holds it, or
    // it cannot be made or is not a regular file (the caller then downloads without resuming).
    bool Open(const std::string& targetPath);
    int Descriptor() const { return descriptor.get(); }
    const std::string& Path() const { return path; }

    // The number of bytes held that may be continued for address, with the metadata of the
    // answer they came from; the write position is then at their end. Otherwise (no bytes, no
    // readable metadata, another address) the partial is emptied and 0 returned.
    std::uint64_t Continuable(const std::string& address, PartialMetadata& metadata);

    // Removes the metadata and empties the partial, so that a body can start at its first byte.
    // False with why in error.
    bool StartOver(std::string& error);
    // Writes the metadata of the body about to start. Without a validator, or when the writing
    // fails, nothing describes the partial and it cannot be kept: false then.
    bool Record(const PartialMetadata& metadata);

    // After a failed attempt: keeps the partial, flushed to disk, when keep is true and it has
    // bytes and metadata; otherwise removes both.
    void Settle(bool keep);
    void Remove();

    // Gives the whole file mode and, unless -1, the modification time, flushes it and renames it
    // over targetPath (same folder), then removes the metadata. False with a message naming
    // targetPath; the partial and its metadata are removed then.
    bool CommitTo(const std::string& targetPath, unsigned int mode, std::int64_t modificationTime,
        std::string& error);

private:
    std::uint64_t Size() const;
    void RemoveMetadata() const;

    std::string path;
    std::string metadataPath;
    FileDescriptor descriptor;
    bool described = false; // the metadata file describes the partial's bytes
};

} // namespace corvane
