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

namespace corvane {

class AtomicFile;

constexpr std::uint32_t PACKAGE_MAGIC = 0x0001560A;
constexpr std::uint32_t RECORD_FEED = 0;
constexpr std::uint32_t RECORD_MP3 = 1;
constexpr std::uint32_t RECORD_AMR = 2;

// The short name of a record type as tools show it: "feed", "mp3", "amr", or "?".
const char* RecordTypeName(std::uint32_t type);

// One package being written. Owner of the open temporary file (held through unique_ptr; not
// copyable). One thread at a time.
class CPackageFile {
public:
    // Opens the package through an AtomicFile: a hidden temporary ".<name>-XXXXXX" beside the
    // file that finalPath leads to (a symbolic link at finalPath stays a link and its target is
    // replaced), locked while it is written, with the permission bits of the package it replaces
    // (else 0666 less the umask, like any document). On failure returns null and puts a message
    // naming the file and the reason into error. finalPath itself is not touched before Commit.
    static std::unique_ptr<CPackageFile> Create(const std::string& finalPath, std::string& error);
    ~CPackageFile(); // an uncommitted package is discarded: the temporary file is removed
    CPackageFile(const CPackageFile&) = delete;
    CPackageFile& operator=(const CPackageFile&) = delete;

    // Appends bytes; false (and Failed() from then on) on a write error.
    bool Write(const void* data, std::size_t size);
    bool WriteUint32(std::uint32_t value); // little-endian

    // Appends length bytes of the open file sourceFd from offset, in the kernel where it can
    // (copy_file_range), else in 1 MiB pieces: memory stays small whatever the length.
    // sourcePath only names the file in messages. A source that ends early or cannot be read
    // fails the package too, since the length written before the data would then be a lie.
    bool CopyFrom(
        int sourceFd, std::uint64_t offset, std::uint64_t length, const std::string& sourcePath);

    // Marks the package failed with message (the first message is kept); returns false.
    bool Fail(const std::string& message);

    bool Failed() const { return failed; }
    std::uint64_t Size() const { return size; } // bytes written so far
    const std::string& FinalPath() const { return finalPath; }
    const std::string& ErrorText() const { return errorText; }

    // Flushes the temporary file to disk and renames it over the final path; a final file that
    // already holds exactly these bytes is kept instead (AtomicFile::CommitUnlessUnchanged). False
    // (with ErrorText) when any write failed or the commit failed; the temporary file is then
    // removed and the previous package stays. Nothing may be written after Commit.
    bool Commit();

private:
    CPackageFile(std::unique_ptr<AtomicFile> atomic, std::FILE* stream, std::string finalPath);
    // The two ways of CopyFrom onto the descriptor target. CopyInKernel stops with done still 0
    // (and true) when the kernel does not offer the copy for these files; both Fail on an error.
    bool CopyInKernel(int sourceFd, int target, std::uint64_t offset, std::uint64_t length,
        std::uint64_t& done, const std::string& sourcePath);
    bool CopyByHand(int sourceFd, int target, std::uint64_t offset, std::uint64_t length,
        std::uint64_t done, const std::string& sourcePath);
    std::unique_ptr<AtomicFile> atomic; // null once Commit ended it
    std::FILE* stream; // atomic's stream; null once Commit closed it
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
// Sources that are not regular files (a FIFO would block the job) and files of 4 GiB or more
// (their length does not fit the 32-bit D) count as unopenable: skipped, sourceMissing set.
bool WritePackageRecord(CPackageFile& file, const std::string& url, std::uint32_t type,
    const std::string& path, bool* sourceMissing = nullptr);

// The data length D and the data of the file at path. The removals look only at the text, the
// bytes before the first zero byte (audio has one within its first bytes, so audio is always
// copied unchanged):
//   - the first "<!DOCTYPE" when not at byte 0, through the '>' that closes it at nesting
//     depth 0 (counted from the 'E'), internal subset included; without such a '>' nothing;
//   - then, in the text as that left it, the first xmlns=" when not at byte 0, through the
//     next '"'; without a closing quote nothing. Prefixed declarations never match.
// Without a removal the data are all the file's bytes, zero bytes included. With one, the data
// are the shortened text alone: the document ends at the first zero byte. The file is scanned and
// copied in pieces (at most a few passes of 1 MiB reads), never read whole, whatever its size. A
// source that cannot be opened writes D = 0 (keeping the stream readable) and sets sourceMissing.
// Returns false on a failure of the package (see CopyFrom).
bool EmbedFile(CPackageFile& file, const std::string& path, bool* sourceMissing = nullptr);

// The name of a record as its bytes: UTF-8 in, UTF-16LE out (2 bytes per code unit, surrogate
// pairs above U+FFFF). Invalid UTF-8 (stray continuation bytes, overlong forms, encoded
// surrogates, values above U+10FFFF, a cut sequence) becomes U+FFFD, one for each longest start
// of a valid sequence, as the Unicode standard recommends.
std::string Utf8ToUtf16Le(const std::string& utf8);

// Test hook: the piece size EmbedFile reads with (and, when set, no in-kernel copy), so that
// tests can put piece boundaries anywhere. 0 restores the default of 1 MiB.
void SetEmbedPieceSizeForTesting(std::size_t bytes);

} // namespace corvane
