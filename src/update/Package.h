// The package file: the one file Corvane produces for the phone.
//
// Layout (all integers 32-bit unsigned little-endian, no padding):
//   PACKAGE_MAGIC
//   synchronize flag (1 when the channel list follows)
//   [length L, then the L bytes of the channels file]   only when the flag is 1
//   records until the end of the file, each:
//     N (bytes of the name), the name as UTF-16LE (no terminator), type, D, D data bytes
//
// The package is written under a temporary name beside its final path and renamed over it by
// Commit(), so a cancelled or crashed job leaves the previous package as it was.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

constexpr std::uint32_t PACKAGE_MAGIC = 0x0001560A;
constexpr std::uint32_t RECORD_FEED = 0;
constexpr std::uint32_t RECORD_MP3 = 1;
constexpr std::uint32_t RECORD_AMR = 2;

// One package being written. Move-only owner of the open temporary file.
class CPackageFile {
public:
    // Opens a new private temporary file beside finalPath. On failure returns null and puts a
    // message naming the file and the reason into error.
    static std::unique_ptr<CPackageFile> Create(const std::string& finalPath, std::string& error);
    ~CPackageFile();  // an uncommitted package is discarded: the temporary file is removed
    CPackageFile(const CPackageFile&) = delete;
    CPackageFile& operator=(const CPackageFile&) = delete;

    // Appends bytes; false (and Failed() from then on) on a write error.
    bool Write(const void* data, std::size_t size);
    bool WriteUint32(std::uint32_t value);

    bool Failed() const { return failed; }
    std::uint64_t Size() const { return size; }     // bytes written so far
    const std::string& FinalPath() const { return finalPath; }
    const std::string& ErrorText() const { return errorText; }

    // Flushes, closes and renames the temporary file over the final path. False (with
    // ErrorText) when any write failed or the rename failed; the previous package then stays.
    bool Commit();

private:
    CPackageFile(std::FILE* file, std::string temporaryPath, std::string finalPath);
    std::FILE* file;
    std::string temporaryPath;
    std::string finalPath;
    std::string errorText;
    std::uint64_t size = 0;
    bool failed = false;
    bool committed = false;
};

// The writers return false on a write error of the package (the package is then Failed()).

bool WritePackageMagic(CPackageFile& file);

// The synchronize flag (syncChannels nonzero gives 1), then while it is 1 the 4-byte length and
// the bytes of the channels file at channelsPath, unchanged. An empty or unreadable channels file
// gives a length of 0, which keeps the stream readable.
bool WriteChannelsSection(CPackageFile& file, int syncChannels, const std::string& channelsPath);

// One record: N, url as UTF-16LE (converted from UTF-8), type, then the data of the file at path
// through EmbedFile. A source file that cannot be opened writes no record at all and returns
// true with sourceMissing set (when given); an empty source file gives a record with D = 0.
bool WritePackageRecord(CPackageFile& file, const std::string& url, std::uint32_t type,
                        const std::string& path, bool* sourceMissing = nullptr);

// The data length and data of the file at path: a text document (no zero byte in its first
// piece) has its first "<!DOCTYPE ...>" removed when it does not stand at byte 0 and its first
// default namespace attribute xmlns="..." removed when not at byte 0; anything else is copied
// unchanged, in pieces, never read whole.
bool EmbedFile(CPackageFile& file, const std::string& path, bool* sourceMissing = nullptr);

// The name of a record as its bytes: UTF-8 in, UTF-16LE out (2 bytes per code unit).
std::string Utf8ToUtf16Le(const std::string& utf8);
