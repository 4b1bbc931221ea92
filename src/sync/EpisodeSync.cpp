#include "sync/EpisodeSync.h"

#include "platform/FileDescriptor.h"
#include "platform/Paths.h"
#include "sync/SafeNames.h"
#include "sync/SyncPlan.h"
#include "update/Package.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::uint32_t kDigestPiece = 16 << 10;
constexpr std::uint64_t kSpaceMargin = 1 << 20; // folder entries, the manifest, rounding

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string Local(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString Sentence(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

std::string MegabytesText(std::uint64_t bytes)
{
    return QString::number(static_cast<double>(bytes) / (1024.0 * 1024.0), 'f', 1).toStdString()
        + " MB";
}

// A file of the private temporary folder, removed with the object.
class StagedFile {
public:
    StagedFile()
    {
        std::string pattern = GetPrivateTempFolder() + "sync-XXXXXX";
        FileDescriptor made(::mkstemp(pattern.data()));
        if (made.valid())
            path = pattern;
    }
    ~StagedFile()
    {
        if (!path.empty())
            ::unlink(path.c_str());
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    const std::string& Path() const { return path; }

private:
    std::string path;
};

std::optional<std::uint64_t> StatvfsFreeSpace(const std::string& folder)
{
    struct statvfs status { };
    if (::statvfs(folder.c_str(), &status) != 0 || status.f_blocks == 0)
        return std::nullopt;
    return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

std::optional<std::uint64_t> RegularFileSize(const std::string& path)
{
    struct stat status { };
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

bool WriteText(const std::string& path, const std::string& text, std::string& error)
{
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW));
    bool ok = file.valid();
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t wrote = ::write(file.get(), text.data() + done, text.size() - done);
        ok = wrote > 0 || (wrote < 0 && errno == EINTR);
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    if (!ok)
        error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

// One sync from its plan to its record.
class SyncRun {
public:
    explicit SyncRun(const SyncSetup& setup_)
        : setup(setup_)
    { }
    SyncResult Run();

private:
    bool Prepare();
    bool Plan();
    bool Fits();
    void RemoveOldFiles();
    bool SaveManifest(const SyncManifest& wanted);
    bool WriteFile(const SyncFile& file);
    bool MakeFile(const SyncFile& file, const std::string& staged, std::string& error);
    void WriteAll();
    std::string Digest(const SyncEpisode& episode);
    std::vector<FolderEntry> List(const std::string& folder) const;
    std::string PathOf(const std::string& relative) const { return root + "/" + relative; }
    bool Fail(const QString& message)
    {
        result.error = Sentence(message);
        return false;
    }

    const SyncSetup& setup;
    SyncResult result;
    CPackageReader reader;
    std::vector<SyncFeed> feeds;
    SyncPlan plan;
    std::string root; // the sync folder, encoded for the file system
    SyncManifest onDevice; // the manifest as it stands on the device
    SyncManifest next; // the manifest being built
    std::vector<const SyncFile*> toWrite;
    std::vector<std::string> toRemove;
    std::uint64_t freed = 0;
};

std::string SyncRun::Digest(const SyncEpisode& episode)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const std::uint32_t head = std::min(episode.dataLength, kDigestPiece);
    const std::uint32_t tail = std::min(episode.dataLength - head, kDigestPiece);
    for (const auto& [offset, length] : {std::pair(episode.dataOffset, head),
             std::pair(episode.dataOffset + episode.dataLength - tail, tail)})
        hash.addData(QByteArray::fromStdString(reader.ReadBytes(offset, length).value_or("?")));
    return hash.result().toHex().toStdString();
}

std::vector<FolderEntry> SyncRun::List(const std::string& folder) const
{
    std::vector<FolderEntry> entries;
    const QDir directory(QFile::decodeName(
        QByteArray::fromStdString(folder.empty() ? root : PathOf(Local(Q(folder))))));
    const QFileInfoList found = directory.entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : found)
        entries.push_back({info.fileName(), info.isDir() && !info.isSymLink()});
    return entries;
}

bool SyncRun::Prepare()
{
    const QFileInfo target(setup.targetFolder);
    if (!target.isDir())
        return Fail(QStringLiteral("the folder %1 does not exist").arg(setup.targetFolder));
    // The sync folder's name obeys the rules of the names inside it, or a card refuses it.
    if (setup.folderName != SafeName(setup.folderName, QString(), MAX_FOLDER_NAME_UNITS))
        return Fail(QStringLiteral("'%1' is no folder name that FAT32 and exFAT take (at most %2 "
                                   "characters, none of \\ / : * ? \" < > |)")
                        .arg(setup.folderName)
                        .arg(MAX_FOLDER_NAME_UNITS));
    result.folder = QDir(setup.targetFolder).filePath(setup.folderName);
    root = Local(result.folder);
    if (!reader.Open(setup.packagePath))
        return Fail(QStringLiteral("cannot read the package: %1").arg(Q(reader.Error())));
    std::string error;
    if (!ReadPackageFeeds(reader, feeds, error))
        return Fail(QStringLiteral("cannot read the package: %1").arg(Q(error)));
    onDevice = SyncManifest::Read(PathOf(SYNC_MANIFEST_NAME));
    return true;
}

bool SyncRun::Plan()
{
    SyncPlanInput input;
    input.feeds = &feeds;
    input.manifest = &onDevice;
    input.listFolder = [this](const std::string& folder) { return List(folder); };
    input.contentDigest = [this](const SyncEpisode& episode) { return Digest(episode); };
    input.withTexts = setup.withTexts;
    plan = PlanSync(input);
    result.episodes = plan.episodes;
    result.feeds = plan.feeds;
    std::set<std::string> planned;
    for (const SyncFile& file : plan.files) {
        planned.insert(file.path);
        const auto entry = onDevice.entries.find(file.path);
        const bool current = entry != onDevice.entries.end() && !entry->second.pending
            && entry->second.key == file.key
            && RegularFileSize(PathOf(Local(Q(file.path)))) == entry->second.size;
        if (current) {
            next.entries[file.path] = entry->second;
            ++result.unchanged;
        } else {
            toWrite.push_back(&file);
        }
    }
    for (const auto& [path, entry] : onDevice.entries) {
        const std::optional<std::uint64_t> size = RegularFileSize(PathOf(Local(Q(path))));
        if (planned.count(path) == 0 && size && (entry.pending || *size == entry.size)) {
            toRemove.push_back(path);
            freed += *size;
        }
    }
    return true;
}

bool SyncRun::Fits()
{
    std::uint64_t needed = kSpaceMargin;
    for (const SyncFile* file : toWrite)
        needed += file->estimate;
    const auto freeSpace = setup.freeSpace ? setup.freeSpace : StatvfsFreeSpace;
    const std::optional<std::uint64_t> available
        = freeSpace(Local(QFileInfo::exists(result.folder) ? result.folder : setup.targetFolder));
    if (toWrite.empty() || !available || needed <= *available + freed)
        return true;
    return Fail(
        QStringLiteral("the episodes do not fit into %1: they need %2, and %3 are free "
                       "there. Nothing was changed.")
            .arg(result.folder, Q(MegabytesText(needed - freed)), Q(MegabytesText(*available))));
}

void SyncRun::RemoveOldFiles()
{
    for (const std::string& path : toRemove) {
        const std::string local = PathOf(Local(Q(path)));
        if (::unlink(local.c_str()) != 0 && errno != ENOENT) {
            if (result.error.isEmpty())
                Fail(QStringLiteral("cannot remove %1: %2")
                         .arg(Q(local), QString::fromLocal8Bit(std::strerror(errno))));
            next.entries[path] = onDevice.entries[path]; // still ours, for the next sync
            continue;
        }
        ++result.removed;
        if (const std::size_t slash = path.rfind('/'); slash != std::string::npos)
            ::rmdir(PathOf(Local(Q(path.substr(0, slash)))).c_str()); // only when empty
    }
}

bool SyncRun::SaveManifest(const SyncManifest& wanted)
{
    if (wanted == onDevice && QFileInfo::exists(Q(PathOf(SYNC_MANIFEST_NAME))))
        return true;
    const StagedFile staged;
    std::string error;
    if (staged.Path().empty())
        return Fail(QStringLiteral("cannot make a file in the private temporary folder"));
    if (!WriteText(staged.Path(), wanted.Text(), error))
        return Fail(Q(error));
    const QString copied = CopyFileAs(QFile::decodeName(QByteArray::fromStdString(staged.Path())),
        result.folder, QString::fromLatin1(SYNC_MANIFEST_NAME), nullptr, setup.copySteps);
    if (!copied.isEmpty())
        return Fail(copied);
    onDevice = wanted;
    return true;
}

bool SyncRun::MakeFile(const SyncFile& file, const std::string& staged, std::string& error)
{
    if (file.kind != SyncFile::Kind::Episode)
        return WriteText(staged, file.text, error);
    if (!reader.CopyTo(file.episode->dataOffset, file.episode->dataLength, staged)) {
        error = reader.Error();
        return false;
    }
    // Audio that TagLib cannot take for MPEG goes untagged: the device's player may still play
    // it, as the phone's package reader would.
    std::string tagError;
    if (file.episode->type == RECORD_MP3)
        WriteEpisodeTags(staged, file.tags, tagError);
    return true;
}

bool SyncRun::WriteFile(const SyncFile& file)
{
    const QString path = result.folder + QLatin1Char('/') + Q(file.path);
    const QFileInfo target(path);
    if (!QDir().mkpath(target.path()))
        return Fail(QStringLiteral("cannot create the folder %1").arg(target.path()));
    const StagedFile staged;
    std::string error;
    if (staged.Path().empty())
        return Fail(QStringLiteral("cannot make a file in the private temporary folder"));
    if (!MakeFile(file, staged.Path(), error))
        return Fail(QStringLiteral("cannot make %1: %2").arg(path, Q(error)));
    const std::optional<std::uint64_t> size = RegularFileSize(staged.Path());
    const QString copied = CopyFileAs(QFile::decodeName(QByteArray::fromStdString(staged.Path())),
        target.path(), target.fileName(), nullptr, setup.copySteps);
    if (!copied.isEmpty())
        return Fail(copied);
    next.entries[file.path] = ManifestEntry {false, size.value_or(0), file.key};
    ++result.written;
    result.bytesWritten += size.value_or(0);
    return true;
}

void SyncRun::WriteAll()
{
    SyncProgress progress;
    progress.filesTotal = toWrite.size();
    for (const SyncFile* file : toWrite)
        progress.bytesTotal += file->estimate;
    std::size_t done = 0;
    for (; done < toWrite.size(); ++done) {
        if (setup.stop.stop_requested()) {
            result.stopped = true;
            break;
        }
        progress.current = Q(toWrite[done]->path);
        if (setup.progress)
            setup.progress(progress);
        if (!WriteFile(*toWrite[done]))
            break;
        ++progress.filesDone;
        progress.bytesDone += toWrite[done]->estimate;
    }
    // What was not written: an older version of ours stays ours, to be written next time.
    for (; done < toWrite.size(); ++done)
        if (const auto old = onDevice.entries.find(toWrite[done]->path);
            old != onDevice.entries.end() && !next.entries.count(old->first))
            next.entries[old->first] = ManifestEntry {true, old->second.size, std::string()};
    progress.current.clear();
    if (setup.progress)
        setup.progress(progress);
}

SyncResult SyncRun::Run()
{
    if (!Prepare() || !Plan() || !Fits())
        return result;
    if (!QDir().mkpath(result.folder)) {
        Fail(QStringLiteral("cannot create the folder %1").arg(result.folder));
        return result;
    }
    RemoveOldFiles();
    if (!toWrite.empty()) {
        SyncManifest pending = next;
        for (const SyncFile* file : toWrite) {
            const auto old = onDevice.entries.find(file->path);
            pending.entries[file->path] = ManifestEntry {
                true, old == onDevice.entries.end() ? 0 : old->second.size, std::string()};
        }
        if (!SaveManifest(pending))
            return result;
    }
    if (result.error.isEmpty())
        WriteAll();
    const QString firstError = result.error;
    SaveManifest(next);
    if (!firstError.isEmpty())
        result.error = firstError; // the first failure is the one to tell
    result.complete = result.error.isEmpty() && !result.stopped;
    return result;
}

} // namespace

SyncResult SyncEpisodes(const SyncSetup& setup)
{
    return SyncRun(setup).Run();
}

QString SyncReport(const SyncResult& result)
{
    return QStringLiteral("Synced %1 episode%2 of %3 feed%4 into %5: %6 file%7 written (%8), %9 "
                          "unchanged, %10 removed.")
        .arg(result.episodes)
        .arg(result.episodes == 1 ? "" : "s")
        .arg(result.feeds)
        .arg(result.feeds == 1 ? "" : "s")
        .arg(result.folder)
        .arg(result.written)
        .arg(result.written == 1 ? "" : "s")
        .arg(Q(MegabytesText(result.bytesWritten)))
        .arg(result.unchanged)
        .arg(result.removed);
}

} // namespace corvane
