#include "update/ScheduledUpdate.h"

#include "platform/Paths.h"
#include "update/LastRun.h"
#include "update/ScheduleUnits.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unordered_set>

namespace corvane {

namespace {

// The feeds a prune after a full update keeps the files of: the whole tree, collected as the
// job starts, and this job's own feeds besides (an address given on the command line need not be
// in the tree, and what the job has just fetched is never pruned at once).
std::vector<std::string> PruneFeeds(
    std::vector<std::string> tree, const std::vector<std::string>& jobFeeds)
{
    const std::unordered_set<std::string> inTree(tree.begin(), tree.end());
    for (const std::string& url : jobFeeds) {
        if (!inTree.count(url))
            tree.push_back(url);
    }
    return tree;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[(month - 1) % 12];
}

LocalTime DayBefore(LocalTime time)
{
    if (--time.day >= 1)
        return time;
    if (--time.month < 1) {
        time.month = 12;
        --time.year;
    }
    time.day = DaysInMonth(time.year, time.month);
    return time;
}

std::optional<std::chrono::milliseconds> MillisecondsFromEnvironment(const char* name)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (*end || errno || value < 0)
        return std::nullopt;
    return std::chrono::milliseconds(value);
}

const char* KindName(JobKind kind)
{
    switch (kind) {
    case JobKind::Repack:
        return "Re-Pack";
    case JobKind::Scheduled:
        return "scheduled update";
    case JobKind::Update:
        break;
    }
    return "update";
}

} // namespace

LocalTime LocalTime::Now()
{
    return FromEpoch(static_cast<std::int64_t>(std::time(nullptr)));
}

LocalTime LocalTime::FromEpoch(std::int64_t seconds)
{
    std::time_t now = static_cast<std::time_t>(seconds);
    std::tm parts {};
    localtime_r(&now, &parts);
    LocalTime time;
    time.year = parts.tm_year + 1900;
    time.month = parts.tm_mon + 1;
    time.day = parts.tm_mday;
    time.hour = parts.tm_hour;
    time.minute = parts.tm_min;
    time.second = parts.tm_sec;
    return time;
}

bool ScheduledUpdateDue(const LocalTime& now, int scheduleOn, int scheduleHour, int scheduleMinute,
    bool updateRunning, const std::optional<LocalTime>& lastStart,
    const std::optional<LocalTime>& lastManualEnd)
{
    if (!scheduleOn || updateRunning)
        return false;
    if (now.hour != scheduleHour || now.minute != scheduleMinute)
        return false;
    // Any second of the minute will do, since the timer's tick of second 0 may come late or be
    // skipped by a busy GUI thread; the last start keeps it to once a day.
    if (lastStart && lastStart->SameMinute(now))
        return false;
    // Late ticks must not turn a manual job at the set time into a second update of that day.
    if (lastManualEnd && lastManualEnd->SameMinute(now))
        return false;
    return true;
}

LocalTime LastOccurrence(const LocalTime& now, int hour, int minute)
{
    LocalTime occurrence = now;
    occurrence.hour = hour;
    occurrence.minute = minute;
    occurrence.second = 0;
    return occurrence <= now ? occurrence : DayBefore(occurrence);
}

bool CatchUpDue(const LocalTime& now, int scheduleOn, int scheduleHour, int scheduleMinute,
    bool updateRunning, const std::optional<LocalTime>& lastUpdate)
{
    if (!scheduleOn || updateRunning || !lastUpdate)
        return false;
    if (!ScheduleTimeValid(scheduleHour, scheduleMinute))
        return false;
    return *lastUpdate < LastOccurrence(now, scheduleHour, scheduleMinute);
}

CUpdateController::CUpdateController(UpdateHooks hooks_)
    : hooks(std::move(hooks_))
{ }

CUpdateController::~CUpdateController()
{
    if (manualJob)
        manualJob->Cancel();
    if (scheduledJob)
        scheduledJob->Cancel();
    manualJob.reset();
    scheduledJob.reset();
}

bool CUpdateController::ScheduledRunning() const
{
    return scheduledJob && scheduledJob->Running();
}

bool CUpdateController::ManualRunning() const
{
    return manualJob && manualJob->Running();
}

UpdateJobResult CUpdateController::ManualResult() const
{
    return manualJob ? manualJob->Result() : UpdateJobResult {};
}

std::vector<RunningWork> CUpdateController::ManualRunningWork() const
{
    return manualJob ? manualJob->RunningWorkNow() : std::vector<RunningWork> {};
}

void CUpdateController::SetConcurrency(
    int connections_, int connectionsPerHost_, int conversionThreads_)
{
    connections = connections_;
    connectionsPerHost = connectionsPerHost_;
    conversionThreads = conversionThreads_;
}

CorvaneSettings CUpdateController::ReadSettings() const
{
    return hooks.readSettings ? hooks.readSettings() : LoadSettings();
}

void CUpdateController::SetJobEndedListener(JobEndedListener listener)
{
    std::lock_guard lock(jobEndedMutex);
    jobEnded = std::move(listener);
}

// On the job's thread: the record first, so that whoever hears of the end finds it written.
NetworkWaitPolicy NetworkWaitPolicy::FromEnvironment()
{
    NetworkWaitPolicy policy;
    if (const auto interval = MillisecondsFromEnvironment("CORVANE_NETWORK_RETRY_MS"))
        policy.interval = *interval;
    if (const auto limit = MillisecondsFromEnvironment("CORVANE_NETWORK_WAIT_MS"))
        policy.limit = *limit;
    return policy;
}

std::string DurationText(std::chrono::milliseconds duration)
{
    using namespace std::chrono;
    const auto count = [](long long n, const char* unit) {
        return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
    };
    if (duration >= hours(1) && duration % hours(1) == milliseconds(0))
        return count(duration_cast<hours>(duration).count(), "hour");
    if (duration >= minutes(1))
        return count(duration_cast<minutes>(duration).count(), "minute");
    if (duration >= seconds(1))
        return count(duration_cast<seconds>(duration).count(), "second");
    return count(duration.count(), "millisecond");
}

std::string NetworkGaveUpText(std::chrono::milliseconds limit)
{
    return "No network for " + DurationText(limit) + "; the previous package was kept.";
}

bool CUpdateController::WaitingForNetwork() const
{
    std::lock_guard lock(networkWaitMutex);
    return networkRetryAt.has_value();
}

void CUpdateController::CancelNetworkWait()
{
    std::lock_guard lock(networkWaitMutex);
    networkFirstTry.reset();
    networkRetryAt.reset();
}

void CUpdateController::SetNetworkWaitPolicy(const NetworkWaitPolicy& policy)
{
    std::lock_guard lock(networkWaitMutex);
    networkWait = policy;
}

// Called as a scheduled job ends: true when it found no network and is to be tried again;
// when it gives up, the result's final text says so.
bool CUpdateController::WaitsForNetwork(UpdateJobResult& result)
{
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard lock(networkWaitMutex);
    networkRetryAt.reset();
    if (!result.noNetwork || result.cancelled) {
        networkFirstTry.reset();
        return false;
    }
    if (!networkFirstTry)
        networkFirstTry = now;
    if (networkWait.TriesAgain(*networkFirstTry, now)) {
        networkRetryAt = now + networkWait.interval;
        return true;
    }
    if (now > *networkFirstTry)
        result.finalText = NetworkGaveUpText(networkWait.limit);
    networkFirstTry.reset();
    return false;
}

bool CUpdateController::NetworkRetryDue()
{
    std::lock_guard lock(networkWaitMutex);
    if (!networkRetryAt || std::chrono::steady_clock::now() < *networkRetryAt
        || updateRunning.load())
        return false;
    networkRetryAt.reset();
    return true;
}

void CUpdateController::JobEnded(
    const UpdateJobResult& jobResult, JobKind kind, const std::string& packagePath, bool wholeTree)
{
    UpdateJobResult result = jobResult;
    const bool waiting = kind == JobKind::Scheduled && WaitsForNetwork(result);
    const LastRun run = LastRunOf(result, program_invocation_short_name, KindName(kind),
        packagePath, false, wholeTree && kind != JobKind::Repack);
    if (run.fullUpdate) {
        const LocalTime end = hooks.now ? hooks.now() : LocalTime::Now();
        std::lock_guard lock(manualEndMutex);
        lastFullUpdate = end;
    }
    const Result<void> written = WriteLastRun(run);
    if (!written)
        std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, written.Error().c_str());
    if (waiting)
        return; // nothing to tell yet: the next try may find the network
    JobEndedListener listener;
    {
        std::lock_guard lock(jobEndedMutex);
        listener = jobEnded;
    }
    if (listener)
        listener(result, kind);
}

UpdateJobSetup CUpdateController::MakeSetup(bool repack, std::vector<std::string> feedUrls,
    const std::string& outputPath, const std::string& agent, bool wholeTree)
{
    UpdateJobSetup setup;
    setup.repack = repack;
    setup.feedUrls = std::move(feedUrls);
    setup.settings = ReadSettings();
    setup.outputPath = outputPath.empty() ? setup.settings.outputPath : outputPath;
    setup.syncChannels = hooks.syncChannels ? hooks.syncChannels() : 0;
    setup.channelsPath = hooks.channelsPath.empty() ? GetChannelsFilePath() : hooks.channelsPath;
    setup.agentName = agent;
    setup.readSettings
        = hooks.readSettings ? hooks.readSettings : std::function<CorvaneSettings()>(LoadSettings);
    setup.readFeedOptions = hooks.readFeedOptions;
    setup.setRepackable = hooks.setRepackable ? hooks.setRepackable
                                              : std::function<Result<void>(int)>(StoreRepackable);
    setup.updateRunning = &updateRunning;
    setup.connections
        = connections > 0 ? connections : BoundedConnections(setup.settings.connections);
    setup.connectionsPerHost = std::min(connectionsPerHost, setup.connections);
    setup.conversionThreads = conversionThreads;
    if (!repack && setup.settings.prune && hooks.collectAllFeeds
        && (!hooks.treeWhole || hooks.treeWhole()))
        setup.pruneFeedUrls = PruneFeeds(hooks.collectAllFeeds(), setup.feedUrls);
    const JobKind kind = repack           ? JobKind::Repack
        : agent == SCHEDULED_UPDATE_AGENT ? JobKind::Scheduled
                                          : JobKind::Update;
    // A tree that is not the whole channels file has no update of every feed.
    const bool everyFeed = wholeTree && !repack && (!hooks.treeWhole || hooks.treeWhole());
    setup.onResult
        = [this, kind, path = setup.outputPath, everyFeed](
              const UpdateJobResult& result) { JobEnded(result, kind, path, everyFeed); };
    return setup;
}

void CUpdateController::StopScheduled()
{
    CancelNetworkWait();
    if (!scheduledJob)
        return;
    // Its thread ends within a second (the fetch and the conversion obey the stop); the tray
    // goes back to normal through the job's end hook.
    scheduledJob->Cancel();
    scheduledJob->Wait();
    scheduledJob.reset();
}

StartResult CUpdateController::StartUpdate(
    const UpdateRequest& request, UpdateListener& listener, std::string* error)
{
    if (ManualRunning())
        return StartResult::Busy;
    StopScheduled();
    if (request.feedUrls.empty())
        return StartResult::NothingToDo;
    manualJob.reset();

    UpdateJobSetup setup = MakeSetup(request.repack, request.feedUrls, request.outputPath,
        MANUAL_UPDATE_AGENT, request.wholeTree);
    if (request.connections > 0) {
        setup.connections = request.connections;
        setup.connectionsPerHost = request.connections;
    }
    setup.onThreadEnd = [this] {
        const LocalTime end = hooks.now ? hooks.now() : LocalTime::Now();
        {
            std::lock_guard lock(manualEndMutex);
            lastManualEnd = end;
        }
        if (hooks.manualJobEnded)
            hooks.manualJobEnded();
    };
    updateRunning = true;
    manualJob = std::make_unique<CUpdateJob>(std::move(setup), listener);
    std::string message;
    if (!manualJob->Start(message)) {
        updateRunning = false;
        manualJob.reset();
        if (error)
            *error = message;
        return StartResult::CannotOpenPackage;
    }
    return StartResult::Started;
}

void CUpdateController::CancelManual()
{
    if (manualJob)
        manualJob->Cancel();
}

void CUpdateController::WaitManual()
{
    if (manualJob)
        manualJob->Wait();
}

void CUpdateController::WaitScheduled()
{
    if (scheduledJob)
        scheduledJob->Wait();
}

std::optional<LocalTime> CUpdateController::LastManualEnd()
{
    // A manual job clears updateRunning just before it records its end: once updateRunning is
    // clear, its thread is at its last step, and joining it makes the end time certain.
    if (!updateRunning.load())
        WaitManual();
    std::lock_guard lock(manualEndMutex);
    return lastManualEnd;
}

// The latest full update known: this controller's, or another process's from the program
// folder's record (corvane-cli under the timer or cron, another desktop session).
std::optional<LocalTime> CUpdateController::LastFullUpdate()
{
    std::optional<LocalTime> latest;
    {
        std::lock_guard lock(manualEndMutex);
        latest = lastFullUpdate;
    }
    if (const std::optional<LastRun> record = ReadLastRun(); record && record->lastFullUpdate) {
        const LocalTime recorded = LocalTime::FromEpoch(record->lastFullUpdate);
        if (!latest || *latest < recorded)
            latest = recorded;
    }
    return latest;
}

bool CUpdateController::TickDue(const LocalTime& now, const CorvaneSettings& settings)
{
    const bool running = updateRunning.load();
    if (ScheduledUpdateDue(now, settings.scheduleOn, settings.scheduleHour, settings.scheduleMinute,
            running, lastScheduledStart, running ? std::nullopt : LastManualEnd()))
        return true;
    if (!settings.catchUp || running)
        return false;
    // The cheap test first, so that the record is read only when this process missed the time.
    const LocalTime occurrence
        = LastOccurrence(now, settings.scheduleHour, settings.scheduleMinute);
    if (lastScheduledStart && !(*lastScheduledStart < occurrence))
        return false;
    return CatchUpDue(now, settings.scheduleOn, settings.scheduleHour, settings.scheduleMinute,
        running, LastFullUpdate());
}

bool CUpdateController::OnScheduleTick(const LocalTime& now)
{
    const CorvaneSettings settings = ReadSettings();
    if (NetworkRetryDue()) {
        std::vector<std::string> feeds = settings.scheduleOn && hooks.collectAllFeeds
            ? hooks.collectAllFeeds()
            : std::vector<std::string> {};
        if (!feeds.empty())
            return StartScheduled(std::move(feeds));
        CancelNetworkWait(); // the schedule was switched off, or the tree emptied, meanwhile
    }
    if (!TickDue(now, settings))
        return false;
    lastScheduledStart = now;
    if (hooks.timerEnabled ? hooks.timerEnabled() : ScheduleTimerEnabled())
        return false;
    std::vector<std::string> feeds
        = hooks.collectAllFeeds ? hooks.collectAllFeeds() : std::vector<std::string> {};
    if (feeds.empty())
        return false;
    return StartScheduled(std::move(feeds));
}

bool CUpdateController::StartScheduled(std::vector<std::string> feeds)
{
    scheduledJob.reset(); // a finished one: its thread has ended

    UpdateJobSetup setup
        = MakeSetup(false, std::move(feeds), std::string(), SCHEDULED_UPDATE_AGENT, true);
    setup.reportFailures = false;
    setup.onThreadEnd = [busy = hooks.scheduledBusy] {
        if (busy)
            busy(false);
    };
    updateRunning = true;
    if (hooks.scheduledBusy)
        hooks.scheduledBusy(true);
    scheduledJob = std::make_unique<CUpdateJob>(std::move(setup), silentListener);
    std::string message;
    if (!scheduledJob->Start(message)) {
        scheduledJob.reset();
        updateRunning = false;
        if (hooks.scheduledBusy)
            hooks.scheduledBusy(false);
        return false;
    }
    return true;
}

} // namespace corvane
