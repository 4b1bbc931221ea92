// The update job's task scheduler: the downloads (or, for Re-Pack, the looks into the cache),
// the parse of each feed document and the conversions, run by worker threads while the packer
// takes the results strictly in package order.
//
// Order and limits. At most connections downloads run at once, connectionsPerHost from one
// host. A worker that finished a download takes the next waiting task of the same host when
// there is one, so that the connection it holds open serves it; otherwise, and at the start, it
// takes the first waiting task in package order whose host has a free connection. Each host
// keeps its own queue and only hosts with a free connection are looked at, so picking a task
// costs the same whether a thousand tasks wait for one busy host or none.
// Tasks with one cache file (one address listed twice) form a chain: each waits until the one
// before it was packed, so the package holds what one-at-a-time work would have packed. A
// feed's enclosures are scheduled only once every earlier feed was read, so the chains follow
// the package order and an enclosure never waits for a file that is packed after it.
//
// Cache files. Each task's file comes from the cache index: for a download, the file claimed for
// its address (the claims written before any of their downloads starts); for Re-Pack, the file
// that was fetched from its address, if any.
//
// Workers start as the work needs them. Download workers, up to connections: one for each host
// that has a waiting task and a free connection, beyond the workers that are idle; a job of one
// small feed starts one, not one per connection (each costs a thread and a connection cache).
// Conversion workers, up to conversionThreads, as conversions wait.
//
// Thread: Start, Feed, WaitFor, MarkPacked, AllowCacheChanges, LetWorkersEnd and Shutdown are the
// packer's (one thread). The workers are the scheduler's own; a stop requested on the token wakes
// and ends them all.
#pragma once

#include "net/ConnectionSharing.h"
#include "platform/Settings.h"
#include "update/CacheIndex.h"
#include "update/RunningWork.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvane {

// One download (or one look into the cache) and what follows it: the parse of a feed document,
// or the conversion of an enclosure. Fields below "results" are the scheduler's until the task
// has reached the state the packer waits for.
struct UpdateTask {
    enum class Kind { Feed, Enclosure };
    enum class State {
        Blocked, // an earlier task with the same cache file is not packed yet
        Queued, // waits for a download worker
        Fetching, // a worker downloads it
        Converting, // downloaded; waits for or runs its conversion
        Done // nothing more to do before packing
    };

    Kind kind = Kind::Feed;
    std::pair<std::size_t, std::size_t> order; // (feed index, 0 for the feed or item number)
    std::string url;
    std::string host; // empty for Re-Pack, which has no connections to limit
    std::string cachePath; // ".xml" for a feed, ".mp3" for an enclosure
    // An enclosure to be re-compressed: its kept conversion (KeptAmrPath), known once the MP3 is
    // in the cache; amrKept when a job before made it, so that none runs now.
    std::string amrPath;
    bool amrKept = false;
    bool convert = false;
    CorvaneSettings settings; // the podcast settings the task was made with

    // Why the download cannot start (the cache index could not record the file's address);
    // empty when it can. Re-Pack: whether the cache holds a file fetched from url.
    std::string cacheError;
    bool inCache = true;

    // Scheduling.
    State state = State::Queued;
    UpdateTask* nextSameFile = nullptr; // the next task that must wait until this one is packed
    bool packed = false;

    // Results.
    int fetchResult = 0;
    std::string fetchError; // why the download failed, in words (empty on WEB_OK)
    bool fetchReachedNoServer = false; // the download failed before any server answered
    // Feed: why the document fetched (or found in the cache) is no feed; empty when it is one.
    std::string notAFeed;
    int convertResult = -1;
    std::string convertError;
    std::vector<UpdateTask> found; // feed: enclosures read, not yet scheduled
    std::vector<UpdateTask*> enclosures; // feed: scheduled, in item order
};

class CTaskScheduler {
public:
    struct Options {
        bool repack = false;
        std::string agentName;
        int connections = 4; // at least 1
        int connectionsPerHost = 2; // at least 1
        int conversionThreads = 1; // at least 1
        // Bytes per second below which a download that lasts the stall time-out fails
        // (CWebAccess::SetFloorRate); 0 or 1: only a stalled one.
        long floorRate = 1;
        // The podcast settings of the feed at the address given, read once per feed as its
        // items are walked (any thread).
        std::function<CorvaneSettings(const std::string&)> readSettings;
        // Where the running downloads and conversions show their progress; may be null.
        CRunningWorkBoard* board = nullptr;
        // The cache stays as it is until AllowCacheChanges: downloads are sent and answered,
        // but none puts its file into the cache, removes one or starts a conversion before.
        // The job stores meanwhile that the cache is about to change.
        bool holdCacheChanges = false;
    };

    CTaskScheduler(Options options, std::stop_token stop);
    ~CTaskScheduler(); // Shutdown()
    CTaskScheduler(const CTaskScheduler&) = delete;
    CTaskScheduler& operator=(const CTaskScheduler&) = delete;

    // Makes one feed task per address, in list order, and starts the workers. Call once.
    void Start(const std::vector<std::string>& feedUrls);
    UpdateTask& Feed(std::size_t index) { return *feedTasks.at(index); }

    // Waits until task has reached at least the given state; false when the job was stopped.
    bool WaitFor(const UpdateTask& task, UpdateTask::State reached);
    // The packer is done with task: a task waiting for the same cache file may go.
    void MarkPacked(UpdateTask& task);

    // Ends the hold of Options::holdCacheChanges.
    void AllowCacheChanges();
    // Tells the workers to end once their task is done, and starts no more; Shutdown joins them.
    void LetWorkersEnd();
    // Ends and joins the workers. Conversions that were made but not packed (a stop, a package
    // write error) stay: they are whole, and the next job packs them without converting again.
    void Shutdown();

    // How many conversions ran (not counting kept ones). Valid after Shutdown.
    std::size_t Conversions() const { return conversions; }

private:
    using Order = std::pair<std::size_t, std::size_t>;

    // The waiting downloads of one host.
    struct HostQueue {
        int active = 0; // its downloads running now
        std::map<Order, UpdateTask*> waiting;
        std::optional<Order> readyKey; // its key in ready while it is there
    };

    UpdateTask* AddTask(UpdateTask task);
    void PlaceInCache(std::vector<UpdateTask>& batch);
    std::size_t ScheduleReadFeeds();
    void Enqueue(UpdateTask* task);
    void Reconsider(HostQueue& host);
    UpdateTask* TakeFrom(HostQueue& host);
    UpdateTask* NextDownload(const std::string* sameHost);
    struct WorkerCount {
        int started = 0;
        int idle = 0; // started and holding no task
    };
    void StartWorkers(
        WorkerCount& count, int limit, std::size_t waiting, void (CTaskScheduler::*body)());
    void StartDownloadWorkers();
    int Fetch(const UpdateTask& task, CConnectionCache& connections, std::string& error,
        bool& reachedNoServer);
    std::vector<UpdateTask> ReadEnclosures(
        const UpdateTask& feed, CorvaneSettings& settings, std::string& notAFeed) const;
    // Called with the mutex held; true when it queued new downloads (a feed's enclosures).
    bool FinishDownload(UpdateTask& task, int result, std::string error, bool reachedNoServer,
        CorvaneSettings settings, std::vector<UpdateTask> found);
    void DownloadWorker();
    // Waits (without the mutex held) while the cache is held; false when the job was stopped.
    bool WaitUntilCacheMayChange();
    void FindKeptConversion(UpdateTask& task) const;
    void ConvertWorker();

    Options options;
    std::stop_token stop;

    std::mutex mutex; // guards everything below but the workers
    std::condition_variable workCondition; // download workers
    std::condition_variable convertCondition; // conversion workers
    std::condition_variable doneCondition; // the packer
    std::condition_variable cacheCondition; // workers waiting for AllowCacheChanges
    // Wakes every waiting thread when a stop is requested. After the mutex and the conditions,
    // since it runs at once when the stop came before the scheduler was made.
    std::stop_callback<std::function<void()>> wake;
    std::unique_ptr<CCacheIndex> cacheIndex;
    std::deque<UpdateTask> tasks; // stable addresses
    std::vector<UpdateTask*> feedTasks;
    // Node-based: the HostQueue pointers in ready stay valid as hosts are added.
    std::unordered_map<std::string, HostQueue> hosts;
    // The hosts with a waiting task and a free connection, by their first waiting task.
    std::map<Order, HostQueue*> ready;
    std::map<Order, UpdateTask*> toConvert;
    std::unordered_map<std::string, UpdateTask*> lastUserOfFile;
    CWebShare webShare; // the name cache and TLS sessions of every download of the job
    std::size_t scheduledFeeds = 0; // feeds whose enclosures are scheduled: a prefix of the list
    std::size_t conversions = 0;
    WorkerCount downloadWorkers;
    WorkerCount convertWorkers;
    bool shutdown = false;
    bool cacheHeld = false;

    std::vector<std::jthread> workers; // last: joined before the state above goes; grows under
                                       // the mutex until Shutdown takes it
};

} // namespace corvane
