// Reading a package file back: for people (corvane-cli inspect and extract) and for tests.
//
// The reader walks the package's head and the heads of its records, seeking past the data, so a
// package of any size is read in small steps; record data is visited or copied afterwards by
// offset. A package that is cut short or malformed stops the walk at the first fault: what was
// read before it stays available, and Error() names the file, the offset and the fault.
#pragma once

#include "platform/InputFile.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

struct PackageRecord {
    std::uint64_t offset = 0; // where the record starts (its name length)
    std::uint32_t type = 0; // RECORD_FEED, RECORD_MP3 or RECORD_AMR
    std::string name; // the name converted to UTF-8 (lone surrogates as U+FFFD)
    std::uint64_t dataOffset = 0; // where its data start
    std::uint32_t dataLength = 0;
};

// One package file opened for reading. Move-only owner of the open file. One thread at a time.
class CPackageReader {
public:
    CPackageReader() = default;
    CPackageReader(CPackageReader&& other) noexcept = default;
    CPackageReader& operator=(CPackageReader&& other) noexcept = default;
    CPackageReader(const CPackageReader&) = delete;
    CPackageReader& operator=(const CPackageReader&) = delete;

    // Opens path and reads the head and every record's head. False when the file cannot be
    // opened or the package breaks somewhere: bad magic, a synchronize flag other than 0 or 1,
    // a length that runs past the end of the file, an odd name length, an unknown record type.
    // Records before the fault are kept in Records().
    bool Open(const std::string& path);

    // "<path>: <reason>" or "<path>: at offset <O>: <reason>"; empty after a clean Open.
    const std::string& Error() const { return error; }
    const std::string& Path() const { return path; }
    std::uint64_t FileSize() const { return fileSize; }

    bool MagicOk() const { return magicOk; }
    std::uint32_t SyncFlag() const { return syncFlag; }
    // The channel list's place, present only when the flag is 1 (and its length was readable).
    std::optional<std::uint64_t> ChannelsOffset() const { return channelsOffset; }
    std::uint32_t ChannelsLength() const { return channelsLength; }
    const std::vector<PackageRecord>& Records() const { return records; }

    // Hands length bytes from offset to visit in pieces of at most 1 MiB; visit returns false to
    // stop (then Visit returns false too). False with Error() set when the bytes cannot be read.
    bool Visit(std::uint64_t offset, std::uint64_t length,
        const std::function<bool(const char* data, std::size_t size)>& visit);
    // The bytes as one string: for small data (names, feed documents, tests).
    std::optional<std::string> ReadBytes(std::uint64_t offset, std::uint64_t length);
    // Copies the bytes into a new file at target (replacing a file, never following a link
    // there). False with Error() naming the target on failure.
    bool CopyTo(std::uint64_t offset, std::uint64_t length, const std::string& target);

private:
    bool Fail(std::uint64_t offset, const std::string& reason);
    bool ReadExact(std::uint64_t offset, void* buffer, std::size_t size);
    bool ReadUint32(std::uint64_t offset, std::uint32_t& value);
    // The walk of Open, in parts; each fails naming the offset and the field that breaks.
    std::uint64_t Remaining(std::uint64_t at) const;
    bool CutShort(std::uint64_t at, const std::string& field, std::uint64_t needed);
    bool ReadField(std::uint64_t at, const char* field, std::uint32_t& value);
    bool RunsPast(std::uint64_t at, const char* field, std::uint32_t length, std::uint64_t from);
    bool ReadHead(std::uint64_t& at);
    bool ReadRecordHead(std::uint64_t at, PackageRecord& record);

    InputFile file;
    std::string path;
    std::string error;
    std::uint64_t fileSize = 0;
    bool magicOk = false;
    std::uint32_t syncFlag = 0;
    std::optional<std::uint64_t> channelsOffset;
    std::uint32_t channelsLength = 0;
    std::vector<PackageRecord> records;
};

// UTF-16LE bytes to UTF-8; an unpaired surrogate becomes U+FFFD, an odd last byte is ignored.
std::string Utf16LeToUtf8(const std::string& utf16);

} // namespace corvane
