#include "update/UpdateJob.h"

#include "platform/AtomicFile.h"
#include "platform/DiskFull.h"
#include "platform/Paths.h"
#include "platform/Settings.h"

#include "audio/Mp3ToAmr.h"
#include "net/WebAccess.h"
#include "update/CacheNames.h"
#include "update/CachePrune.h"
#include "update/EnclosureSelection.h"
#include "update/FolderLock.h"
#include "update/LastRun.h"
#include "update/Package.h"
#include "update/PackageReader.h"
#include "update/TaskScheduler.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <utility>

#include <sys/resource.h>

namespace corvane {

std::string UpdateFinalText(std::uint64_t packageSize, bool anyFailed)
{
    // The described text formats the size with %d; a package above 2 GiB must not print a
    // negative number, so the size is printed unsigned.
    std::string text = "Finished. The file size is " + std::to_string(packageSize) + " bytes.";
    if (anyFailed)
        text += " Failed to get one or more feeds, which will not be updated on your phone.";
    return text;
}

std::string UpdateFailureText(const std::string& address)
{
    return FetchFailureText(address);
}

std::string UpdateFailureText(
    const std::string& address, const std::string& path, const std::string& reason)
{
    return IsDiskFullReason(reason) ? DiskFullText(path) : UpdateFailureText(address);
}

std::string UpdateNotWrittenText(const std::string& outputPath, const std::string& packageError)
{
    std::string reason = packageError;
    const std::string named = outputPath + ": ";
    if (const std::size_t at = packageError.find(named); at != std::string::npos)
        reason = packageError.substr(at + named.size());
    return "The package " + outputPath + " was not written: " + reason;
}

std::string UpdateNothingFetchedText()
{
    return "No feed could be fetched; the previous package was kept.";
}

int AmrModeFromCompression(int compression)
{
    return compression >= 0 && compression <= 7 ? 7 - compression : 0;
}

int VolumeIndexFromVolume(int volume)
{
    return volume >= 0 && volume <= 7 ? volume : 4;
}

AmrSettings AmrSettingsFrom(const CorvaneSettings& settings)
{
    AmrSettings amr;
    amr.mode = AmrModeFromCompression(settings.compression);
    amr.volumeIndex = VolumeIndexFromVolume(settings.volume);
    amr.limitOn = settings.lengthLimitOn != 0 ? 1 : 0;
    amr.lengthSeconds = settings.lengthLimit;
    return amr;
}

namespace {

// The temporaries that a killed job (of this or another process) left in the cache under the
// shared download and conversion prefixes. (The package's go when it is written, the cache
// index's when it is read.) A job that still writes holds the lock on its own, and those stay.
void RemoveLeftoversOfKilledJobs()
{
    const std::string data = GetDataFolder();
    RemoveStaleTemporaries(data, DOWNLOAD_TEMPORARY_PREFIX);
    RemoveStaleTemporaries(data, AMR_TEMPORARY_PREFIX);
}

// The folder the package goes in must be there. The default package path's folder is the
// documents folder, which a fresh account may not have yet: that one is made. Any other folder
// was chosen by the user, and a missing one is more likely a typing slip or an unmounted volume
// than a wish for a new folder.
bool HavePackageFolder(const std::string& finalPath, std::string& error)
{
    const std::filesystem::path target(finalPath);
    const std::filesystem::path folder
        = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    std::error_code status;
    if (std::filesystem::status(folder, status).type() != std::filesystem::file_type::not_found)
        return true; // anything else is for the file's own opening to judge and name
    if (finalPath != DefaultOutputPath()) {
        error = "cannot write the package " + finalPath + ": the folder " + folder.string()
            + " does not exist";
        return false;
    }
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        error = "cannot write the package " + finalPath + ": cannot create the folder "
            + folder.string() + ": " + made.message();
        return false;
    }
    return true;
}

// The path with its links and "." and ".." resolved as far as it exists.
std::filesystem::path Resolved(const std::string& path)
{
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    return error ? std::filesystem::path(path).lexically_normal() : resolved;
}

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    return a == b || std::filesystem::equivalent(a, b, error); // also a hard link
}

// The package is renamed over its path: a path naming one of this program's own files would
// destroy it. Empty when finalPath names none of them, else what it is.
std::string OwnFileAt(const std::string& finalPath, const std::string& channelsPath)
{
    const std::filesystem::path target = Resolved(finalPath);
    const std::pair<std::string, const char*> own[] = {
        {channelsPath.empty() ? GetChannelsFilePath() : channelsPath, "the channels file"},
        {SettingsFilePath(), "the settings file"},
        {FolderLockPath(), "the lock of the program folder"},
        {LastRunPath(), "the record of the last update"},
    };
    for (const auto& [path, what] : own) {
        if (SameFile(target, Resolved(path)))
            return what;
    }
    const std::filesystem::path data = Resolved(GetDataFolder());
    for (std::filesystem::path folder = target.parent_path(); !folder.empty();
         folder = folder.parent_path()) {
        if (SameFile(folder, data))
            return "a file in the download cache " + GetDataFolder();
        if (folder == folder.root_path())
            break;
    }
    return {};
}

// Why a file that the download (or, for Re-Pack, the look into the cache) gave could not be
// packed. A download that succeeds without a body leaves no file where there was none.
std::string MissingSourceText(bool repack, const std::string& path)
{
    if (!repack)
        return "the server sent no data and the download cache holds no earlier copy";
    return "the cache file " + path + " cannot be read";
}

// How many of feedUrls the package at path holds as feed records (0 when there is none).
std::size_t FeedsHeldBy(const std::string& path, const std::vector<std::string>& feedUrls)
{
    CPackageReader previous;
    previous.Open(path); // the records before a fault count
    std::size_t held = 0;
    for (const std::string& url : feedUrls) {
        const auto& records = previous.Records();
        held += std::any_of(records.begin(), records.end(), [&url](const PackageRecord& record) {
            return record.type == RECORD_FEED && record.name == url;
        });
    }
    return held;
}

} // namespace

std::string RepackMissingFeedText(const std::string& address)
{
    return "Cannot pack " + address;
}

std::string RepackLosesFeedsText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " feed" : " feeds")
        + " of it would be left out, not being in the download cache; run an update";
}

// One run of the job: the listener gate, the packer and the commit. The downloads, parses and
// conversions are the scheduler's; this side takes their results strictly in package order, so
// every listener call comes from the job's one thread.
struct CUpdateJob::Impl {
    Impl(const UpdateJobSetup& setup_, UpdateListener& listener_, CRunningWorkBoard& board_)
        : setup(setup_)
        , listener(listener_)
        , board(board_)
    { }

    UpdateJobResult Execute(std::stop_token stop);

    const UpdateJobSetup& setup;
    UpdateListener& listener;
    CRunningWorkBoard& board;
    std::unique_ptr<CPackageFile> package;

    // Listener calls and Cancel meet here, so that after Cancel() nothing more is shown.
    std::recursive_mutex listenerMutex;
    bool cancelled = false;

private:
    enum class Packed { Go, Stopped, WriteError };

    void Status(const std::string& text);
    void Failure(const std::string& address, const std::string& text, const std::string& reason,
        bool reachedNoServer = false);
    void ProgressStep();
    // What the status line says of a feed or an enclosure before its turn.
    const char* Verb() const { return setup.repack ? "Packing " : "Downloading "; }
    void Begin();
    // A full update: "Repackable" 0 before the cache changes.
    bool ClearsRepackable() const { return !setup.repack && setup.setRepackable != nullptr; }
    void ClearRepackable(CTaskScheduler& scheduler);
    CTaskScheduler::Options SchedulerOptions() const;
    Packed WriteRecord(
        const std::string& url, std::uint32_t type, const std::string& path, bool& sourceMissing);
    Packed PackFeed(CTaskScheduler& scheduler, UpdateTask& feed);
    Packed PackEnclosure(CTaskScheduler& scheduler, UpdateTask& enclosure);
    Packed PackAll(CTaskScheduler& scheduler);
    UpdateJobResult End(bool stopped);
    void Prune(UpdateJobResult& outcome);

    bool TakeFolderLock(std::string& error, bool& busy);
    UpdateJobResult NoFolderLock(const std::string& message, bool busy);

    // An update that got no feed at all (the network is down, say) would replace the phone's
    // package with an empty one: it keeps the previous package instead.
    bool NothingFetched() const
    {
        return !setup.repack && !setup.feedUrls.empty() && feedRecords == 0;
    }

    // A "Repackable" that the settings file did not take is told (not counted as a failed feed).
    void TellUnstored(const corvane::Result<void>& stored);
    // Re-Pack: the feeds whose documents the cache does not hold.
    // cacheError: why the cache could not be looked into (its index unreadable), else empty.
    void MissingFromCache(const std::string& url, const std::string& cacheError = {});
    // Re-Pack: a package without feeds that the previous one has, for no choice of the user's,
    // would replace a better one on the phone.
    bool LosesFeeds();

    std::stop_token stop;
    std::vector<std::string> missingFeeds;
    std::string cacheUnreadable; // Re-Pack: why the cache could not be looked into
    bool anyFailed = false;
    std::size_t feedRecords = 0; // feed records written into the package
    int previousRepackable = 0; // "Repackable" as the job found it
    std::string packageError;
    std::vector<UpdateFailure> failures;

public:
    // Held from the job's start until its thread lets it go, before the job is seen as ended.
    ProgramFolderLock folderLock;
};

void CUpdateJob::Impl::Status(const std::string& text)
{
    std::lock_guard lock(listenerMutex);
    if (!cancelled)
        listener.OnStatus(text);
}

void CUpdateJob::Impl::Failure(const std::string& address, const std::string& text,
    const std::string& reason, bool reachedNoServer)
{
    anyFailed = true;
    failures.push_back({address, reason.empty() ? text : reason, reachedNoServer});
    if (!setup.reportFailures)
        return;
    {
        std::lock_guard lock(listenerMutex);
        if (cancelled)
            return;
    }
    // Not under the lock: the listener may wait for the user, who may press Cancel meanwhile.
    listener.OnFailure(text, reason);
}

void CUpdateJob::Impl::TellUnstored(const corvane::Result<void>& stored)
{
    if (stored)
        return;
    // Not a failed feed: the package is as good; but the next run reads the old value.
    failures.push_back({std::string(), stored.Error()});
    if (!setup.reportFailures)
        return;
    {
        std::lock_guard lock(listenerMutex);
        if (cancelled)
            return;
    }
    listener.OnFailure(stored.Error(), "\"Podcast\"/\"Repackable\" was not stored");
}

void CUpdateJob::Impl::MissingFromCache(const std::string& url, const std::string& cacheError)
{
    missingFeeds.push_back(url);
    if (!cacheError.empty())
        cacheUnreadable = cacheError;
    Failure(url, RepackMissingFeedText(url),
        cacheError.empty() ? "not in the download cache; run an update" : cacheError);
}

bool CUpdateJob::Impl::LosesFeeds()
{
    if (!setup.repack || missingFeeds.empty())
        return false;
    if (!cacheUnreadable.empty()) {
        packageError = cacheUnreadable; // every feed would be left out
        return true;
    }
    const std::size_t lost = FeedsHeldBy(setup.outputPath, missingFeeds);
    if (lost == 0)
        return false; // the previous package lacked them too
    packageError = RepackLosesFeedsText(lost);
    return true;
}

void CUpdateJob::Impl::ProgressStep()
{
    std::lock_guard lock(listenerMutex);
    if (!cancelled)
        listener.OnProgressStep();
}

void CUpdateJob::Impl::Begin()
{
    {
        std::lock_guard lock(listenerMutex);
        if (!cancelled)
            listener.OnProgressRange(
                static_cast<int>(std::min<std::size_t>(setup.feedUrls.size(), 0x7fffffff)));
    }
    if (!setup.repack)
        CreateDataFolder(); // a failure shows up as failed downloads
}

// Writing the settings file takes a few milliseconds; the first downloads are on their way
// meanwhile, and the scheduler keeps every file of the cache as it is until the store is done.
void CUpdateJob::Impl::ClearRepackable(CTaskScheduler& scheduler)
{
    corvane::Result<void> stored;
    {
        std::lock_guard lock(listenerMutex);
        if (!cancelled) {
            previousRepackable
                = (setup.readSettings ? setup.readSettings() : setup.settings).repackable;
            stored = setup.setRepackable(0);
        }
    }
    scheduler.AllowCacheChanges();
    TellUnstored(stored);
}

CTaskScheduler::Options CUpdateJob::Impl::SchedulerOptions() const
{
    CTaskScheduler::Options options;
    options.repack = setup.repack;
    options.agentName = setup.agentName;
    options.connections = setup.connections;
    options.connectionsPerHost = setup.connectionsPerHost;
    options.floorRate = setup.settings.floorRate;
    options.conversionThreads = setup.conversionThreads;
    options.board = &board;
    options.holdCacheChanges = ClearsRepackable();
    options.readSettings = [this](const std::string& feedUrl) {
        const CorvaneSettings global = setup.readSettings ? setup.readSettings() : setup.settings;
        return setup.readFeedOptions ? SettingsForFeed(global, setup.readFeedOptions(feedUrl))
                                     : global;
    };
    return options;
}

// One record; a write error ends the packing (packageError says which).
CUpdateJob::Impl::Packed CUpdateJob::Impl::WriteRecord(
    const std::string& url, std::uint32_t type, const std::string& path, bool& sourceMissing)
{
    sourceMissing = false;
    if (WritePackageRecord(*package, url, type, path, &sourceMissing))
        return Packed::Go;
    packageError = package->ErrorText();
    if (packageError.empty())
        packageError = "Cannot write the package " + setup.outputPath;
    return Packed::WriteError;
}

// An enclosure whose download (or look into the cache) has ended: its MP3 or, once converted,
// its AMR record, or the failure.
CUpdateJob::Impl::Packed CUpdateJob::Impl::PackEnclosure(
    CTaskScheduler& scheduler, UpdateTask& enclosure)
{
    if (enclosure.fetchResult != WEB_OK) {
        Failure(enclosure.url,
            UpdateFailureText(enclosure.url, enclosure.cachePath, enclosure.fetchError),
            enclosure.fetchError);
        scheduler.MarkPacked(enclosure);
        return Packed::Go;
    }
    std::uint32_t type = RECORD_MP3;
    std::string source = enclosure.cachePath;
    if (enclosure.convert && !enclosure.amrKept) {
        Status("Converting " + enclosure.url);
        if (!scheduler.WaitFor(enclosure, UpdateTask::State::Done))
            return Packed::Stopped;
        if (enclosure.convertResult != 0) {
            // Undecodable audio: no record at all, never an empty AMR record.
            Failure(enclosure.url,
                UpdateFailureText(enclosure.url, enclosure.amrPath, enclosure.convertError),
                enclosure.convertError);
            scheduler.MarkPacked(enclosure);
            return Packed::Go;
        }
    }
    if (enclosure.convert) {
        type = RECORD_AMR;
        source = enclosure.amrPath;
    }
    if (stop.stop_requested())
        return Packed::Stopped;
    bool missing = false;
    const Packed written = WriteRecord(enclosure.url, type, source, missing);
    if (written == Packed::Go && missing)
        Failure(enclosure.url, UpdateFailureText(enclosure.url),
            MissingSourceText(setup.repack, source));
    scheduler.MarkPacked(enclosure);
    return written;
}

// A feed whose download has ended, and then its enclosures in item order.
CUpdateJob::Impl::Packed CUpdateJob::Impl::PackFeed(CTaskScheduler& scheduler, UpdateTask& feed)
{
    if (feed.fetchResult != WEB_OK) {
        if (setup.repack)
            MissingFromCache(feed.url, feed.cacheError);
        else
            Failure(feed.url, UpdateFailureText(feed.url, feed.cachePath, feed.fetchError),
                feed.fetchError, feed.fetchReachedNoServer);
        scheduler.MarkPacked(feed);
        for (UpdateTask* enclosure : feed.enclosures)
            scheduler.MarkPacked(*enclosure);
        return Packed::Go;
    }
    if (!feed.notAFeed.empty()) {
        // An HTML page or other document where the feed was: the phone cannot read it as one.
        if (setup.repack)
            missingFeeds.push_back(feed.url);
        Failure(feed.url,
            setup.repack ? RepackMissingFeedText(feed.url) : UpdateFailureText(feed.url),
            feed.notAFeed);
        scheduler.MarkPacked(feed);
        return Packed::Go;
    }
    if (stop.stop_requested())
        return Packed::Stopped;
    bool missing = false;
    if (WriteRecord(feed.url, RECORD_FEED, feed.cachePath, missing) != Packed::Go)
        return Packed::WriteError;
    if (!missing)
        ++feedRecords;
    if (missing) {
        // The download succeeded without a body and no earlier copy exists: the phone would
        // silently lack this feed.
        if (setup.repack)
            MissingFromCache(feed.url);
        else
            Failure(feed.url, UpdateFailureText(feed.url),
                MissingSourceText(setup.repack, feed.cachePath));
    }
    scheduler.MarkPacked(feed);

    for (UpdateTask* enclosure : feed.enclosures) {
        if (stop.stop_requested())
            return Packed::Stopped;
        Status(Verb() + enclosure->url);
        if (!scheduler.WaitFor(*enclosure, UpdateTask::State::Converting))
            return Packed::Stopped;
        if (const Packed packed = PackEnclosure(scheduler, *enclosure); packed != Packed::Go)
            return packed;
    }
    return Packed::Go;
}

// The feeds strictly in list order, each with a progress step.
CUpdateJob::Impl::Packed CUpdateJob::Impl::PackAll(CTaskScheduler& scheduler)
{
    for (std::size_t i = 0; i < setup.feedUrls.size(); ++i) {
        UpdateTask& feed = scheduler.Feed(i);
        Status(Verb() + feed.url);
        if (!scheduler.WaitFor(feed, UpdateTask::State::Done))
            return Packed::Stopped;
        if (const Packed packed = PackFeed(scheduler, feed); packed != Packed::Go)
            return packed;
        ProgressStep();
    }
    return Packed::Go;
}

// The commit and the final text. Commit and Cancel() exclude each other: either the package is
// replaced and the end is shown, or neither happens.
UpdateJobResult CUpdateJob::Impl::End(bool stopped)
{
    UpdateJobResult outcome;
    outcome.cancelled = true;
    bool committed = false;
    const bool nothingFetched = NothingFetched();
    {
        std::lock_guard lock(listenerMutex);
        if (!stopped && !cancelled) {
            outcome.cancelled = false;
            if (nothingFetched) {
                packageError = UpdateNothingFetchedText(); // every feed failed and was reported
            } else if (packageError.empty() && !LosesFeeds()) {
                committed = package->Commit();
                if (!committed) {
                    packageError = package->ErrorText();
                    if (packageError.empty())
                        packageError = "Cannot write the package " + setup.outputPath;
                }
            }
        }
    }
    // The cache changed in no feed, so what Re-Pack would make is what it made before.
    if (ClearsRepackable() && (committed || (nothingFetched && !outcome.cancelled)))
        TellUnstored(setup.setRepackable(committed ? 1 : previousRepackable));
    // Outside the lock: the user answers it.
    if (!outcome.cancelled && !packageError.empty() && !nothingFetched) {
        if (IsDiskFullReason(packageError))
            Failure(std::string(), DiskFullText(setup.outputPath), packageError);
        else
            Failure(std::string(), packageError, std::string());
    }
    std::lock_guard lock(listenerMutex);
    outcome.anyFailed = anyFailed;
    outcome.failures = failures;
    outcome.packageWritten = committed;
    outcome.packageError = packageError;
    outcome.noNetwork = nothingFetched && !failures.empty()
        && std::all_of(failures.begin(), failures.end(),
            [](const UpdateFailure& failure) { return failure.reachedNoServer; });
    if (committed)
        outcome.packageSize = package->Size();
    // A Cancel that came after the commit stops what is left, but the new package stands: the
    // job is reported as ended with it (only the listener hears nothing more).
    if (committed || (!outcome.cancelled && !cancelled)) {
        outcome.cancelled = false;
        outcome.finished = true;
        // "Finished." with a size would tell the user that the phone gets a new package.
        outcome.finalText = committed ? UpdateFinalText(package->Size(), anyFailed)
            : nothingFetched          ? UpdateNothingFetchedText()
                                      : UpdateNotWrittenText(setup.outputPath, packageError);
        if (!cancelled)
            listener.OnFinished(outcome.finalText, anyFailed);
    } else {
        outcome.cancelled = true;
    }
    package.reset(); // uncommitted: the temporary file goes, the previous package stays
    return outcome;
}

// After the commit, so that nothing the new package came from is touched before it stands, and
// with the settings of now, which the next Re-Pack will use.
void CUpdateJob::Impl::Prune(UpdateJobResult& outcome)
{
    const CorvaneSettings settings = setup.readSettings ? setup.readSettings() : setup.settings;
    if (!settings.prune)
        return;
    PruneOptions options;
    options.stop = stop;
    options.feedOptions = setup.readFeedOptions;
    const PruneResult pruned = PruneCache(*setup.pruneFeedUrls, settings, options);
    outcome.pruned = true;
    outcome.prunedFiles = pruned.files;
    outcome.prunedBytes = pruned.bytes;
    outcome.pruneErrors = pruned.errors;
}

// Another update of this program folder (another process, or another job of this one) holds
// the lock, or the lock file cannot be had: this job says so as its failure and final text and
// writes nothing.
UpdateJobResult CUpdateJob::Impl::NoFolderLock(const std::string& message, bool busy)
{
    UpdateJobResult outcome;
    outcome.cancelled = stop.stop_requested();
    packageError = message;
    if (!outcome.cancelled)
        Failure(std::string(), message, std::string());
    std::lock_guard lock(listenerMutex);
    outcome.cancelled = outcome.cancelled || cancelled;
    if (!outcome.cancelled) {
        outcome.finished = true;
        outcome.folderBusy = busy;
        outcome.anyFailed = true;
        outcome.failures = failures;
        outcome.packageError = message;
        outcome.finalText = UpdateNotWrittenText(setup.outputPath, message);
        listener.OnFinished(outcome.finalText, true);
    }
    package.reset(); // the temporary goes; the other update's package stays
    return outcome;
}

// Waiting on the job's thread keeps the window responsive, and Cancel ends the wait.
bool CUpdateJob::Impl::TakeFolderLock(std::string& error, bool& busy)
{
    const std::chrono::milliseconds wait
        = setup.folderLockWait.count() >= 0 ? setup.folderLockWait : FolderLockWait();
    if (folderLock.Take(std::chrono::milliseconds::zero(), stop, error, &busy))
        return true;
    if (!busy)
        return false;
    Status("Waiting for the other update of " + ProgramFolderPath() + " to end");
    return folderLock.Take(wait, stop, error, &busy);
}

UpdateJobResult CUpdateJob::Impl::Execute(std::stop_token stopToken)
{
    stop = std::move(stopToken);
    std::string lockError;
    if (bool busy = false; !TakeFolderLock(lockError, busy))
        return NoFolderLock(lockError, busy);
    Begin();
    CTaskScheduler scheduler(SchedulerOptions(), stop);
    scheduler.Start(setup.feedUrls);
    if (ClearsRepackable())
        ClearRepackable(scheduler);
    const Packed packed = PackAll(scheduler);
    // When every task was packed, the idle workers end while the package is committed; else
    // downloads may still run, and they end before the job does.
    if (packed == Packed::Go)
        scheduler.LetWorkersEnd();
    else
        scheduler.Shutdown();
    UpdateJobResult outcome = End(packed == Packed::Stopped || stop.stop_requested());
    scheduler.Shutdown();
    outcome.conversions = scheduler.Conversions();
    if (outcome.packageWritten && !outcome.cancelled && !setup.repack && setup.pruneFeedUrls)
        Prune(outcome);
    return outcome;
}

int BoundedConnections(int wanted)
{
    constexpr rlim_t descriptorsPerDownload = 6;
    constexpr rlim_t keptForTheRest = 64;
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::max(1, wanted);
    const rlim_t spare = limit.rlim_cur > keptForTheRest ? limit.rlim_cur - keptForTheRest : 0;
    const rlim_t affordable = std::max<rlim_t>(1, spare / descriptorsPerDownload);
    return static_cast<int>(std::min<rlim_t>(std::max(1, wanted), affordable));
}

CUpdateJob::CUpdateJob(UpdateJobSetup setup_, UpdateListener& listener_)
    : setup(std::move(setup_))
    , listener(listener_)
    , impl(std::make_unique<Impl>(setup, listener, board))
{
    setup.connections = std::max(1, setup.connections);
    setup.connectionsPerHost = std::max(1, setup.connectionsPerHost);
    if (setup.conversionThreads <= 0)
        setup.conversionThreads
            = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

CUpdateJob::~CUpdateJob()
{
    Cancel();
    Wait();
}

bool CUpdateJob::Start(std::string& error)
{
    if (thread.joinable() || impl->package) {
        error = "the update job was already started";
        return false;
    }
    if (const std::string own = OwnFileAt(setup.outputPath, setup.channelsPath); !own.empty()) {
        error = "cannot write the package " + setup.outputPath + ": it is " + own;
        return false;
    }
    RemoveLeftoversOfKilledJobs();
    if (!HavePackageFolder(setup.outputPath, error))
        return false;
    impl->package = CPackageFile::Create(setup.outputPath, error);
    if (!impl->package)
        return false;
    if (!WritePackageMagic(*impl->package)
        || !WriteChannelsSection(*impl->package, setup.syncChannels, setup.channelsPath)) {
        error = impl->package->ErrorText();
        if (error.empty())
            error = "Cannot write the package " + setup.outputPath;
        impl->package.reset();
        return false;
    }
    running = true;
    thread = std::jthread([this, stop = stopSource.get_token()] { Run(stop); });
    return true;
}

void CUpdateJob::Cancel()
{
    {
        std::lock_guard lock(impl->listenerMutex);
        impl->cancelled = true;
    }
    stopSource.request_stop();
}

void CUpdateJob::Wait()
{
    if (thread.joinable())
        thread.join();
}

UpdateJobResult CUpdateJob::Result() const
{
    std::lock_guard lock(resultMutex);
    return result;
}

void CUpdateJob::Run(std::stop_token stop)
{
    const UpdateJobResult outcome = impl->Execute(std::move(stop));
    impl->folderLock.Release();
    {
        std::lock_guard lock(resultMutex);
        result = outcome;
    }
    if (setup.onResult)
        setup.onResult(outcome);
    running = false;
    if (setup.updateRunning)
        setup.updateRunning->store(false);
    if (setup.onThreadEnd)
        setup.onThreadEnd();
}

} // namespace corvane
