#include "update/ScheduledUpdate.h"

#include "platform/Paths.h"

#include <algorithm>
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

} // namespace

LocalTime LocalTime::Now()
{
    std::time_t now = std::time(nullptr);
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

UpdateJobSetup CUpdateController::MakeSetup(bool repack, std::vector<std::string> feedUrls,
    const std::string& outputPath, const std::string& agent)
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
    setup.setRepackable
        = hooks.setRepackable ? hooks.setRepackable : std::function<void(int)>(StoreRepackable);
    setup.updateRunning = &updateRunning;
    setup.connections = connections;
    setup.connectionsPerHost = connectionsPerHost;
    setup.conversionThreads = conversionThreads;
    if (!repack && setup.settings.prune && hooks.collectAllFeeds)
        setup.pruneFeedUrls = PruneFeeds(hooks.collectAllFeeds(), setup.feedUrls);
    return setup;
}

void CUpdateController::StopScheduled()
{
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

    UpdateJobSetup setup
        = MakeSetup(request.repack, request.feedUrls, request.outputPath, MANUAL_UPDATE_AGENT);
    if (request.connections > 0) {
        setup.connections = request.connections;
        setup.connectionsPerHost = std::min(setup.connectionsPerHost, request.connections);
    }
    setup.onThreadEnd = [this] {
        const LocalTime end = hooks.now ? hooks.now() : LocalTime::Now();
        std::lock_guard lock(manualEndMutex);
        lastManualEnd = end;
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

bool CUpdateController::OnScheduleTick(const LocalTime& now)
{
    const CorvaneSettings settings = ReadSettings();
    const bool running = updateRunning.load();
    if (!ScheduledUpdateDue(now, settings.scheduleOn, settings.scheduleHour,
            settings.scheduleMinute, running, lastScheduledStart,
            running ? std::nullopt : LastManualEnd()))
        return false;
    lastScheduledStart = now;

    std::vector<std::string> feeds
        = hooks.collectAllFeeds ? hooks.collectAllFeeds() : std::vector<std::string> {};
    if (feeds.empty())
        return false;
    scheduledJob.reset(); // a finished one: its thread has ended

    UpdateJobSetup setup
        = MakeSetup(false, std::move(feeds), std::string(), SCHEDULED_UPDATE_AGENT);
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
