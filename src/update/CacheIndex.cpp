#include "update/CacheIndex.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "update/CacheNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <sys/stat.h>
#include <utility>

namespace corvane {

namespace {

constexpr const char* INDEX_HEADER = "corvane-cache-index 1";
// Variant 0 is the plain name; a digest collision on top of a name collision is already
// beyond belief, so a handful of variants is plenty.
constexpr int VARIANTS = 8;

std::string Escape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '\t':
            out += "%09";
            break;
        case '\r':
            out += "%0D";
            break;
        case '\n':
            out += "%0A";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// The reverse of Escape; false for a '%' that Escape cannot have written.
bool Unescape(const std::string& text, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const std::string code = text.substr(i + 1, 2);
        if (code == "25")
            out += '%';
        else if (code == "09")
            out += '\t';
        else if (code == "0D")
            out += '\r';
        else if (code == "0A")
            out += '\n';
        else
            return false;
        i += 2;
    }
    return true;
}

// A regular file, or anything else that stands at the name (which a download must not use).
bool Exists(const std::string& path)
{
    struct stat status { };
    return ::lstat(path.c_str(), &status) == 0;
}

// The index file's bytes through InputFile, which refuses a FIFO (that would block every
// update and clean for good) and anything else that is not a regular file. False with reason
// when a file stands there that cannot be read; true with no bytes when there is none.
bool ReadIndexFile(const std::string& path, std::string& bytes, std::string& reason)
{
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0 && errno == ENOENT)
        return true; // no index yet (or a link to none)
    InputFile file;
    if (!file.Open(path, reason))
        return false;
    char buffer[65536];
    for (long count; (count = file.Read(buffer, sizeof buffer)) != 0;) {
        if (count < 0) {
            reason = std::string("cannot read: ") + std::strerror(errno);
            return false;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace

CCacheIndex::CCacheIndex(std::string dataFolder)
    : folder(std::move(dataFolder))
{
    // What a killed save left goes at every job's start, not only at the next change.
    RemoveStaleTemporariesOf(IndexPath());
    Load();
}

void CCacheIndex::Load()
{
    std::string bytes;
    if (std::string reason; !ReadIndexFile(IndexPath(), bytes, reason)) {
        readError = "cannot read the cache index " + IndexPath() + ": " + reason;
        return;
    }
    std::istringstream in(bytes);
    std::string line;
    if (!std::getline(in, line) || line != INDEX_HEADER)
        return;
    while (std::getline(in, line)) {
        const std::size_t tab = line.find('\t');
        std::string name;
        std::string address;
        if (tab == std::string::npos || !Unescape(line.substr(0, tab), name)
            || !Unescape(line.substr(tab + 1), address) || name.empty())
            continue;
        origins[name] = address;
    }
}

CCacheIndex::Claim CCacheIndex::ClaimForDownload(const std::string& address, int kind)
{
    for (int variant = 0; variant < VARIANTS; ++variant) {
        const std::string path = CacheFileNameVariant(address, kind, variant);
        const std::string name = path.substr(folder.size());
        auto origin = origins.find(name);
        const bool ours = origin != origins.end() && origin->second == address;
        bool newClaim = false;
        if (!ours) {
            // Taken: another address of this run claimed it, or it holds another address's file.
            if (claimedThisRun.count(name))
                continue;
            if (origin != origins.end() && Exists(path))
                continue;
            // Free, or a file of unknown origin: the download must not be answered with a 304
            // for bytes that may be another address's, so those bytes go. Not while the index is
            // unread: then every file looks of unknown origin.
            if (readError.empty())
                std::remove(path.c_str());
            origins[name] = address;
            changed = newClaim = true;
        }
        claimedThisRun.insert(name);
        return {path, newClaim};
    }
    return {};
}

bool CCacheIndex::SaveIfChanged(std::string& error)
{
    if (!changed)
        return true;
    if (!readError.empty()) {
        // Written now, the index would forget every origin the unread file held.
        error = "the cache index was not saved: " + readError;
        return false;
    }
    std::ostringstream text;
    text << INDEX_HEADER << '\n';
    for (const auto& [name, address] : origins)
        text << Escape(name) << '\t' << Escape(address) << '\n';
    const std::string bytes = text.str();

    std::string reason;
    if (!WriteFileAtomically(IndexPath(), bytes, reason)) {
        error = "the cache index was not saved: " + reason;
        return false;
    }
    changed = false;
    return true;
}

std::string CCacheIndex::Find(const std::string& address, int kind) const
{
    for (int variant = 0; variant < VARIANTS; ++variant) {
        const std::string path = CacheFileNameVariant(address, kind, variant);
        auto origin = origins.find(path.substr(folder.size()));
        if (origin != origins.end() && origin->second == address && Exists(path))
            return path;
    }
    return {};
}

std::string CCacheIndex::OriginOf(const std::string& fileName) const
{
    auto origin = origins.find(fileName);
    return origin == origins.end() ? std::string() : origin->second;
}

std::vector<std::string> CCacheIndex::NamesOf(const std::string& address, int kind) const
{
    std::vector<std::string> names;
    for (int variant = 0; variant < VARIANTS; ++variant) {
        const std::string name = CacheFileNameVariant(address, kind, variant).substr(folder.size());
        if (OriginOf(name) == address && origins.count(name))
            names.push_back(name);
    }
    return names;
}

std::vector<std::string> CCacheIndex::FileNames() const
{
    std::vector<std::string> names;
    names.reserve(origins.size());
    for (const auto& entry : origins)
        names.push_back(entry.first);
    return names;
}

void CCacheIndex::Forget(const std::string& fileName)
{
    if (origins.erase(fileName) > 0)
        changed = true;
    claimedThisRun.erase(fileName);
}

} // namespace corvane
