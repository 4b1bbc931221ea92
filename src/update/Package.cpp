#include "update/Package.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace corvane {

const char* RecordTypeName(std::uint32_t type)
{
    switch (type) {
    case RECORD_FEED:
        return "feed";
    case RECORD_MP3:
        return "mp3";
    case RECORD_AMR:
        return "amr";
    default:
        return "?";
    }
}

namespace {

constexpr std::size_t DEFAULT_PIECE_SIZE = 1 << 20;
std::atomic<std::size_t> pieceSizeForTesting {0};

std::size_t PieceSize()
{
    const std::size_t size = pieceSizeForTesting.load(std::memory_order_relaxed);
    return size ? size : DEFAULT_PIECE_SIZE;
}

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

// A source file opened for embedding, with its length at the moment it was opened.
struct Source {
    InputFile file;
    std::uint64_t size = 0;
};

// Opens path as a source. Only regular files qualify (see InputFile). Files of 4 GiB or more do
// not fit the 32-bit data length and are refused too.
bool OpenSource(const std::string& path, Source& source)
{
    std::string reason;
    if (!source.file.Open(path, reason))
        return false;
    source.size = source.file.Size();
    return source.size <= std::numeric_limits<std::uint32_t>::max();
}

// Reads up to size bytes at offset; fewer only at the end of the file. -1 on a read error.
long long ReadAt(int fd, char* buffer, std::size_t size, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got
            = pread(fd, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

struct Range {
    std::uint64_t begin;
    std::uint64_t end; // exclusive
};

// The bytes of some ranges of a file, one at a time, read in pieces: the scans below never hold
// more than one piece of a document, however large it is.
class RangeScanner {
public:
    RangeScanner(int fd_, std::vector<Range> ranges_)
        : fd(fd_)
        , ranges(std::move(ranges_))
    {
        // No bigger than what there is to read: a short document needs no 1 MiB buffer.
        std::uint64_t total = 0;
        for (const Range& range : ranges)
            total += range.end - range.begin;
        buffer.resize(static_cast<std::size_t>(std::min<std::uint64_t>(PieceSize(), total)));
        if (!ranges.empty())
            next = ranges.front().begin;
    }

    // The next byte (0 to 255), or -1 at the end of the ranges or on a read error (Failed()).
    int Next()
    {
        if (position == filled && !Refill())
            return -1;
        offset = bufferOffset + position;
        return static_cast<unsigned char>(buffer[position++]);
    }

    // The file offset of the byte Next() returned last.
    std::uint64_t Offset() const { return offset; }
    bool Failed() const { return failed; }

private:
    bool Refill()
    {
        while (rangeIndex < ranges.size() && next >= ranges[rangeIndex].end) {
            if (++rangeIndex < ranges.size())
                next = ranges[rangeIndex].begin;
        }
        if (rangeIndex >= ranges.size())
            return false;
        const std::uint64_t wanted
            = std::min<std::uint64_t>(buffer.size(), ranges[rangeIndex].end - next);
        const long long got = ReadAt(fd, buffer.data(), static_cast<std::size_t>(wanted), next);
        if (got <= 0) {
            // The file is shorter than it was when it was opened, or unreadable.
            failed = true;
            return false;
        }
        bufferOffset = next;
        next += static_cast<std::uint64_t>(got);
        position = 0;
        filled = static_cast<std::size_t>(got);
        return true;
    }

    int fd;
    std::vector<Range> ranges;
    std::vector<char> buffer;
    std::size_t rangeIndex = 0;
    std::uint64_t next = 0; // file offset of the next piece
    std::uint64_t bufferOffset = 0; // file offset of buffer[0]
    std::size_t position = 0;
    std::size_t filled = 0;
    std::uint64_t offset = 0;
    bool failed = false;
};

constexpr std::uint64_t NOT_FOUND = std::numeric_limits<std::uint64_t>::max();

// Finds needle in the scanner's bytes and returns the file offset of its first byte, leaving the
// scanner just past the match. A match may span two ranges, as it would in the text that results
// from cutting a range out. Knuth-Morris-Pratt, so no byte is read twice.
std::uint64_t FindNeedle(RangeScanner& scanner, std::string_view needle)
{
    std::array<std::size_t, 16> failure {};
    std::array<std::uint64_t, 16> offsets {}; // file offsets of the bytes matched so far
    for (std::size_t i = 1, k = 0; i < needle.size(); ++i) {
        while (k > 0 && needle[i] != needle[k])
            k = failure[k - 1];
        if (needle[i] == needle[k])
            ++k;
        failure[i] = k;
    }
    std::size_t matched = 0;
    for (int c = scanner.Next(); c >= 0; c = scanner.Next()) {
        while (matched > 0 && static_cast<char>(c) != needle[matched]) {
            const std::size_t shorter = failure[matched - 1];
            std::copy(offsets.begin() + static_cast<std::ptrdiff_t>(matched - shorter),
                offsets.begin() + static_cast<std::ptrdiff_t>(matched), offsets.begin());
            matched = shorter;
        }
        if (static_cast<char>(c) == needle[matched]) {
            offsets[matched++] = scanner.Offset();
            if (matched == needle.size())
                return offsets[0];
        }
    }
    return NOT_FOUND;
}

// The length of the text: the bytes up to the first zero byte, or the whole file.
bool FindTextEnd(int fd, std::uint64_t size, std::uint64_t& textEnd)
{
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(PieceSize(), size)));
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t wanted
            = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), size - at));
        const long long got = ReadAt(fd, buffer.data(), wanted, at);
        if (got <= 0)
            return false;
        if (const void* zero = std::memchr(buffer.data(), 0, static_cast<std::size_t>(got))) {
            textEnd
                = at + static_cast<std::uint64_t>(static_cast<const char*>(zero) - buffer.data());
            return true;
        }
        at += static_cast<std::uint64_t>(got);
    }
    textEnd = size;
    return true;
}

// The ranges of [0, size) that remain when removed (sorted, non-overlapping) is cut out.
std::vector<Range> Remaining(std::uint64_t size, const std::vector<Range>& removed)
{
    std::vector<Range> kept;
    std::uint64_t at = 0;
    for (const Range& cut : removed) {
        if (cut.begin > at)
            kept.push_back({at, cut.begin});
        at = std::max(at, cut.end);
    }
    if (at < size)
        kept.push_back({at, size});
    return kept;
}

// Works out which bytes of a feed document the two removals take out, scanning the text in
// pieces (at most three passes over it; an audio file stops at the zero byte in its first piece).
//
// The removals search only the text, the bytes before the first zero byte. dataEnd is where the
// data end: the end of the text when a removal happened (the phone's reader takes the document
// as the text, so the bytes from the zero byte on are not part of it), else the end of the file
// (a file left unchanged is copied whole, zero bytes included, which keeps audio intact).
bool PlanRemovals(const Source& source, std::vector<Range>& removed, std::uint64_t& dataEnd)
{
    removed.clear();
    dataEnd = source.size;
    std::uint64_t textEnd = 0;
    if (!FindTextEnd(source.file.Descriptor(), source.size, textEnd))
        return false;

    // The document type declaration, internal subset and all, unless it opens the file.
    RangeScanner doctypeScanner(source.file.Descriptor(), {{0, textEnd}});
    const std::uint64_t doctype = FindNeedle(doctypeScanner, "<!DOCTYPE");
    if (doctypeScanner.Failed())
        return false;
    if (doctype != NOT_FOUND && doctype > 0) {
        RangeScanner walk(source.file.Descriptor(), {{doctype + 8, textEnd}});
        int depth = 0;
        for (int c = walk.Next(); c >= 0; c = walk.Next()) {
            if (c == '<') {
                ++depth;
            } else if (c == '>') {
                if (depth == 0) {
                    removed.push_back({doctype, walk.Offset() + 1});
                    break;
                }
                --depth;
            }
        }
        if (walk.Failed())
            return false;
    }

    // The first default namespace attribute of the text as the first removal left it.
    RangeScanner namespaceScanner(source.file.Descriptor(), Remaining(textEnd, removed));
    const std::uint64_t attribute = FindNeedle(namespaceScanner, "xmlns=\"");
    if (namespaceScanner.Failed())
        return false;
    // Byte 0 of the file is byte 0 of the shortened text too (a declaration at byte 0 is never
    // removed), so "not at the start" reads the same in both.
    if (attribute != NOT_FOUND && attribute > 0) {
        for (int c = namespaceScanner.Next(); c >= 0; c = namespaceScanner.Next()) {
            if (c == '"') {
                // The attribute may begin before the removed declaration and end after it; the
                // declaration is gone already, so the two cuts join into one.
                Range cut {attribute, namespaceScanner.Offset() + 1};
                if (!removed.empty() && removed.front().begin >= cut.begin
                    && removed.front().end <= cut.end)
                    removed.front() = cut;
                else
                    removed.push_back(cut);
                break;
            }
        }
        if (namespaceScanner.Failed())
            return false;
    }
    std::sort(removed.begin(), removed.end(),
        [](const Range& a, const Range& b) { return a.begin < b.begin; });
    if (!removed.empty())
        dataEnd = textEnd;
    return true;
}

// Writes D and the data of an opened source: every byte, or with the removals when asked.
bool EmbedSource(
    CPackageFile& file, const Source& source, const std::string& path, bool withRemovals)
{
    if (file.Failed())
        return false;
    std::vector<Range> removed;
    std::uint64_t dataEnd = source.size;
    if (withRemovals && !PlanRemovals(source, removed, dataEnd))
        return file.Fail("cannot read " + path + " while packing it");
    const std::vector<Range> kept = Remaining(dataEnd, removed);
    std::uint64_t length = 0;
    for (const Range& range : kept)
        length += range.end - range.begin;
    if (!file.WriteUint32(static_cast<std::uint32_t>(length)))
        return false;
    for (const Range& range : kept) {
        if (!file.CopyFrom(source.file.Descriptor(), range.begin, range.end - range.begin, path))
            return false;
    }
    return true;
}

} // namespace

void SetEmbedPieceSizeForTesting(std::size_t bytes)
{
    pieceSizeForTesting.store(bytes, std::memory_order_relaxed);
}

std::unique_ptr<CPackageFile> CPackageFile::Create(const std::string& finalPath, std::string& error)
{
    auto atomic = std::make_unique<AtomicFile>();
    if (!atomic->Open(finalPath, error))
        return nullptr;
    std::FILE* stream = atomic->Stream(error);
    if (!stream)
        return nullptr;
    return std::unique_ptr<CPackageFile>(new CPackageFile(std::move(atomic), stream, finalPath));
}

CPackageFile::CPackageFile(
    std::unique_ptr<AtomicFile> atomic_, std::FILE* stream_, std::string finalPath_)
    : atomic(std::move(atomic_))
    , stream(stream_)
    , finalPath(std::move(finalPath_))
{ }

CPackageFile::~CPackageFile() = default;

bool CPackageFile::Fail(const std::string& message)
{
    if (!failed) {
        failed = true;
        errorText = message;
    }
    return false;
}

bool CPackageFile::Write(const void* data, std::size_t count)
{
    if (failed || !stream)
        return false;
    if (count == 0)
        return true;
    if (std::fwrite(data, 1, count, stream) != count)
        return Fail("cannot write package " + finalPath + ": " + ErrnoText(errno));
    size += count;
    return true;
}

bool CPackageFile::WriteUint32(std::uint32_t value)
{
    const unsigned char bytes[4]
        = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return Write(bytes, sizeof bytes);
}

bool CPackageFile::CopyFrom(
    int sourceFd, std::uint64_t offset, std::uint64_t length, const std::string& sourcePath)
{
    if (failed || !stream)
        return false;
    if (length == 0)
        return true;
    // The copy goes to the descriptor directly, so what the stream holds must go first.
    if (std::fflush(stream) != 0)
        return Fail("cannot write package " + finalPath + ": " + ErrnoText(errno));
    const int target = fileno(stream);
    std::uint64_t done = 0;
    // Not under the small test pieces, which exercise the copy by hand.
    if (pieceSizeForTesting.load(std::memory_order_relaxed) == 0
        && !CopyInKernel(sourceFd, target, offset, length, done, sourcePath))
        return false;
    if (done < length && !CopyByHand(sourceFd, target, offset, length, done, sourcePath))
        return false;
    // The stream's idea of the position must follow what the descriptor did.
    if (fseeko(stream, 0, SEEK_END) != 0)
        return Fail("cannot write package " + finalPath + ": " + ErrnoText(errno));
    size += length;
    return true;
}

bool CPackageFile::CopyInKernel(int sourceFd, int target, std::uint64_t offset,
    std::uint64_t length, std::uint64_t& done, const std::string& sourcePath)
{
    // The kernel copies without passing the bytes through this process (and may share blocks
    // on file systems that can).
    while (done < length) {
        loff_t from = static_cast<loff_t>(offset + done);
        const ssize_t copied = copy_file_range(
            sourceFd, &from, target, nullptr, static_cast<std::size_t>(length - done), 0);
        if (copied > 0) {
            done += static_cast<std::uint64_t>(copied);
        } else if (copied == 0) {
            return Fail("cannot pack " + sourcePath + ": the file became shorter while packing");
        } else if (errno == EINTR) {
            continue;
        } else if (done == 0
            && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP
                || errno == EBADF || errno == EPERM)) {
            return true; // not offered for these two files: copy by hand
        } else {
            return Fail(
                "cannot pack " + sourcePath + " into " + finalPath + ": " + ErrnoText(errno));
        }
    }
    return true;
}

bool CPackageFile::CopyByHand(int sourceFd, int target, std::uint64_t offset, std::uint64_t length,
    std::uint64_t done, const std::string& sourcePath)
{
    std::vector<char> buffer(
        static_cast<std::size_t>(std::min<std::uint64_t>(PieceSize(), length - done)));
    while (done < length) {
        const std::size_t wanted
            = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        const long long got = ReadAt(sourceFd, buffer.data(), wanted, offset + done);
        if (got < 0)
            return Fail("cannot read " + sourcePath + ": " + ErrnoText(errno));
        if (got == 0)
            return Fail("cannot pack " + sourcePath + ": the file became shorter while packing");
        for (std::size_t written = 0; written < static_cast<std::size_t>(got);) {
            const ssize_t put
                = ::write(target, buffer.data() + written, static_cast<std::size_t>(got) - written);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return Fail(
                    "cannot write package " + finalPath + ": " + ErrnoText(put < 0 ? errno : EIO));
            written += static_cast<std::size_t>(put);
        }
        done += static_cast<std::uint64_t>(got);
    }
    return true;
}

bool CPackageFile::Commit()
{
    if (committed)
        return true;
    if (!atomic)
        return false;
    stream = nullptr; // closed by the commit, or with the temporary file
    std::string error;
    // An update where no feed changed packs the bytes of the package there: it stays.
    if (!failed && !atomic->CommitUnlessUnchanged(error))
        Fail(error);
    atomic.reset();
    committed = !failed;
    return committed;
}

bool WritePackageMagic(CPackageFile& file)
{
    return file.WriteUint32(PACKAGE_MAGIC);
}

bool WriteChannelsSection(CPackageFile& file, int syncChannels, const std::string& channelsPath)
{
    if (!file.WriteUint32(syncChannels ? 1 : 0))
        return false;
    if (!syncChannels)
        return true;
    // The channels file is replaced by renaming (never rewritten in place), so the descriptor
    // opened here sees one complete version of it however the tree changes meanwhile.
    Source source;
    if (!OpenSource(channelsPath, source))
        return file.WriteUint32(0);
    return EmbedSource(file, source, channelsPath, false);
}

bool WritePackageRecord(CPackageFile& file, const std::string& url, std::uint32_t type,
    const std::string& path, bool* sourceMissing)
{
    if (sourceMissing)
        *sourceMissing = false;
    if (file.Failed())
        return false;
    // Opened before anything is written, so that a missing source leaves no half record.
    Source source;
    const std::string name = Utf8ToUtf16Le(url);
    if (!OpenSource(path, source) || name.size() > std::numeric_limits<std::uint32_t>::max()) {
        if (sourceMissing)
            *sourceMissing = true;
        return true;
    }
    return file.WriteUint32(static_cast<std::uint32_t>(name.size()))
        && file.Write(name.data(), name.size()) && file.WriteUint32(type)
        && EmbedSource(file, source, path, true);
}

bool EmbedFile(CPackageFile& file, const std::string& path, bool* sourceMissing)
{
    if (sourceMissing)
        *sourceMissing = false;
    Source source;
    if (!OpenSource(path, source)) {
        if (sourceMissing)
            *sourceMissing = true;
        return file.WriteUint32(0);
    }
    return EmbedSource(file, source, path, true);
}

std::string Utf8ToUtf16Le(const std::string& utf8)
{
    std::string out;
    out.reserve(utf8.size() * 2);
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const Utf8Scalar scalar = DecodeUtf8At(utf8, i);
        std::uint32_t value = scalar.value;
        if (value >= 0x10000) {
            value -= 0x10000;
            put(0xD800 | (value >> 10));
            put(0xDC00 | (value & 0x3FF));
        } else {
            put(value);
        }
        i += scalar.length;
    }
    return out;
}

} // namespace corvane
