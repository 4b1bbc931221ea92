// corvane-cli sync: the episodes of the package as tagged files with playlists, into a folder
// of a phone's storage, a volume or any folder (sync/EpisodeSync.h); also the sync after
// `update --sync`.
#include "cli/Commands.h"

#include "platform/Settings.h"
#include "send/HandOver.h"
#include "send/SendTargets.h"
#include "sync/EpisodeSync.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <string>

namespace corvane {

namespace {

struct SyncRequest {
    std::string target;
    std::string packagePath; // empty: "Path"/"FeedFile"
    std::string folderName = DEFAULT_SYNC_FOLDER;
    bool withTexts = false;
};

// The folder that target names: a Send To target that is a folder (a volume, a phone's
// storage) or a folder path. Empty after printing why when there is none.
QString SyncFolderOf(const std::string& target)
{
    SendToTarget picked;
    QString error;
    if (!PickTarget(FindSendToTargets(SendToSources::FromEnvironment()),
            QString::fromStdString(target), picked, error)) {
        PrintError(error.toStdString());
        return QString();
    }
    if (picked.kind != SendToTarget::Kind::Volume) {
        PrintError("'" + target
            + "' is a program, not a folder or a phone's storage: sync writes files into one");
        return QString();
    }
    return picked.folder;
}

// The progress line on a terminal, rewritten in place.
void ShowProgress(const SyncProgress& progress)
{
    if (progress.current.isEmpty()) {
        std::fprintf(stderr, "\r\033[K");
        return;
    }
    std::string line = "[" + std::to_string(progress.filesDone + 1) + "/"
        + std::to_string(progress.filesTotal) + "] " + Megabytes(progress.bytesDone) + " of "
        + Megabytes(progress.bytesTotal) + "  ";
    const int room = StderrColumns() - 1 - static_cast<int>(line.size());
    if (room > 0)
        line += progress.current.left(room).toUtf8().toStdString();
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
}

int Sync(const SyncRequest& request, std::FILE* report)
{
    const QString folder = SyncFolderOf(request.target);
    if (folder.isEmpty())
        return EXIT_FAILED;
    SyncSetup setup;
    setup.packagePath
        = request.packagePath.empty() ? LoadSettings().outputPath : request.packagePath;
    if (!QFileInfo(QFile::decodeName(QByteArray::fromStdString(setup.packagePath))).isFile()) {
        PrintError("there is no package to sync at '" + setup.packagePath
            + "'; run 'corvane-cli update' first");
        return EXIT_FAILED;
    }
    setup.targetFolder = folder;
    setup.folderName = QString::fromStdString(request.folderName);
    setup.withTexts = request.withTexts;
    if (StderrIsTerminal())
        setup.progress = ShowProgress;
    std::stop_source stop;
    setup.stop = stop.get_token();
    SyncResult result;
    const bool interrupted = RunUntilInterrupted([&] { result = SyncEpisodes(setup); }, stop);
    if (result.complete) {
        std::fprintf(report, "%s\n", SyncReport(result).toUtf8().constData());
        return EXIT_DONE;
    }
    if (!result.error.isEmpty()) {
        PrintError(result.error.toStdString());
        return EXIT_FAILED;
    }
    std::fprintf(stderr,
        "Stopped after %zu file%s; every file in %s is whole, and the next sync writes the "
        "rest.\n",
        result.written, result.written == 1 ? "" : "s", result.folder.toUtf8().constData());
    return interrupted || result.stopped ? EXIT_INTERRUPTED : EXIT_FAILED;
}

} // namespace

bool CheckSyncTarget(const std::string& target)
{
    return !SyncFolderOf(target).isEmpty();
}

int SyncAfterUpdate(
    int updateCode, const std::string& target, const std::string& packagePath, std::FILE* report)
{
    if (updateCode != EXIT_DONE && updateCode != EXIT_PARTLY_FAILED) {
        std::fprintf(
            stderr, "The episodes were not synced: the update did not write the package.\n");
        return updateCode;
    }
    SyncRequest request;
    request.target = target;
    request.packagePath = packagePath;
    const int synced = Sync(request, report);
    return synced == EXIT_DONE ? updateCode : synced;
}

int RunSync(CommandLine& arguments)
{
    arguments.Describe(
        "Writes the episodes of the package (the last update's, in its format: MP3 as fetched or\n"
        "the AMR conversion) into a folder of their own on TARGET, for phones and players\n"
        "without the package reader: a folder per feed, files named \"YYYY-MM-DD Title.mp3\"\n"
        "with names safe for FAT32 and exFAT, ID3v2 tags on the MP3 copies, an M3U8 playlist\n"
        "per feed and \"All podcasts.m3u8\". Files that are still current are skipped, files of\n"
        "earlier syncs that the package no longer holds are removed (the manifest "
        ".corvane-sync\nin the folder names them), and nothing else on the device is touched.");
    arguments.Option("folder", "NAME", "the folder on TARGET (default \"Podcasts\")");
    arguments.Option("package", "PATH", "sync this package instead of \"Path\"/\"FeedFile\"");
    arguments.Flag("with-texts",
        "also a page of the feed's items (title, date, description as text) in each feed "
        "folder, for the phone's browser");
    arguments.Positional("TARGET",
        "a volume or phone storage as 'corvane-cli send --list' prints it, or a folder path");
    arguments.Epilogue(
        "Each file is copied as Send To copies the package: under a temporary name and renamed,\n"
        "or, where the device refuses renames, written under its own name and its size checked.\n"
        "The free space is checked first. On a terminal a line shows the files and bytes.\n"
        "Exit status: 0 every file is in place, 1 it is not (the reason is named), 2 bad usage,\n"
        "130 interrupted (Ctrl-C; the files there are whole, the next sync writes the rest).\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    SyncRequest request;
    request.target = arguments.Positionals().front();
    request.packagePath = arguments.Value("package").value_or(std::string());
    request.folderName = arguments.Value("folder").value_or(DEFAULT_SYNC_FOLDER);
    request.withTexts = arguments.Has("with-texts");
    if (arguments.Value("package") && request.packagePath.empty())
        return arguments.UsageError("--package needs a file path");
    return Sync(request, stdout);
}

} // namespace corvane
