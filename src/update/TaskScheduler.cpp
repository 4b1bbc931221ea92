#include "update/TaskScheduler.h"

#include "audio/Mp3ToAmr.h"
#include "net/WebAccess.h"
#include "platform/AsciiText.h"
#include "update/CacheNames.h"
#include "update/EnclosureSelection.h"
#include "update/UpdateJob.h"

#include <algorithm>
#include <cstdio>

#include <dirent.h>
#include <sys/stat.h>

namespace corvane {

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
    return AsciiLower(authority);
}

bool FileExists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// After a conversion: the MP3's other kept conversions, made from an older version of it (which
// no job can use again) or with other settings, so that a server that never answers 304, whose
// MP3s are new files at every update, does not add a conversion per episode at every update.
void RemoveOtherConversions(const std::string& mp3Path, const std::string& keptPath)
{
    const std::size_t slash = keptPath.rfind('/');
    const std::string folder = keptPath.substr(0, slash + 1);
    const std::string keptName = keptPath.substr(folder.size());
    DIR* directory = ::opendir(folder.c_str());
    if (!directory)
        return;
    std::vector<std::string> others;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name != keptName && IsWholeKeptAmrNameOf(name, mp3Path))
            others.push_back(folder + name);
    }
    ::closedir(directory);
    for (const std::string& path : others) {
        struct stat status { };
        if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
            std::remove(path.c_str());
    }
}

} // namespace

CTaskScheduler::CTaskScheduler(Options options_, std::stop_token stop_)
    : options(std::move(options_))
    , stop(std::move(stop_))
    , wake(stop,
          [this] {
              std::lock_guard lock(mutex);
              workCondition.notify_all();
              convertCondition.notify_all();
              doneCondition.notify_all();
              cacheCondition.notify_all();
          })
    , cacheHeld(options.holdCacheChanges)
{ }

CTaskScheduler::~CTaskScheduler()
{
    Shutdown();
}

void CTaskScheduler::Start(const std::vector<std::string>& feedUrls)
{
    {
        std::lock_guard lock(mutex);
        cacheIndex = std::make_unique<CCacheIndex>(GetDataFolder());
        std::vector<UpdateTask> feeds;
        for (std::size_t i = 0; i < feedUrls.size(); ++i) {
            UpdateTask task;
            task.kind = UpdateTask::Kind::Feed;
            task.order = {i, 0};
            task.url = feedUrls[i];
            task.host = options.repack ? std::string() : HostOf(task.url);
            feeds.push_back(std::move(task));
        }
        PlaceInCache(feeds);
        for (UpdateTask& task : feeds)
            feedTasks.push_back(AddTask(std::move(task)));
    }
}

// Called with the mutex held.
UpdateTask* CTaskScheduler::AddTask(UpdateTask task)
{
    UpdateTask& added = tasks.emplace_back(std::move(task));
    auto [slot, inserted] = lastUserOfFile.try_emplace(added.cachePath, &added);
    if (!inserted) {
        UpdateTask* previous = slot->second;
        slot->second = &added;
        if (!previous->packed) {
            previous->nextSameFile = &added;
            added.state = UpdateTask::State::Blocked;
            return &added;
        }
    }
    Enqueue(&added);
    return &added;
}

// Called with the mutex held, in package order.
void CTaskScheduler::PlaceInCache(std::vector<UpdateTask>& batch)
{
    std::vector<UpdateTask*> newlyClaimed;
    for (UpdateTask& task : batch) {
        const int kind = task.kind == UpdateTask::Kind::Feed ? CACHE_FEED : CACHE_MP3;
        if (!cacheIndex->ReadError().empty()) {
            // Neither a claim (it would remove every cached file as one of unknown origin) nor
            // a look into a cache whose origins are unknown.
            task.cacheError = cacheIndex->ReadError();
            task.cachePath = CacheFileName(task.url, kind); // orders the chains only
        } else if (options.repack) {
            task.cachePath = cacheIndex->Find(task.url, kind);
            task.inCache = !task.cachePath.empty();
            if (!task.inCache)
                task.cachePath = CacheFileName(task.url, kind); // orders the chains only
        } else {
            const CCacheIndex::Claim claim = cacheIndex->ClaimForDownload(task.url, kind);
            task.cachePath = claim.path;
            if (claim.path.empty())
                task.cacheError = "no free cache file name for " + task.url;
            else if (claim.newClaim)
                newlyClaimed.push_back(&task);
        }
    }
    std::string error;
    if (!cacheIndex->SaveIfChanged(error)) {
        for (UpdateTask* task : newlyClaimed)
            task->cacheError = error;
    }
}

// Called with the mutex held; how many tasks it added.
std::size_t CTaskScheduler::ScheduleReadFeeds()
{
    std::size_t added = 0;
    while (scheduledFeeds < feedTasks.size()
        && feedTasks[scheduledFeeds]->state == UpdateTask::State::Done) {
        UpdateTask* feed = feedTasks[scheduledFeeds++];
        PlaceInCache(feed->found);
        for (UpdateTask& enclosure : feed->found)
            feed->enclosures.push_back(AddTask(std::move(enclosure)));
        added += feed->found.size();
        feed->found.clear();
    }
    return added;
}

// The rest below is called with the mutex held.

void CTaskScheduler::Enqueue(UpdateTask* task)
{
    HostQueue& host = hosts[task->host];
    host.waiting.emplace(task->order, task);
    Reconsider(host);
}

// Puts host into ready, under its first waiting task, when it has one and a free connection;
// else takes it out. Re-Pack limits no host.
void CTaskScheduler::Reconsider(HostQueue& host)
{
    if (host.readyKey) {
        ready.erase(*host.readyKey);
        host.readyKey.reset();
    }
    if (!host.waiting.empty() && (options.repack || host.active < options.connectionsPerHost)) {
        host.readyKey = host.waiting.begin()->first;
        ready.emplace(*host.readyKey, &host);
        StartDownloadWorkers();
    }
}

// Starts workers running body until count has as many idle ones as there is work waiting, or
// limit were started.
void CTaskScheduler::StartWorkers(
    WorkerCount& count, int limit, std::size_t waiting, void (CTaskScheduler::*body)())
{
    while (!shutdown && count.started < limit && static_cast<std::size_t>(count.idle) < waiting) {
        workers.emplace_back([this, body] { (this->*body)(); });
        ++count.started;
        ++count.idle;
    }
}

// One idle download worker for each host that can start a download now, within the total. A
// task taken from a host that still has a free connection calls it again (Reconsider), so such a
// host gets its workers one after another.
void CTaskScheduler::StartDownloadWorkers()
{
    StartWorkers(
        downloadWorkers, options.connections, ready.size(), &CTaskScheduler::DownloadWorker);
}

UpdateTask* CTaskScheduler::TakeFrom(HostQueue& host)
{
    UpdateTask* task = host.waiting.begin()->second;
    host.waiting.erase(host.waiting.begin());
    ++host.active;
    --downloadWorkers.idle; // the worker taking it
    task->state = UpdateTask::State::Fetching;
    Reconsider(host);
    return task;
}

// The next download, taken off its queue: sameHost's first waiting task when it has one and a
// free connection, else the first waiting task in package order of a host with a free
// connection; null when there is none.
UpdateTask* CTaskScheduler::NextDownload(const std::string* sameHost)
{
    if (sameHost) {
        if (auto found = hosts.find(*sameHost); found != hosts.end() && found->second.readyKey)
            return TakeFrom(found->second);
    }
    return ready.empty() ? nullptr : TakeFrom(*ready.begin()->second);
}

int CTaskScheduler::Fetch(const UpdateTask& task, CConnectionCache& connections, std::string& error,
    bool& reachedNoServer)
{
    if (!task.cacheError.empty()) {
        error = task.cacheError;
        return WEB_ERR_REQUEST;
    }
    if (options.repack) {
        if (task.inCache && FileExists(task.cachePath))
            return WEB_OK;
        error = "the download cache holds no copy of it";
        return 0;
    }
    const RunningWorkTicket ticket(options.board, RunningWork::Kind::Download, task.url);
    CWebAccess web(options.agentName);
    web.SetStopToken(stop);
    web.SetSharing(&webShare, &connections);
    web.SetFloorRate(options.floorRate);
    // A passing failure (a 503, a reset) is tried again; an episode that broke off continues
    // where it stopped, now or in the next update. Feeds are small enough to fetch whole.
    web.SetRetryPolicy(RetryPolicy::FromEnvironment());
    web.SetResumable(task.kind == UpdateTask::Kind::Enclosure);
    web.SetProgressCallback([&ticket](std::uint64_t received, std::uint64_t total) {
        ticket.SetBytes(received, total);
    });
    web.SetBeforeCommit([this] { WaitUntilCacheMayChange(); });
    const int result = web.DownloadUrl(task.url, task.cachePath);
    if (result != WEB_OK)
        error = web.LastError();
    reachedNoServer = result != WEB_OK && web.LastFailureIsNoConnection();
    return result;
}

// The enclosures of a fetched feed document, with the settings read for it. A document that is
// no feed (an HTML page where the feed was, say) gives none and notAFeed says why.
std::vector<UpdateTask> CTaskScheduler::ReadEnclosures(
    const UpdateTask& feed, CorvaneSettings& settings, std::string& notAFeed) const
{
    settings = options.readSettings(feed.url);
    std::vector<UpdateTask> found;
    // An empty answer without an earlier copy leaves no file: the packer tells that failure.
    if (!FileExists(feed.cachePath))
        return found;
    // Whatever the parse result: the items read before a fault still count.
    const std::vector<SelectedEnclosure> selection
        = SelectEnclosuresOfDocument(feed.cachePath, settings, notAFeed);
    if (!notAFeed.empty() || !settings.podcastOn)
        return found;
    for (const SelectedEnclosure& selected : selection) {
        UpdateTask enclosure;
        enclosure.kind = UpdateTask::Kind::Enclosure;
        enclosure.order = {feed.order.first, selected.itemNumber};
        enclosure.url = selected.url;
        enclosure.host = options.repack ? std::string() : HostOf(enclosure.url);
        enclosure.convert = settings.podcastFormat != 0;
        enclosure.settings = settings;
        found.push_back(std::move(enclosure));
    }
    return found;
}

bool CTaskScheduler::FinishDownload(UpdateTask& task, int result, std::string error,
    bool reachedNoServer, CorvaneSettings settings, std::vector<UpdateTask> found)
{
    HostQueue& host = hosts[task.host];
    --host.active;
    Reconsider(host);
    std::size_t added = 0;
    task.fetchResult = result;
    task.fetchError = std::move(error);
    task.fetchReachedNoServer = reachedNoServer;
    if (task.kind == UpdateTask::Kind::Feed) {
        task.settings = settings;
        task.found = std::move(found);
        task.state = UpdateTask::State::Done;
        added = ScheduleReadFeeds();
    } else if (result == WEB_OK && task.convert && !task.amrKept) {
        task.state = UpdateTask::State::Converting;
        toConvert.emplace(task.order, &task);
        StartWorkers(convertWorkers, options.conversionThreads, toConvert.size(),
            &CTaskScheduler::ConvertWorker);
        convertCondition.notify_one();
    } else {
        task.state = UpdateTask::State::Done;
    }
    doneCondition.notify_all();
    return added > 0;
}

void CTaskScheduler::DownloadWorker()
{
    // This worker's connections, reused by its next download from the same server.
    CConnectionCache connections;
    std::optional<std::string> lastHost;
    std::unique_lock lock(mutex);
    for (;;) {
        UpdateTask* task = nullptr;
        workCondition.wait(lock, [&] {
            return shutdown || stop.stop_requested()
                || (task = NextDownload(lastHost ? &*lastHost : nullptr)) != nullptr;
        });
        if (!task)
            return;
        lastHost = task->host;
        lock.unlock();

        std::string error;
        bool reachedNoServer = false;
        const int result = Fetch(*task, connections, error, reachedNoServer);
        CorvaneSettings settings;
        std::vector<UpdateTask> found;
        std::string notAFeed;
        if (task->kind == UpdateTask::Kind::Feed && result == WEB_OK) {
            found = ReadEnclosures(*task, settings, notAFeed);
            // Not kept in the cache: a later Re-Pack must not pack it as the feed, and the next
            // update must fetch the whole document rather than ask whether this one changed.
            if (!notAFeed.empty() && !options.repack && WaitUntilCacheMayChange())
                std::remove(task->cachePath.c_str());
        } else if (result == WEB_OK && task->convert) {
            FindKeptConversion(*task);
        }

        lock.lock();
        ++downloadWorkers.idle;
        task->notAFeed = std::move(notAFeed);
        // The finished download's connection is this worker's to use again; only new tasks
        // need another worker woken.
        if (FinishDownload(
                *task, result, std::move(error), reachedNoServer, settings, std::move(found)))
            workCondition.notify_all();
    }
}

bool CTaskScheduler::WaitUntilCacheMayChange()
{
    std::unique_lock lock(mutex);
    cacheCondition.wait(lock, [this] { return !cacheHeld || stop.stop_requested(); });
    return !stop.stop_requested();
}

// The name of the enclosure's conversion for the MP3 now in the cache and the task's settings,
// and whether a job before made it. Called without the mutex: it looks at files.
void CTaskScheduler::FindKeptConversion(UpdateTask& task) const
{
    task.amrPath = KeptAmrPath(task.cachePath, AmrSettingsFrom(task.settings));
    task.amrKept = !task.amrPath.empty() && FileExists(task.amrPath);
}

void CTaskScheduler::ConvertWorker()
{
    std::unique_lock lock(mutex);
    for (;;) {
        convertCondition.wait(
            lock, [&] { return shutdown || stop.stop_requested() || !toConvert.empty(); });
        if (shutdown || stop.stop_requested())
            return;
        UpdateTask* task = toConvert.begin()->second;
        toConvert.erase(toConvert.begin());
        --convertWorkers.idle;
        lock.unlock();

        const RunningWorkTicket ticket(options.board, RunningWork::Kind::Conversion, task->url);
        ConversionControl control;
        control.stop = stop;
        control.progress = [&ticket](double fraction) { ticket.SetFraction(fraction); };
        control.fileMode = 0600; // the user's audio, kept in the cache
        std::string error;
        const AmrSettings amr = AmrSettingsFrom(task->settings);
        int converted = -1;
        if (!WaitUntilCacheMayChange())
            error = "the conversion was stopped";
        else if (task->amrPath.empty())
            error = "cannot convert " + task->cachePath + ": the file is not there";
        else
            converted = ConvertMp3ToAmr(task->cachePath, task->amrPath, amr.mode, 0,
                amr.volumeIndex, amr.limitOn, amr.lengthSeconds, &control, &error);

        if (converted == 0)
            RemoveOtherConversions(task->cachePath, task->amrPath);

        lock.lock();
        ++convertWorkers.idle;
        ++conversions;
        task->convertResult = converted;
        task->convertError = std::move(error);
        task->state = UpdateTask::State::Done;
        doneCondition.notify_all();
    }
}

bool CTaskScheduler::WaitFor(const UpdateTask& task, UpdateTask::State reached)
{
    std::unique_lock lock(mutex);
    doneCondition.wait(lock, [&] {
        return stop.stop_requested() || static_cast<int>(task.state) >= static_cast<int>(reached);
    });
    return !stop.stop_requested();
}

void CTaskScheduler::MarkPacked(UpdateTask& task)
{
    std::lock_guard lock(mutex);
    task.packed = true;
    if (UpdateTask* next = task.nextSameFile) {
        next->state = UpdateTask::State::Queued;
        Enqueue(next);
        workCondition.notify_one();
    }
}

void CTaskScheduler::AllowCacheChanges()
{
    std::lock_guard lock(mutex);
    cacheHeld = false;
    cacheCondition.notify_all();
}

void CTaskScheduler::LetWorkersEnd()
{
    std::lock_guard lock(mutex);
    shutdown = true; // starts no more workers
    workCondition.notify_all();
    convertCondition.notify_all();
}

void CTaskScheduler::Shutdown()
{
    LetWorkersEnd();
    std::vector<std::jthread> joining;
    {
        std::lock_guard lock(mutex);
        joining.swap(workers);
    }
    joining.clear(); // joins
}

} // namespace corvane
