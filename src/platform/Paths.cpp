#include "platform/Paths.h"

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

namespace corvane {

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

// One spelling for one folder: absolute, links resolved as far as they exist, no trailing '/'.
std::string AbsoluteFolder(const std::string& folder)
{
    std::error_code error;
    std::string absolute = std::filesystem::weakly_canonical(folder, error).string();
    if (error)
        absolute = std::filesystem::absolute(folder, error).lexically_normal().string();
    while (absolute.size() > 1 && absolute.back() == '/')
        absolute.pop_back();
    return absolute;
}

std::string TemporaryBase()
{
    if (const char* tmp = std::getenv("TMPDIR"); tmp && tmp[0] == '/')
        return WithSlash(tmp);
    return "/tmp/";
}

} // namespace

std::string DefaultProgramFolderPath()
{
    // XDG says relative values are invalid and must be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/')
        return WithSlash(data) + "Corvane/";
    return WithSlash(HomeFolder()) + ".local/share/Corvane/";
}

std::string ProgramFolderPath()
{
    if (const char* home = std::getenv("CORVANE_HOME"); home && *home)
        return WithSlash(home);
    return DefaultProgramFolderPath();
}

std::string ProgramFolderProblem()
{
    std::string folder = ProgramFolderPath();
    if (folder.size() > 1)
        folder.pop_back(); // with its slash, a file's name fails with ENOTDIR, saying nothing
    struct stat status { };
    if (::stat(folder.c_str(), &status) != 0 || S_ISDIR(status.st_mode))
        return {}; // missing: made on first use; unreachable: its files' callers say why
    const char* kind = S_ISREG(status.st_mode) ? "a regular file"
        : S_ISFIFO(status.st_mode)             ? "a FIFO"
        : S_ISSOCK(status.st_mode)             ? "a socket"
                                               : "a device";
    return "the program folder " + folder + " is not a folder (" + kind + ")";
}

bool IsOwnProgramFolder()
{
    const char* home = std::getenv("CORVANE_HOME");
    if (!home || !*home)
        return false;
    return AbsoluteFolder(ProgramFolderPath()) != AbsoluteFolder(DefaultProgramFolderPath());
}

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

std::string GetFeedOptionsFilePath()
{
    return GetProgramFolder() + "FeedOptions.json";
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
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromStdString(AbsoluteFolder(GetProgramFolder())), QCryptographicHash::Sha256);
    const std::string folder = temporary + "backups-" + digest.toHex().left(16).toStdString();
    return MakePrivateFolder(folder) ? folder + "/" : std::string();
}

} // namespace corvane
