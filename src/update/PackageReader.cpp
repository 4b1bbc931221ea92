#include "update/PackageReader.h"

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
        const ssize_t got = pread(file.Descriptor(), bytes + done, size - done, static_cast<off_t>(offset + done));
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

    // Each check names the offset of the field that breaks, and how many bytes were left there.
    auto remaining = [this](std::uint64_t at) { return at <= fileSize ? fileSize - at : 0; };
    auto cutShort
        = [this, &remaining](std::uint64_t at, const std::string& field, std::uint64_t needed) {
              return Fail(at,
                  "cut short: " + field + " needs " + std::to_string(needed) + " bytes, "
                      + std::to_string(remaining(at)) + " left");
          };

    if (fileSize < 4)
        return cutShort(0, "the magic number", 4);
    std::uint32_t magic = 0;
    if (!ReadUint32(0, magic))
        return false;
    if (magic != PACKAGE_MAGIC) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", magic);
        return Fail(0, std::string("bad magic number ") + text + " (not a package)");
    }
    magicOk = true;

    if (fileSize < 8)
        return cutShort(4, "the synchronize flag", 4);
    if (!ReadUint32(4, syncFlag))
        return false;
    if (syncFlag > 1)
        return Fail(4, "synchronize flag " + std::to_string(syncFlag) + " is neither 0 nor 1");

    std::uint64_t at = 8;
    if (syncFlag == 1) {
        if (remaining(at) < 4)
            return cutShort(at, "the channel list length", 4);
        if (!ReadUint32(at, channelsLength))
            return false;
        if (channelsLength > remaining(at + 4))
            return Fail(at,
                "channel list length " + std::to_string(channelsLength)
                    + " runs past the end of the file (" + std::to_string(remaining(at + 4))
                    + " bytes left)");
        channelsOffset = at + 4;
        at += 4 + channelsLength;
    }

    while (at < fileSize) {
        PackageRecord record;
        record.offset = at;
        std::uint32_t nameLength = 0;
        if (remaining(at) < 4)
            return cutShort(at, "a record's name length", 4);
        if (!ReadUint32(at, nameLength))
            return false;
        if (nameLength % 2 != 0)
            return Fail(at,
                "odd name length " + std::to_string(nameLength)
                    + " (a UTF-16 name has an even number of bytes)");
        if (nameLength > remaining(at + 4))
            return Fail(at,
                "name length " + std::to_string(nameLength) + " runs past the end of the file ("
                    + std::to_string(remaining(at + 4)) + " bytes left)");
        std::string name(nameLength, '\0');
        if (!ReadExact(at + 4, name.data(), name.size()))
            return false;
        record.name = Utf16LeToUtf8(name);

        const std::uint64_t typeAt = at + 4 + nameLength;
        if (remaining(typeAt) < 4)
            return cutShort(typeAt, "the record type", 4);
        if (!ReadUint32(typeAt, record.type))
            return false;
        if (record.type != RECORD_FEED && record.type != RECORD_MP3 && record.type != RECORD_AMR)
            return Fail(typeAt, "unknown record type " + std::to_string(record.type));

        const std::uint64_t lengthAt = typeAt + 4;
        if (remaining(lengthAt) < 4)
            return cutShort(lengthAt, "the data length", 4);
        if (!ReadUint32(lengthAt, record.dataLength))
            return false;
        record.dataOffset = lengthAt + 4;
        if (record.dataLength > remaining(record.dataOffset))
            return Fail(lengthAt,
                "data length " + std::to_string(record.dataLength)
                    + " runs past the end of the file ("
                    + std::to_string(remaining(record.dataOffset)) + " bytes left)");
        at = record.dataOffset + record.dataLength;
        records.push_back(std::move(record));
    }
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
    const int out
        = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out < 0) {
        error = target + ": cannot write: " + ErrnoText(errno);
        return false;
    }
    std::string writeError;
    const bool copied = Visit(offset, length, [&](const char* data, std::size_t size) {
        while (size > 0) {
            const ssize_t put = ::write(out, data, size);
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
    const bool closed = close(out) == 0;
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
