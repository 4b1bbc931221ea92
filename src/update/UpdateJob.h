// The update job: downloads the feeds (and, with podcasts on, their audio enclosures) into the
// download cache and packs everything into the package; or, for Re-Pack, packs again from the
// cache without the network.
//
// The job runs on a worker thread of its own and reports through a listener. The command-line
// program prints; the desktop program forwards each call into its GUI thread.
//
// Several downloads and conversions run at once, but the package gets its records in exactly the
// order and with exactly the bytes that one-at-a-time work would give, and the listener hears the
// same sequence of texts in the same order: every listener call comes from the job's one packing
// thread, which walks the feed list strictly in order.
#pragma once

#include "model/FeedOptions.h"
#include "platform/Settings.h"
#include "update/CacheNames.h"
#include "update/RunningWork.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace corvane {

// Implemented by whoever shows a job. Every call comes from the job's packing thread.
//
// OnStatus, OnProgressRange, OnProgressStep and OnFinished must not block: they are called while
// the job holds the lock that Cancel() takes, so a call that waited for the thread calling
// Cancel() (a blocking hand-over to the GUI thread, say) would deadlock. Hand the call on with a
// queued call and return. OnFailure alone may wait (for the user): it is called without the lock,
// and Cancel() meanwhile is allowed; it should then return soon.
class UpdateListener {
public:
    virtual ~UpdateListener() = default;
    // "Downloading <address>", "Packing <address>", "Converting <address>", and the final text.
    virtual void OnStatus(const std::string& text) = 0;
    // The progress bar's range (0..maximum) and each step.
    virtual void OnProgressRange(int maximum) = 0;
    virtual void OnProgressStep() = 0;
    // A failure the user must acknowledge: the job waits until this returns.
    // text is "Failed to get <address>, please check the URL and the Internet connection."
    // (or the package's write error, or, when a disk is full, DiskFullText); reason says what went
    // wrong in words ("HTTP status 404", "Connection refused", a disk error), for a detail line
    // beside the text; it may be empty.
    virtual void OnFailure(const std::string& text, const std::string& reason) = 0;
    // The job reached its end (not called after a cancel). finalText is the status shown last:
    // UpdateFinalText when the package was written, UpdateNothingFetchedText when every feed
    // failed, else UpdateNotWrittenText.
    virtual void OnFinished(const std::string& finalText, bool anyFailed) = 0;
};

// A listener that shows nothing (the scheduled update runs silently).
class SilentUpdateListener : public UpdateListener {
public:
    void OnStatus(const std::string&) override { }
    void OnProgressRange(int) override { }
    void OnProgressStep() override { }
    void OnFailure(const std::string&, const std::string&) override { }
    void OnFinished(const std::string&, bool) override { }
};

// The user agents of the two kinds of full update.
inline constexpr const char* MANUAL_UPDATE_AGENT = "Velmora RSS Reader";
inline constexpr const char* SCHEDULED_UPDATE_AGENT = "RSS Reader";

// The connection limits of a job that sets none: "Update"/"Connections"'s default in all, and
// six to one host, which is what web browsers allow themselves (a podcast's episodes usually
// all come from one host, and a daily update of a few feeds should not queue its episodes one
// behind the other, but no server should see more of us than of a browser).
inline const int DEFAULT_CONNECTIONS = CorvaneSettings {}.connections;
inline constexpr int DEFAULT_CONNECTIONS_PER_HOST = 6;

// The downloads at once that the process can afford out of wanted (at least 1): each worker
// takes up to six descriptors (its socket, the name resolver's pair, the file it writes, the
// connections it keeps open for its next download), and 64 stay for the rest of the program,
// so the soft limit on open descriptors bounds it.
int BoundedConnections(int wanted);

struct UpdateJobResult;

// Everything one job needs, copied into it at construction.
struct UpdateJobSetup {
    bool repack = false; // false: full update; true: Re-Pack from the cache
    std::vector<std::string> feedUrls; // feed addresses in tree order
    std::string outputPath; // the package; replaced only when the job reaches its end
    int syncChannels = 0; // nonzero: the channels file goes into the package
    std::string channelsPath; // the channels file (GetChannelsFilePath())
    std::string agentName = MANUAL_UPDATE_AGENT;

    // The podcast settings (podcastOn, podcastFormat, compression, volume, lengthLimitOn,
    // lengthLimit, firstItemOnly). When readSettings is set it is called instead, from job
    // threads, once per feed as the feed's items are walked, so an Options change made meanwhile
    // takes effect from the next feed; it must be safe to call from any thread.
    CorvaneSettings settings;
    std::function<CorvaneSettings()> readSettings;
    // Each feed's own choices (podcasts, newest, audio form), read with the settings of each
    // feed and put over them (SettingsForFeed); any thread. Empty: no feed has any.
    std::function<FeedOptions(const std::string&)> readFeedOptions;

    // Full update only: called with 0 when the job starts and 1 when it reaches its end with the
    // package written (not after a cancel or a package write error). When every feed failed
    // (UpdateNothingFetchedText) it is called at the end with the value the job found, since the
    // cache then changed in nothing that Re-Pack packs. Called from the job's thread. May be
    // empty. A failure (the settings file cannot be written) is told to the listener as a
    // failure without an address; it does not count as a failed feed.
    std::function<Result<void>(int)> setRepackable;

    // Full update only: when set, and the settings read at the end still have prune on, the
    // cache is pruned (PruneCache) against these feeds once the package was committed; not after
    // a cancel or a package write error. They must be every feed of the tree (with this job's),
    // or the files of the feeds left out go. The result says what went.
    std::optional<std::vector<std::string>> pruneFeedUrls;

    // false (the scheduled update): OnFailure is never called.
    bool reportFailures = true;

    // Optional flag of the owner: cleared when the job's thread ends, however it ends. The job
    // does not set it; whoever starts the job does. Not owned; must outlive the job.
    std::atomic<bool>* updateRunning = nullptr;
    // Called on the job's thread as its very last action, however it ended (after a cancel too).
    // May be empty.
    std::function<void()> onThreadEnd;
    // Called on the job's thread with its result once Result() gives it, before Running() and
    // updateRunning clear and before onThreadEnd. May be empty.
    std::function<void(const UpdateJobResult&)> onResult;

    // How long the job waits for another update of the program folder (ProgramFolderLock) before
    // it ends without writing anything; negative: FolderLockWait().
    std::chrono::milliseconds folderLockWait {-1};

    // Concurrency: downloads at once (at least 1), downloads at once from one host (at least 1),
    // conversions at once (0: std::thread::hardware_concurrency()).
    int connections = DEFAULT_CONNECTIONS;
    int connectionsPerHost = DEFAULT_CONNECTIONS_PER_HOST;
    int conversionThreads = 0;
};

// One address that failed in a job, with the reason given to OnFailure. The package's own write
// error has an empty address.
struct UpdateFailure {
    std::string address;
    std::string reason;
    bool reachedNoServer = false; // the download failed before any server answered
};

// How a job ended.
struct UpdateJobResult {
    // The job reached its end (OnFinished was called, unless a Cancel came after the commit).
    bool finished = false;
    bool cancelled = false; // Cancel() stopped it before the commit: nothing was committed
    bool packageWritten = false; // the package was committed over outputPath
    bool anyFailed = false; // the failure flag (also set by a package write error)
    std::uint64_t packageSize = 0; // the committed package's length
    std::string finalText; // as given to OnFinished
    std::string packageError; // a package write or commit error, naming the file
    std::size_t conversions = 0; // MP3s converted to AMR by this job (kept ones not counted)
    // Every failure of the job in order, also when OnFailure was not called (the scheduled
    // update reports none).
    std::vector<UpdateFailure> failures;
    // Another update held the program folder for the whole wait: nothing was downloaded or
    // written, packageError says so (finished is true, packageWritten false).
    bool folderBusy = false;
    // Nothing was fetched, and every feed failed before any server answered (name not resolved,
    // connection refused or unreachable, time-out): the network is not up, or not yet. The
    // previous package was kept (packageWritten is false).
    bool noNetwork = false;
    // The prune after the update (see UpdateJobSetup::pruneFeedUrls): whether it ran, what it
    // removed, and the files it could not remove.
    bool pruned = false;
    std::size_t prunedFiles = 0;
    std::uint64_t prunedBytes = 0;
    std::vector<std::string> pruneErrors;
};

// The texts of the job, exactly as shown.
std::string UpdateFinalText(std::uint64_t packageSize, bool anyFailed);
// The update job's name for FetchFailureText (net/WebAccess.h): the same sentence.
std::string UpdateFailureText(const std::string& address);
// The sentence for a failure of address whose reason is given: the disk's (DiskFullText, naming
// path, the file that could not be written) when the disk is full, else the one above.
std::string UpdateFailureText(
    const std::string& address, const std::string& path, const std::string& reason);
// The final text when the package could not be written: "The package <outputPath> was not
// written: <reason>". The reason is what packageError says after the package's own name, or the
// whole of packageError when it does not name the package.
std::string UpdateNotWrittenText(const std::string& outputPath, const std::string& packageError);

// Re-Pack's failure for a feed whose document the download cache does not hold: "Cannot pack
// <address>", with the reason "not in the download cache; run an update".
std::string RepackMissingFeedText(const std::string& address);
// Why Re-Pack kept the previous package: count feeds that it holds would be left out, being
// missing from the cache (a feed taken out of the tree is the user's choice and counts not).
std::string RepackLosesFeedsText(std::size_t count);

// The final text of a full update in which every feed failed: no package was written and the
// previous one stands (see UpdateJobResult::packageWritten).
std::string UpdateNothingFetchedText();

// AMR parameters from the podcast settings: mode 7 - compression (compression 0..7, else mode 0)
// and the volume index (volume 0..7, else 4).
int AmrModeFromCompression(int compression);
int VolumeIndexFromVolume(int volume);
// All four conversion settings of the podcast settings (the length counts with the limit on).
AmrSettings AmrSettingsFrom(const CorvaneSettings& settings);

// One update job. Create it, Start() it, then either let it run to its end or Cancel() it.
//
// Thread: Start, Cancel, Wait and Result are called from the owner's thread (one thread). The
// listener is called from the job's packing thread only and must outlive the job.
//
// After Cancel() returns, the listener gets no further OnStatus, OnProgress*, OnFinished call and
// the package file at outputPath is never touched; a listener inside OnFailure at that moment
// returns normally and the job then ends. Cache files stay whole: a download that is stopped
// leaves nothing behind (the fetcher's rule), a stopped conversion leaves nothing at its name,
// and finished conversions stay for the next job.
class CUpdateJob {
public:
    CUpdateJob(UpdateJobSetup setup, UpdateListener& listener);
    ~CUpdateJob(); // cancels a job that still runs and waits for its thread
    CUpdateJob(const CUpdateJob&) = delete;
    CUpdateJob& operator=(const CUpdateJob&) = delete;

    // Removes the temporaries that killed jobs left beside outputPath and in the cache (never one
    // that a live writer holds); makes the package's folder when outputPath is the default
    // package path (DefaultOutputPath(): a fresh account may have no documents folder yet), and
    // refuses any other missing folder with "the folder <folder> does not exist", and a path
    // that names one of this program's own files (the channels file, the settings file, the
    // lock, the record of the last update, a file in the download cache) with "it is <what>";
    // opens the
    // package under a temporary name beside outputPath, writes the magic number and the channels
    // section, and starts the job's thread. Returns false, with a message naming the
    // file and the reason in error, when the package cannot be created or written; no thread is
    // started then and the previous package is untouched. Call once.
    bool Start(std::string& error);

    // Asks the job to stop at once and returns without waiting (see the class comment).
    void Cancel();
    // Waits until the job's thread has ended (at its end or after a cancel).
    void Wait();
    // True while the job's thread runs.
    bool Running() const { return running.load(); }
    // Valid once Running() is false.
    UpdateJobResult Result() const;
    // The downloads and conversions running now (any thread, at any time).
    std::vector<RunningWork> RunningWorkNow() const { return board.Snapshot(); }

private:
    struct Impl;
    void Run(std::stop_token stop);

    UpdateJobSetup setup;
    UpdateListener& listener;
    CRunningWorkBoard board;
    std::unique_ptr<Impl> impl;
    std::atomic<bool> running {false};
    mutable std::mutex resultMutex;
    UpdateJobResult result;
    // Cancel() may come from any thread, the job's own included (a listener), even while
    // Start() is still handing over the thread: the stop goes through this source, made before
    // the thread starts, never through the thread object.
    std::stop_source stopSource;
    std::jthread thread;
};

} // namespace corvane
