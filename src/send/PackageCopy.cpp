#include "send/PackageCopy.h"

#include "platform/AtomicFile.h"
#include "platform/FileDescriptor.h"
#include "platform/InputFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr std::size_t kRandomLetters = 6;

// The message as the dialogs show it: a sentence.
QString Sentence(const std::string& message)
{
    QString text = QString::fromStdString(message);
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

std::string Reason(int error)
{
    return std::strerror(error);
}

std::string FolderOf(const std::string& path)
{
    const std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string RandomLetters()
{
    static constexpr char alphabet[]
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator {std::random_device {}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 2);
    std::string letters(kRandomLetters, ' ');
    for (char& letter : letters)
        letter = alphabet[pick(generator)];
    return letters;
}

// A new temporary beside target, named and locked as an AtomicFile names and locks its own, so
// that either cleans up after the other and neither takes a live copy for a dead one.
bool CreateTemporary(
    const std::string& target, FileDescriptor& file, std::string& path, std::string& error)
{
    const std::string::size_type slash = target.rfind('/');
    const std::string folder = FolderOf(target);
    const std::string prefix = TemporaryPrefixFor(target.substr(slash + 1));
    RemoveStaleTemporaries(folder.empty() ? "." : folder, prefix);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = folder + prefix + RandomLetters();
        FileDescriptor created(
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!created.valid() && errno == EEXIST)
            continue;
        if (!created.valid()) {
            error = "cannot write " + target
                + ": cannot create a temporary file there: " + Reason(errno);
            return false;
        }
        // Devices without flock give no lock, and then no cleaner can take one either.
        ::flock(created.get(), LOCK_EX | LOCK_NB);
        file = std::move(created);
        path = candidate;
        return true;
    }
    error = "cannot write " + target + ": no free temporary name in its folder";
    return false;
}

// Writes the whole source into file, syncs and closes it: a device reports a failed transfer
// at the sync or the close. The file is closed afterwards either way.
bool WriteAll(const std::string& sourcePath, FileDescriptor& file, const std::string& shownName,
    std::string& error)
{
    InputFile source;
    std::string reason;
    if (!source.Open(sourcePath, reason)) {
        error = "cannot read " + sourcePath + ": " + reason;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const long got = source.Read(buffer.data(), buffer.size());
        if (got < 0) {
            error = "cannot read " + sourcePath + ": " + Reason(errno);
            return false;
        }
        if (got == 0)
            break;
        for (long done = 0; done < got;) {
            const ssize_t wrote
                = ::write(file.get(), buffer.data() + done, static_cast<std::size_t>(got - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                error = "cannot write " + shownName + ": " + Reason(wrote < 0 ? errno : EIO);
                return false;
            }
            done += wrote;
        }
    }
    // EINVAL, ENOSYS, ENOTSUP: a file system (a FUSE device among them) that has nothing to
    // sync; its close below still reports a transfer that failed.
    if (::fsync(file.get()) != 0 && errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        error = "cannot write " + shownName + ": " + Reason(errno);
        return false;
    }
    if (::close(file.release()) != 0) {
        error = "cannot write " + shownName + ": " + Reason(errno);
        return false;
    }
    return true;
}

// Without a rename: the older package goes, and the new one is written at its final name and
// checked for its whole size. What a failure leaves there is removed: a phone must not read
// half a package as a whole one.
bool WriteDirectly(const std::string& sourcePath, const std::string& target, std::string& error)
{
    if (::unlink(target.c_str()) != 0 && errno != ENOENT) {
        error = "cannot remove the older " + target + ": " + Reason(errno);
        return false;
    }
    FileDescriptor file(
        ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!file.valid()) {
        error = "cannot create " + target + ": " + Reason(errno);
        return false;
    }
    struct stat source {
    }, written {};
    bool ok = WriteAll(sourcePath, file, target, error);
    if (ok
        && (::stat(sourcePath.c_str(), &source) != 0 || ::stat(target.c_str(), &written) != 0
            || written.st_size != source.st_size)) {
        error = target + " holds " + std::to_string(written.st_size) + " bytes instead of "
            + std::to_string(source.st_size);
        ok = false;
    }
    if (!ok)
        ::unlink(target.c_str());
    return ok;
}

// Makes the rename itself survive a power cut.
void SyncFolder(const std::string& folder)
{
    const FileDescriptor opened(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (opened.valid())
        ::fsync(opened.get());
}

QString CopyToTarget(
    const std::string& sourcePath, const std::string& target, const CopySteps& steps)
{
    struct stat status { };
    if (::stat(target.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
        return Sentence("cannot write " + target + ": "
            + (S_ISDIR(status.st_mode) ? "it is a folder" : "it is not a regular file"));
    FileDescriptor file;
    std::string temporary, error;
    if (!CreateTemporary(target, file, temporary, error))
        return Sentence(error);
    if (!WriteAll(sourcePath, file, target, error)) {
        ::unlink(temporary.c_str());
        return Sentence(error);
    }
    if (steps.rename(temporary.c_str(), target.c_str()) == 0) {
        SyncFolder(FolderOf(target));
        return QString();
    }
    const std::string renameReason = Reason(errno);
    ::unlink(temporary.c_str());
    if (WriteDirectly(sourcePath, target, error))
        return QString();
    return Sentence("cannot copy " + sourcePath + " to " + target
        + ": the folder refuses a rename (" + renameReason
        + "), and writing the file directly failed: " + error);
}

} // namespace

CopySteps::CopySteps()
    : rename([](const char* from, const char* to) { return ::rename(from, to); })
{ }

QString CopyFileInto(
    const QString& sourcePath, const QString& folder, QString* destination, const CopySteps& steps)
{
    return CopyFileAs(sourcePath, folder, QFileInfo(sourcePath).fileName(), destination, steps);
}

QString CopyFileAs(const QString& sourcePath, const QString& folder, const QString& fileName,
    QString* destination, const CopySteps& steps)
{
    const QFileInfo sourceInfo(sourcePath);
    const QString finalPath = QDir(folder).filePath(fileName);
    const QFileInfo finalInfo(finalPath);
    if (destination)
        *destination = finalPath;
    // Writing a file over itself through a temporary would be harmless, but a plain truncating
    // copy would destroy the only package; either way there is nothing to do.
    if (finalInfo.exists() && finalInfo.canonicalFilePath() == sourceInfo.canonicalFilePath())
        return QString();

    // A readable regular source first: a FIFO would block the copy, and nothing of the target
    // may change for a source that cannot be read.
    const std::string sourceName = QFile::encodeName(sourcePath).toStdString();
    {
        InputFile source;
        std::string reason;
        if (!source.Open(sourceName, reason))
            return Sentence("cannot read " + sourceName + ": " + reason);
    }

    std::string target, error;
    if (!ResolveLinks(QFile::encodeName(finalPath).toStdString(), target, error))
        return Sentence(error);
    return CopyToTarget(sourceName, target, steps);
}

} // namespace corvane
