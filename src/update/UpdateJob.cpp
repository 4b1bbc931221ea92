#include "update/UpdateJob.h"

#include "platform/AtomicFile.h"

#include "audio/Mp3ToAmr.h"
#include "formats/CorvaneDoc.h"
#include "net/WebAccess.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"
#include "update/Package.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <utility>

#include <sys/stat.h>

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
    return "Failed to get " + address + ", please check the URL and the Internet connection.";
}

std::string UpdateNotWrittenText(const std::string& outputPath, const std::string& packageError)
{
    std::string reason = packageError;
    const std::string named = outputPath + ": ";
    if (const std::size_t at = packageError.find(named); at != std::string::npos)
        reason = packageError.substr(at + named.size());
    return "The package " + outputPath + " was not written: " + reason;
}

int AmrModeFromCompression(int compression)
{
    return compression >= 0 && compression <= 7 ? 7 - compression : 0;
}

int VolumeIndexFromVolume(int volume)
{
    return volume >= 0 && volume <= 7 ? volume : 4;
}

namespace {

// The host (with port) of an address, lower-cased: downloads from one host are limited apart
// from the total. User info is left out so that two accounts on one server still count as one.
std::string HostOf(const std::string& url)
{
    std::size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    std::size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    std::size_t at = authority.rfind('@');
    if (at != std::string::npos)
        authority.erase(0, at + 1);
    for (char& c : authority)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return authority;
}

// The temporaries that a killed job (of this or another process) left beside the package, beside
// the channels file and in the cache (downloads, conversions, the cache index). A job that still writes holds the lock on its own, and those stay.
void RemoveLeftoversOfKilledJobs(const std::string& outputPath, const std::string& channelsPath)
{
    RemoveStaleTemporariesOf(outputPath);
    if (!channelsPath.empty())
        RemoveStaleTemporariesOf(channelsPath);
    const std::string data = GetDataFolder();
    RemoveStaleTemporariesOf(CCacheIndex::IndexPathIn(data));
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

bool FileExists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

// One download (or, for Re-Pack, one look into the cache) and what follows it: the parse of a
// feed document, or the conversion of an enclosure.
struct Task {
    enum class Kind { Feed, Enclosure };
    enum class State {
        Blocked, // an earlier task with the same cache file is not packed yet
        Queued, // waits for a download worker
        Fetching, // a worker downloads it
        Converting, // downloaded; waits for or runs its conversion
        Done // nothing more to do before packing
    };

    Kind kind = Kind::Feed;
    std::pair<std::size_t, std::size_t> order; // (feed index, 0 for the feed or 1 + item)
    std::string url;
    std::string cachePath; // ".xml" for a feed, ".mp3" for an enclosure
    std::string amrPath; // enclosure to be re-compressed
    // Why the download cannot start (the cache index could not record the file's address);
    // empty when it can. Re-Pack: whether the cache holds a file fetched from url.
    std::string cacheError;
    bool inCache = true;
    std::string host;
    State state = State::Queued;
    Task* nextSameFile = nullptr; // the next task that must wait until this one is packed
    bool packed = false;

    int fetchResult = 0;
    bool convert = false;
    int convertResult = -1;
    std::string convertError;

    // Feed: the podcast settings read when its items were walked, and its enclosures.
    CorvaneSettings settings;
    std::vector<Task> found; // enclosures read, not yet scheduled
    std::vector<Task*> enclosures; // scheduled, in item order
};

struct CUpdateJob::Impl {
    std::unique_ptr<CPackageFile> package;
    std::unique_ptr<CCacheIndex> cacheIndex; // under mutex

    // The scheduling state, shared by the packing thread and the workers.
    std::mutex mutex;
    std::condition_variable workCondition; // download workers
    std::condition_variable convertCondition; // conversion workers
    std::condition_variable doneCondition; // the packing thread
    std::deque<Task> tasks; // stable addresses
    std::vector<Task*> feedTasks;
    std::map<std::pair<std::size_t, std::size_t>, Task*> queued;
    std::map<std::pair<std::size_t, std::size_t>, Task*> toConvert;
    std::unordered_map<std::string, Task*> lastUserOfFile;
    std::unordered_map<std::string, int> activeByHost;
    std::size_t scheduledFeeds = 0; // feeds whose enclosures are scheduled: a prefix of the list
    bool shutdown = false;

    // Listener calls and Cancel meet here, so that after Cancel() nothing more is shown.
    std::recursive_mutex listenerMutex;
    bool cancelled = false;
};

CUpdateJob::CUpdateJob(UpdateJobSetup setup_, UpdateListener& listener_)
    : setup(std::move(setup_))
    , listener(listener_)
    , impl(std::make_unique<Impl>())
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
    RemoveLeftoversOfKilledJobs(setup.outputPath, setup.channelsPath);
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
    Impl& state = *impl;
    const bool repack = setup.repack;
    const std::size_t feedCount = setup.feedUrls.size();
    bool anyFailed = false;
    std::string packageError;

    // Every listener call goes through these: nothing is shown once Cancel() has begun.
    auto status = [&](const std::string& text) {
        std::lock_guard lock(state.listenerMutex);
        if (!state.cancelled)
            listener.OnStatus(text);
    };
    auto failure = [&](const std::string& text) {
        anyFailed = true;
        if (!setup.reportFailures)
            return;
        {
            std::lock_guard lock(state.listenerMutex);
            if (state.cancelled)
                return;
        }
        // Not under the lock: the listener blocks until the user has answered, and the user may
        // press Cancel meanwhile.
        listener.OnFailure(text);
    };
    auto readSettings
        = [&]() { return setup.readSettings ? setup.readSettings() : setup.settings; };

    // Wakes every waiting thread when a stop is requested.
    std::stop_callback wake(stop, [&state] {
        std::lock_guard lock(state.mutex);
        state.workCondition.notify_all();
        state.convertCondition.notify_all();
        state.doneCondition.notify_all();
    });

    {
        std::lock_guard lock(state.listenerMutex);
        if (!state.cancelled) {
            if (!repack && setup.setRepackable)
                setup.setRepackable(0);
            listener.OnProgressRange(
                static_cast<int>(std::min<std::size_t>(feedCount, 0x7fffffff)));
        }
    }
    if (!repack)
        CreateDataFolder(); // a failure shows up as failed downloads

    // Tasks with one cache file run one after another, each only once the one before it was
    // packed: the package then holds what one-at-a-time work would have packed when one address
    // is listed twice (the cache index gives different addresses different files). Called with
    // the mutex held.
    auto addTask = [&state](Task task) -> Task* {
        Task& added = state.tasks.emplace_back(std::move(task));
        auto [slot, inserted] = state.lastUserOfFile.try_emplace(added.cachePath, &added);
        if (!inserted) {
            Task* previous = slot->second;
            slot->second = &added;
            if (!previous->packed) {
                previous->nextSameFile = &added;
                added.state = Task::State::Blocked;
                return &added;
            }
        }
        state.queued.emplace(added.order, &added);
        return &added;
    };

    // Gives each task of a batch its cache file: for a download, the file claimed for its
    // address, the claims written before any of them starts; for Re-Pack, the file that was
    // fetched from its address, if any. Called with the mutex held, in package order.
    auto placeInCache = [&](std::vector<Task>& batch) {
        std::vector<Task*> newlyClaimed;
        for (Task& task : batch) {
            const int kind = task.kind == Task::Kind::Feed ? CACHE_FEED : CACHE_MP3;
            if (repack) {
                task.cachePath = state.cacheIndex->Find(task.url, kind);
                task.inCache = !task.cachePath.empty();
                if (!task.inCache)
                    task.cachePath = CacheFileName(task.url, kind); // orders the chains only
            } else {
                const CCacheIndex::Claim claim = state.cacheIndex->ClaimForDownload(task.url, kind);
                task.cachePath = claim.path;
                if (claim.path.empty())
                    task.cacheError = "no free cache file name for " + task.url;
                else if (claim.newClaim)
                    newlyClaimed.push_back(&task);
            }
            if (task.convert) // ".mp3" becomes ".amr": the conversion belongs to that file
                task.amrPath = task.cachePath.substr(0, task.cachePath.size() - 4) + ".amr";
        }
        std::string error;
        if (!state.cacheIndex->SaveIfChanged(error)) {
            for (Task* task : newlyClaimed)
                task->cacheError = error;
        }
    };

    {
        std::lock_guard lock(state.mutex);
        state.cacheIndex = std::make_unique<CCacheIndex>(GetDataFolder());
        std::vector<Task> feeds;
        for (std::size_t i = 0; i < feedCount; ++i) {
            Task task;
            task.kind = Task::Kind::Feed;
            task.order = {i, 0};
            task.url = setup.feedUrls[i];
            task.host = repack ? std::string() : HostOf(task.url);
            feeds.push_back(std::move(task));
        }
        placeInCache(feeds);
        for (Task& task : feeds)
            state.feedTasks.push_back(addTask(std::move(task)));
    }

    // Enclosures are scheduled feed by feed in list order, only once every earlier feed was
    // read: then the chains of addTask follow the package order, and an enclosure never waits
    // for the cache file of one that is packed after it. Called with the mutex held.
    auto scheduleReadFeeds = [&]() {
        while (state.scheduledFeeds < feedCount
            && state.feedTasks[state.scheduledFeeds]->state == Task::State::Done) {
            Task* feed = state.feedTasks[state.scheduledFeeds++];
            placeInCache(feed->found);
            for (Task& enclosure : feed->found)
                feed->enclosures.push_back(addTask(std::move(enclosure)));
            feed->found.clear();
        }
    };

    // The download workers: take the first queued task (in package order) whose host has a
    // free connection, fetch it, then parse a feed or hand an enclosure to the conversions.
    auto downloadWorker = [&]() {
        std::unique_lock lock(state.mutex);
        for (;;) {
            Task* task = nullptr;
            state.workCondition.wait(lock, [&] {
                if (state.shutdown || stop.stop_requested())
                    return true;
                for (auto& [order, candidate] : state.queued) {
                    if (repack || state.activeByHost[candidate->host] < setup.connectionsPerHost) {
                        task = candidate;
                        return true;
                    }
                }
                return false;
            });
            if (!task)
                return;
            state.queued.erase(task->order);
            task->state = Task::State::Fetching;
            ++state.activeByHost[task->host];
            lock.unlock();

            int result;
            if (repack) {
                result = task->inCache && FileExists(task->cachePath) ? WEB_OK : 0;
            } else if (!task->cacheError.empty()) {
                result = WEB_ERR_REQUEST;
            } else {
                CWebAccess web(setup.agentName);
                web.SetStopToken(stop);
                result = web.DownloadUrl(task->url, task->cachePath);
            }

            std::vector<Task> found;
            CorvaneSettings settings;
            if (task->kind == Task::Kind::Feed && result == WEB_OK) {
                settings = readSettings();
                if (settings.podcastOn) {
                    std::unique_ptr<CFeedChannel> channel;
                    // Whatever the parse result: the items read before a fault still count.
                    CCorvaneDoc::ReadFeedFile(task->cachePath, channel);
                    std::size_t itemNumber = 0;
                    for (const CFeedItem* item = channel ? channel->firstItem.get() : nullptr; item;
                         item = item->nextItem.get()) {
                        ++itemNumber;
                        if (item->enclosureUrl && item->enclosureType
                            && *item->enclosureType == "audio/mpeg") {
                            Task enclosure;
                            enclosure.kind = Task::Kind::Enclosure;
                            enclosure.order = {task->order.first, itemNumber};
                            enclosure.url = *item->enclosureUrl;
                            enclosure.host = repack ? std::string() : HostOf(enclosure.url);
                            enclosure.convert = settings.podcastFormat != 0;
                            enclosure.settings = settings;
                            found.push_back(std::move(enclosure));
                        }
                        if (settings.firstItemOnly)
                            break;
                    }
                }
            }

            lock.lock();
            --state.activeByHost[task->host];
            task->fetchResult = result;
            if (task->kind == Task::Kind::Feed) {
                task->settings = settings;
                task->found = std::move(found);
                task->state = Task::State::Done;
                scheduleReadFeeds();
            } else if (result == WEB_OK && task->convert) {
                task->state = Task::State::Converting;
                state.toConvert.emplace(task->order, task);
                state.convertCondition.notify_one();
            } else {
                task->state = Task::State::Done;
            }
            state.workCondition.notify_all();
            state.doneCondition.notify_all();
        }
    };

    auto convertWorker = [&]() {
        std::unique_lock lock(state.mutex);
        for (;;) {
            state.convertCondition.wait(lock, [&] {
                return state.shutdown || stop.stop_requested() || !state.toConvert.empty();
            });
            if (state.shutdown || stop.stop_requested())
                return;
            Task* task = state.toConvert.begin()->second;
            state.toConvert.erase(state.toConvert.begin());
            lock.unlock();

            ConversionControl control;
            control.stop = stop;
            std::string error;
            const CorvaneSettings& settings = task->settings;
            int converted = ConvertMp3ToAmr(task->cachePath, task->amrPath,
                AmrModeFromCompression(settings.compression), 0,
                VolumeIndexFromVolume(settings.volume), settings.lengthLimitOn,
                settings.lengthLimit, &control, &error);

            lock.lock();
            task->convertResult = converted;
            task->convertError = std::move(error);
            task->state = Task::State::Done;
            state.doneCondition.notify_all();
        }
    };

    std::vector<std::jthread> workers;
    const std::size_t downloadCount = std::min<std::size_t>(
        static_cast<std::size_t>(setup.connections), std::max<std::size_t>(feedCount, 1));
    for (std::size_t i = 0; i < downloadCount; ++i)
        workers.emplace_back(downloadWorker);
    for (int i = 0; i < setup.conversionThreads; ++i)
        workers.emplace_back(convertWorker);

    // Waits until task has reached at least the given state; false when the job was stopped.
    auto waitFor = [&](Task* task, Task::State reached) {
        std::unique_lock lock(state.mutex);
        state.doneCondition.wait(lock, [&] {
            return stop.stop_requested()
                || static_cast<int>(task->state) >= static_cast<int>(reached);
        });
        return !stop.stop_requested();
    };
    // The packer is done with task: a task waiting for the same cache file may go.
    auto markPacked = [&](Task* task) {
        std::lock_guard lock(state.mutex);
        task->packed = true;
        if (Task* next = task->nextSameFile) {
            next->state = Task::State::Queued;
            state.queued.emplace(next->order, next);
            state.workCondition.notify_all();
        }
    };
    // Writes one record; false on a package write error (packageError says which).
    auto writeRecord = [&](const std::string& url, std::uint32_t type, const std::string& path,
                           bool& sourceMissing) {
        sourceMissing = false;
        if (!WritePackageRecord(*state.package, url, type, path, &sourceMissing)) {
            packageError = state.package->ErrorText();
            if (packageError.empty())
                packageError = "Cannot write the package " + setup.outputPath;
            return false;
        }
        return true;
    };

    const std::string verb = repack ? "Packing " : "Downloading ";
    bool stopped = false;
    for (std::size_t i = 0; i < feedCount && !stopped && packageError.empty(); ++i) {
        Task* feed = state.feedTasks[i];
        status(verb + feed->url);
        if (!waitFor(feed, Task::State::Done)) {
            stopped = true;
            break;
        }
        if (feed->fetchResult != WEB_OK) {
            if (repack)
                anyFailed = true; // a feed missing from the cache costs no message
            else
                failure(UpdateFailureText(feed->url));
            markPacked(feed);
            for (Task* enclosure : feed->enclosures)
                markPacked(enclosure);
        } else {
            bool missing = false;
            if (stop.stop_requested()) {
                stopped = true;
                break;
            }
            if (!writeRecord(feed->url, RECORD_FEED, feed->cachePath, missing))
                break;
            if (missing) {
                // The download succeeded without a body and no earlier copy exists: the phone
                // would silently lack this feed.
                if (repack)
                    anyFailed = true;
                else
                    failure(UpdateFailureText(feed->url));
            }
            markPacked(feed);

            for (Task* enclosure : feed->enclosures) {
                if (stop.stop_requested() || !packageError.empty())
                    break;
                status(verb + enclosure->url);
                if (!waitFor(enclosure, Task::State::Converting)) {
                    stopped = true;
                    break;
                }
                if (enclosure->fetchResult != WEB_OK) {
                    failure(UpdateFailureText(enclosure->url));
                    markPacked(enclosure);
                    continue;
                }
                std::uint32_t type = RECORD_MP3;
                std::string source = enclosure->cachePath;
                if (enclosure->convert) {
                    status("Converting " + enclosure->url);
                    if (!waitFor(enclosure, Task::State::Done)) {
                        stopped = true;
                        break;
                    }
                    if (enclosure->convertResult != 0) {
                        // Undecodable audio: no record at all, never an empty AMR record.
                        failure(UpdateFailureText(enclosure->url));
                        markPacked(enclosure);
                        continue;
                    }
                    type = RECORD_AMR;
                    source = enclosure->amrPath;
                }
                if (stop.stop_requested()) {
                    stopped = true;
                    break;
                }
                bool written = writeRecord(enclosure->url, type, source, missing);
                if (enclosure->convert)
                    std::remove(enclosure->amrPath.c_str());
                if (written && missing)
                    failure(UpdateFailureText(enclosure->url));
                markPacked(enclosure);
                if (!written)
                    break;
            }
        }
        if (!stopped && packageError.empty()) {
            std::lock_guard lock(state.listenerMutex);
            if (!state.cancelled)
                listener.OnProgressStep();
        }
    }
    stopped = stopped || stop.stop_requested();

    {
        std::lock_guard lock(state.mutex);
        state.shutdown = true;
        state.workCondition.notify_all();
        state.convertCondition.notify_all();
    }
    workers.clear(); // joins

    // Converted audio that was never packed (a stop, a write error) is not left in the cache.
    for (Task& task : state.tasks) {
        if (task.convert && task.convertResult == 0 && !task.packed)
            std::remove(task.amrPath.c_str());
    }

    UpdateJobResult outcome;
    outcome.cancelled = true;
    bool committed = false;
    {
        // Commit and Cancel() exclude each other: either the package is replaced and the end is
        // shown, or neither happens.
        std::lock_guard lock(state.listenerMutex);
        if (!stopped && !state.cancelled) {
            outcome.cancelled = false;
            if (packageError.empty()) {
                committed = state.package->Commit();
                if (!committed) {
                    packageError = state.package->ErrorText();
                    if (packageError.empty())
                        packageError = "Cannot write the package " + setup.outputPath;
                }
            }
        }
    }
    if (!outcome.cancelled && !packageError.empty())
        failure(packageError); // outside the lock: the user answers it
    {
        std::lock_guard lock(state.listenerMutex);
        outcome.anyFailed = anyFailed;
        outcome.packageWritten = committed;
        outcome.packageError = packageError;
        if (committed)
            outcome.packageSize = state.package->Size();
        if (!outcome.cancelled && !state.cancelled) {
            outcome.finished = true;
            // "Finished." with a size would tell the user that the phone gets a new package.
            outcome.finalText = committed ? UpdateFinalText(state.package->Size(), anyFailed)
                                          : UpdateNotWrittenText(setup.outputPath, packageError);
            if (committed && !repack && setup.setRepackable)
                setup.setRepackable(1);
            listener.OnFinished(outcome.finalText, anyFailed);
        } else {
            outcome.cancelled = true;
        }
        state.package.reset(); // uncommitted: the temporary file goes, the previous package stays
    }
    {
        std::lock_guard lock(resultMutex);
        result = outcome;
    }
    running = false;
    if (setup.updateRunning)
        setup.updateRunning->store(false);
    if (setup.onThreadEnd)
        setup.onThreadEnd();
}
