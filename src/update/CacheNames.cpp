#include "update/CacheNames.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string WithSlash(std::string folder)
{
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    // A session without HOME (a service, cron) still has a password entry.
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

// The program folder's path, without creating it (a reader such as "extract" must not leave a
// folder behind merely by asking for names).
std::string ProgramFolderPath()
{
    if (const char* home = std::getenv("CORVANE_HOME"); home && *home)
        return WithSlash(home);
    // XDG says relative values are invalid and must be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return WithSlash(data) + "Corvane/";
    return WithSlash(HomeFolder()) + ".local/share/Corvane/";
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Printable ASCII punctuation, read as a signed byte so that bytes of 128 and above (negative)
// never match: non-ASCII text in an address is copied into the name as it is.
bool IsPunctuation(char c)
{
    const auto value = static_cast<signed char>(c);
    return (value >= 33 && value <= 47) || (value >= 58 && value <= 64)
        || (value >= 91 && value <= 96) || value >= 123; // 123 to 127
}

constexpr std::size_t LONGEST_NAME = 260;
constexpr std::size_t SHORTENED_NAME = 250;

// Addresses are narrow strings: whatever follows an embedded zero byte was never part of one.
std::string NarrowAddress(const std::string& address)
{
    return address.substr(0, address.find('\0'));
}

// The cache file path in folder (which ends in '/'); a non-empty tag goes between the name and
// the extension and survives the cut like the extension does.
std::string CacheFileNameIn(
    const std::string& folder, const std::string& address, int kind, const std::string& tag = {})
{
    std::string copy = NarrowAddress(address);

    std::size_t first = 0;
    while (first < copy.size() && IsSpace(copy[first]))
        ++first;
    std::size_t last = copy.size();
    while (last > first && IsSpace(copy[last - 1]))
        --last;
    copy = copy.substr(first, last - first);

    if (copy.rfind("http://", 0) == 0)
        copy.erase(0, 7);

    // Every '/' and '.' becomes '_' here, so a name can never leave the folder.
    for (char& c : copy) {
        if (IsPunctuation(c))
            c = '_';
    }

    const char* extension = kind == CACHE_MP3 ? ".mp3" : kind == CACHE_AMR ? ".amr" : ".xml";
    std::string result = folder + copy + tag + extension;

    if (result.size() > LONGEST_NAME) {
        const std::string suffix = tag + result.substr(result.rfind('.'));
        std::size_t keep = SHORTENED_NAME - suffix.size();
        // A folder path so long that the cut would fall inside it would put the file somewhere
        // else entirely; the name then keeps at least its first byte, inside the folder.
        const std::size_t shortest = folder.size() + (copy.empty() ? 0 : 1);
        if (keep < shortest)
            keep = shortest;
        result = result.substr(0, keep) + suffix;
    }
    return result;
}

// Checks that path is a real folder (not a link to one) that belongs to this user and that no
// one else may enter. A folder that someone else made first, or that stood open, may hold
// planted links, so it is refused rather than repaired.
bool IsPrivateFolder(const std::string& path)
{
    struct stat status { };
    if (lstat(path.c_str(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == getuid() && (status.st_mode & 077) == 0;
}

// Makes path with mode 0700 when missing, then checks it.
bool MakePrivateFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    return IsPrivateFolder(path);
}

std::string TemporaryBase()
{
    if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/')
        return WithSlash(tmp);
    return "/tmp/";
}

} // namespace

std::string GetProgramFolder()
{
    const std::string folder = ProgramFolderPath();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

std::string GetDataFolder()
{
    return GetProgramFolder() + "data/";
}

bool CreateDataFolder()
{
    const std::string folder = GetDataFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    return std::filesystem::is_directory(folder, error);
}

std::string GetChannelsFilePath()
{
    return GetProgramFolder() + "Corvane.Cha";
}

std::string GetPrivateTempFolder()
{
    // The runtime folder is private by definition, but only trusted once seen to be so.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
        const std::string base = WithSlash(runtime);
        if (IsPrivateFolder(base.substr(0, base.size() - 1)) && MakePrivateFolder(base + "corvane"))
            return base + "corvane/";
    }

    const std::string base = TemporaryBase();
    const std::string usual = base + "corvane-" + std::to_string(getuid());
    if (MakePrivateFolder(usual))
        return usual + "/";

    // The usual name is taken by someone else (or stands open): use a folder whose name nobody
    // can guess, made once per base for the life of the process so that all callers agree.
    static std::mutex mutex;
    static std::map<std::string, std::string> fallbacks;
    const std::lock_guard lock(mutex);
    if (auto found = fallbacks.find(base);
        found != fallbacks.end() && IsPrivateFolder(found->second))
        return found->second + "/";
    std::string pattern = usual + "-XXXXXX";
    if (!mkdtemp(pattern.data()))
        return {};
    fallbacks[base] = pattern;
    return pattern + "/";
}

std::string GetBackupFolder()
{
    const std::string temporary = GetPrivateTempFolder();
    if (temporary.empty())
        return {};
    // One spelling for one folder: "~/x", "~/x/" and a link to it share their backups.
    const std::string program = GetProgramFolder();
    std::error_code error;
    std::string absolute = std::filesystem::weakly_canonical(program, error).string();
    if (error)
        absolute = std::filesystem::absolute(program, error).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromStdString(absolute), QCryptographicHash::Sha256);
    const std::string folder = temporary + "backups-" + digest.toHex().left(16).toStdString();
    return MakePrivateFolder(folder) ? folder + "/" : std::string();
}

std::string CacheFileName(const std::string& address, int kind)
{
    return CacheFileNameIn(GetDataFolder(), address, kind);
}

std::string CacheFileNameVariant(const std::string& address, int kind, int variant)
{
    if (variant <= 0)
        return CacheFileName(address, kind);
    // '~' is punctuation, which the plain names never keep: a variant cannot be taken for the
    // plain name of some other address.
    QByteArray input = QByteArray::fromStdString(NarrowAddress(address));
    if (variant > 1)
        input += '\n' + QByteArray::number(variant);
    const QByteArray digest
        = QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex().left(16);
    return CacheFileNameIn(GetDataFolder(), address, kind, "~" + digest.toStdString());
}

std::string CacheFileNamePart(const std::string& address, int kind)
{
    const std::string folder = ProgramFolderPath() + "data/";
    return CacheFileNameIn(folder, address, kind).substr(folder.size());
}
