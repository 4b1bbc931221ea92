#include "update/PackageReader.h"

#include "platform/FileDescriptor.h"
#include "platform/Utf8.h"
#include "update/Package.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace corvane {

namespace {

constexpr std::size_t PIECE_SIZE = 1 << 20;

std::string ErrnoText(int error)
{
    return std::generic_category().message(error);
}

} // namespace

std::string Utf16LeToUtf8(const std::string& utf16)
{
    std::string out;
    out.reserve(utf16.size());
    const std::size_t units = utf16.size() / 2;
    auto unitAt = [&utf16](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(utf16[2 * i]))
            | static_cast<std::uint32_t>(static_cast<unsigned char>(utf16[2 * i + 1])) << 8;
    };
    for (std::size_t i = 0; i < units; ++i) {
        const std::uint32_t unit = unitAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units) {
            const std::uint32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return out;
}

bool CPackageReader::Fail(std::uint64_t offset, const std::string& reason)
{
    error = path + ": at offset " + std::to_string(offset) + ": " + reason;
    return false;
}

bool CPackageReader::ReadExact(std::uint64_t offset, void* buffer, std::size_t size)
{
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = pread(
            file.Descriptor(), bytes + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = path + ": cannot read at offset " + std::to_string(offset + done) + ": "
                + ErrnoText(errno);
            return false;
        }
        if (got == 0) {
            error = path + ": at offset " + std::to_string(offset + done)
                + ": the file ended while being read";
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool CPackageReader::ReadUint32(std::uint64_t offset, std::uint32_t& value)
{
    unsigned char bytes[4];
    if (!ReadExact(offset, bytes, sizeof bytes))
        return false;
    value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8
        | static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
    return true;
}

std::uint64_t CPackageReader::Remaining(std::uint64_t at) const
{
    return at <= fileSize ? fileSize - at : 0;
}

// Each check names the offset of the field that breaks, and how many bytes were left there.
bool CPackageReader::CutShort(std::uint64_t at, const std::string& field, std::uint64_t needed)
{
    return Fail(at,
        "cut short: " + field + " needs " + std::to_string(needed) + " bytes, "
            + std::to_string(Remaining(at)) + " left");
}

bool CPackageReader::ReadField(std::uint64_t at, const char* field, std::uint32_t& value)
{
    if (Remaining(at) < 4)
        return CutShort(at, field, 4);
    return ReadUint32(at, value);
}

bool CPackageReader::RunsPast(
    std::uint64_t at, const char* field, std::uint32_t length, std::uint64_t from)
{
    return Fail(at,
        std::string(field) + " " + std::to_string(length) + " runs past the end of the file ("
            + std::to_string(Remaining(from)) + " bytes left)");
}

bool CPackageReader::Open(const std::string& path_)
{
    *this = CPackageReader();
    path = path_;
    std::string reason;
    if (!file.Open(path, reason)) {
        error = path + ": " + reason;
        return false;
    }
    fileSize = file.Size();
    std::uint64_t at = 0;
    if (!ReadHead(at))
        return false;
    while (at < fileSize) {
        PackageRecord record;
        if (!ReadRecordHead(at, record))
            return false;
        at = record.dataOffset + record.dataLength;
        records.push_back(std::move(record));
    }
    return true;
}

bool CPackageReader::ReadHead(std::uint64_t& at)
{
    std::uint32_t magic = 0;
    if (!ReadField(0, "the magic number", magic))
        return false;
    if (magic != PACKAGE_MAGIC) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", magic);
        return Fail(0, std::string("bad magic number ") + text + " (not a package)");
    }
    magicOk = true;

    if (!ReadField(4, "the synchronize flag", syncFlag))
        return false;
    if (syncFlag > 1)
        return Fail(4, "synchronize flag " + std::to_string(syncFlag) + " is neither 0 nor 1");

    at = 8;
    if (syncFlag == 1) {
        if (!ReadField(at, "the channel list length", channelsLength))
            return false;
        if (channelsLength > Remaining(at + 4))
            return RunsPast(at, "channel list length", channelsLength, at + 4);
        channelsOffset = at + 4;
        at += 4 + channelsLength;
    }
    return true;
}

bool CPackageReader::ReadRecordHead(std::uint64_t at, PackageRecord& record)
{
    record.offset = at;
    std::uint32_t nameLength = 0;
    if (!ReadField(at, "a record's name length", nameLength))
        return false;
    if (nameLength % 2 != 0)
        return Fail(at,
            "odd name length " + std::to_string(nameLength)
                + " (a UTF-16 name has an even number of bytes)");
    if (nameLength > Remaining(at + 4))
        return RunsPast(at, "name length", nameLength, at + 4);
    std::string name(nameLength, '\0');
    if (!ReadExact(at + 4, name.data(), name.size()))
        return false;
    record.name = Utf16LeToUtf8(name);

    const std::uint64_t typeAt = at + 4 + nameLength;
    if (!ReadField(typeAt, "the record type", record.type))
        return false;
    if (record.type != RECORD_FEED && record.type != RECORD_MP3 && record.type != RECORD_AMR)
        return Fail(typeAt, "unknown record type " + std::to_string(record.type));

    const std::uint64_t lengthAt = typeAt + 4;
    if (!ReadField(lengthAt, "the data length", record.dataLength))
        return false;
    record.dataOffset = lengthAt + 4;
    if (record.dataLength > Remaining(record.dataOffset))
        return RunsPast(lengthAt, "data length", record.dataLength, record.dataOffset);
    return true;
}

bool CPackageReader::Visit(std::uint64_t offset, std::uint64_t length,
    const std::function<bool(const char*, std::size_t)>& visit)
{
    if (!file.IsOpen()) {
        error = path + ": not open";
        return false;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(PIECE_SIZE, length)));
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t piece
            = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - done));
        if (!ReadExact(offset + done, buffer.data(), piece))
            return false;
        if (!visit(buffer.data(), piece))
            return false;
        done += piece;
    }
    return true;
}

std::optional<std::string> CPackageReader::ReadBytes(std::uint64_t offset, std::uint64_t length)
{
    std::string bytes;
    if (!Visit(offset, length, [&bytes](const char* data, std::size_t size) {
            bytes.append(data, size);
            return true;
        }))
        return std::nullopt;
    return bytes;
}

bool CPackageReader::CopyTo(std::uint64_t offset, std::uint64_t length, const std::string& target)
{
    // O_NOFOLLOW: a link planted in the target folder must not redirect the write elsewhere.
    FileDescriptor out(
        open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644));
    if (!out.valid()) {
        error = target + ": cannot write: " + ErrnoText(errno);
        return false;
    }
    std::string writeError;
    const bool copied = Visit(offset, length, [&](const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t put = ::write(out.get(), data, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                writeError = target + ": cannot write: " + ErrnoText(put < 0 ? errno : EIO);
                return false;
            }
            data += put;
            size -= static_cast<std::size_t>(put);
        }
        return true;
    });
    // Closed here, not by the owner: a delayed write error shows only at the close.
    const bool closed = close(out.release()) == 0;
    if (!writeError.empty()) {
        error = writeError;
        return false;
    }
    if (!closed) {
        error = target + ": cannot write: " + ErrnoText(errno);
        return false;
    }
    return copied;
}

} // namespace corvane
