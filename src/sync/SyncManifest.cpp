#include "sync/SyncManifest.h"

#include "platform/InputFile.h"

#include <charconv>
#include <vector>

namespace corvane {

namespace {

constexpr const char* kFirstLine = "corvane-sync 1";
constexpr std::size_t kLargestManifest = 16 << 20;

std::string Escape(const std::string& path)
{
    std::string escaped;
    for (const char character : path) {
        switch (character) {
        case '%':
            escaped += "%25";
            break;
        case '\t':
            escaped += "%09";
            break;
        case '\r':
            escaped += "%0D";
            break;
        case '\n':
            escaped += "%0A";
            break;
        default:
            escaped += character;
        }
    }
    return escaped;
}

std::string Unescape(const std::string& escaped)
{
    std::string path;
    for (std::size_t at = 0; at < escaped.size(); ++at) {
        const std::string code = escaped.substr(at, 3);
        if (code == "%25" || code == "%09" || code == "%0D" || code == "%0A") {
            path += code == "%25" ? '%' : code == "%09" ? '\t' : code == "%0D" ? '\r' : '\n';
            at += 2;
        } else {
            path += escaped[at];
        }
    }
    return path;
}

std::vector<std::string> Split(const std::string& line, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = line.find(separator, start)) != std::string::npos; start = at + 1)
        parts.push_back(line.substr(start, at - start));
    parts.push_back(line.substr(start));
    return parts;
}

// A path inside the sync folder: relative, its names neither empty nor "." nor "..", and not
// the manifest itself. A manifest is read from a device that anyone may have written to, and a
// path out of the folder would have a sync remove a file that is not its own.
bool IsInsideTheFolder(const std::string& path)
{
    if (path.empty() || path == SYNC_MANIFEST_NAME)
        return false;
    for (const std::string& name : Split(path, '/'))
        if (name.empty() || name == "." || name == ".." || name.find('\\') != std::string::npos)
            return false;
    return true;
}

bool ReadLine(const std::string& line, SyncManifest& manifest)
{
    const std::vector<std::string> fields = Split(line, '\t');
    if (fields.size() != 4 || (fields[0] != "ok" && fields[0] != "pending") || fields[3].empty())
        return false;
    ManifestEntry entry;
    entry.pending = fields[0] == "pending";
    const char* end = fields[1].data() + fields[1].size();
    if (std::from_chars(fields[1].data(), end, entry.size).ptr != end)
        return false;
    entry.key = fields[2];
    const std::string path = Unescape(fields[3]);
    if (!IsInsideTheFolder(path))
        return false;
    manifest.entries[path] = entry;
    return true;
}

} // namespace

std::string SyncManifest::Text() const
{
    std::string text = std::string(kFirstLine) + "\n";
    for (const auto& [path, entry] : entries)
        text += std::string(entry.pending ? "pending" : "ok") + "\t" + std::to_string(entry.size)
            + "\t" + entry.key + "\t" + Escape(path) + "\n";
    return text;
}

SyncManifest SyncManifest::FromText(const std::string& text)
{
    SyncManifest manifest;
    std::vector<std::string> lines = Split(text, '\n');
    if (lines.empty() || lines.front() != kFirstLine)
        return manifest;
    for (std::size_t i = 1; i < lines.size(); ++i)
        ReadLine(lines[i], manifest);
    return manifest;
}

SyncManifest SyncManifest::Read(const std::string& path)
{
    InputFile file;
    std::string reason;
    if (!file.Open(path, reason) || file.Size() > kLargestManifest)
        return SyncManifest();
    std::string text(file.Size(), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const long read = file.Read(text.data() + got, text.size() - got);
        if (read <= 0)
            break;
        got += static_cast<std::size_t>(read);
    }
    text.resize(got);
    return FromText(text);
}

} // namespace corvane
