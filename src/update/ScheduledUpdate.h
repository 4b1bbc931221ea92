// Starting update jobs: the manual jobs of the commands (Update All, Marked, Current Feed,
// Re-Pack) and the once-a-day scheduled update, which runs the full update in the background,
// silently, with the agent "RSS Reader".
//
// CUpdateController holds `updateRunning` and the running jobs. The desktop program's view owns
// one and calls OnScheduleTick from its once-a-second timer; the command-line program may use one
// too. Core only: no widgets; the tray icon is switched through a callback.
#pragma once

#include "platform/Settings.h"
#include "update/UpdateJob.h"

#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// A local date and time of day, as the schedule compares it.
struct LocalTime {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1; // 1..31
    int hour = 0; // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..60
    static LocalTime Now(); // the system's local time
    static LocalTime FromEpoch(std::int64_t seconds); // seconds since 1970 as local time
    // Earlier and later by the fields, year first (as the clock on the wall reads).
    auto operator<=>(const LocalTime&) const = default;
    bool SameDay(const LocalTime& other) const
    {
        return year == other.year && month == other.month && day == other.day;
    }
    bool SameMinute(const LocalTime& other) const
    {
        return SameDay(other) && hour == other.hour && minute == other.minute;
    }
};

// The scheduled trigger as a pure function. True when the scheduled update should start now:
// scheduleOn is nonzero, the time's hour and minute equal scheduleHour and scheduleMinute (any
// second of that minute, so a tick that came late still starts it), no job runs, no scheduled
// update was started in this minute of this day (lastStart, when given, is the time the previous
// one started), and no manual job ran during this minute: one that runs now is updateRunning,
// one that ended within this minute of this day is lastManualEnd (when given, the time the
// previous manual job ended). A manual job at the set time takes that day's scheduled update.
bool ScheduledUpdateDue(const LocalTime& now, int scheduleOn, int scheduleHour, int scheduleMinute,
    bool updateRunning, const std::optional<LocalTime>& lastStart,
    const std::optional<LocalTime>& lastManualEnd = std::nullopt);

// Catch-up ("Update"/"Catch Up" on) as a pure function. True when the set time of day
// (scheduleHour:scheduleMinute) last came at or before now after lastUpdate, the end (or start)
// of the latest update of the program folder that is known: the program was not running at the
// set time, or the computer slept through it, and nothing updated since. False when the schedule
// is off, its time invalid, a job runs, or no update is known at all (a first start catches up
// nothing it never did).
bool CatchUpDue(const LocalTime& now, int scheduleOn, int scheduleHour, int scheduleMinute,
    bool updateRunning, const std::optional<LocalTime>& lastUpdate);

// Whether hour:minute is a time of day (0..23, 0..59); the stored schedule may hold any number.
inline bool ScheduleTimeValid(int hour, int minute)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59;
}

// The last time the clock showed hour:minute:00 at or before now (today's or yesterday's).
LocalTime LastOccurrence(const LocalTime& now, int hour, int minute);

// Re-Pack is enabled only while "Repackable" is 1 and no job (manual or scheduled) runs: the
// one rule of the desktop program's menu item and command, and of `corvane-cli repack`.
inline bool CanRepack(int repackable, bool updateRunning)
{
    return repackable == 1 && !updateRunning;
}

// How a scheduled update waits for the network: a try that found none (UpdateJobResult::
// noNetwork: a laptop that woke before its network came up) is followed by another after
// interval, until limit has passed since the first; then the update gives up and says so once.
struct NetworkWaitPolicy {
    std::chrono::milliseconds interval = std::chrono::minutes(10);
    std::chrono::milliseconds limit = std::chrono::hours(2);
    // The defaults, or CORVANE_NETWORK_RETRY_MS and CORVANE_NETWORK_WAIT_MS when they hold a
    // whole number (a limit of 0 never waits).
    static NetworkWaitPolicy FromEnvironment();
    // Whether a try that found no network at now, of a wait whose first try was at firstTry,
    // is followed by another.
    bool TriesAgain(std::chrono::steady_clock::time_point firstTry,
        std::chrono::steady_clock::time_point now) const
    {
        return now + interval <= firstTry + limit;
    }
};

// The final text of a scheduled update that gave up waiting for the network, for example
// "No network for 2 hours; the previous package was kept."
std::string NetworkGaveUpText(std::chrono::milliseconds limit);

// A duration as the messages say it: "2 hours", "10 minutes", "1 minute", "30 seconds".
std::string DurationText(std::chrono::milliseconds duration);

// Which job ended (UpdateHooks::jobEnded).
enum class JobKind { Update, Repack, Scheduled };

// What the controller needs from the program around it. Every member may be empty.
struct UpdateHooks {
    // The current settings. Called on the caller's thread when a job starts and from job threads
    // while a job runs (the podcast settings, once per feed): must be thread-safe.
    // Empty: LoadSettings().
    std::function<CorvaneSettings()> readSettings;
    // Each feed's own choices (CSubscriptions::FeedOptionsFor), from job threads: must be
    // thread-safe. Empty: no feed has any.
    std::function<FeedOptions(const std::string&)> readFeedOptions;
    // Every feed under the tree's root, in tree order. Called on the thread of OnScheduleTick
    // and StartUpdate. Without it no job prunes the cache ("Update"/"Prune"): a prune needs the
    // whole tree.
    std::function<std::vector<std::string>()> collectAllFeeds;
    // Whether the tree is the whole channels file (CSubscriptions::ChannelsRead). Called where
    // collectAllFeeds is, before it. When it says false no job prunes: the files of every feed
    // the read lost would go. Empty: the tree is whole.
    std::function<bool()> treeWhole;
    // The synchronize flag at the moment a job starts. Called on the starting thread.
    std::function<int()> syncChannels;
    // The channels file; empty: GetChannelsFilePath().
    std::string channelsPath;
    // Stores "Podcast"/"Repackable" (and the view's member). Called from job threads.
    // Empty: StoreRepackable().
    std::function<Result<void>(int)> setRepackable;
    // The tray icon: true while a scheduled update runs (icon 145), false after (icon 128).
    // Called from the thread of OnScheduleTick/StartUpdate or from the scheduled job's thread.
    std::function<void(bool busy)> scheduledBusy;
    // The local time at which a manual job ends, which the schedule compares with its minute.
    // Called from manual jobs' threads: must be thread-safe. Empty: LocalTime::Now().
    std::function<LocalTime()> now;
    // Whether the systemd timer runs the daily update instead (its scheduled tick then starts
    // nothing). Called on the thread of OnScheduleTick. Empty: ScheduleTimerEnabled().
    std::function<bool()> timerEnabled;
    // Called on a manual job's thread as its very last action, once ManualRunning() says false:
    // whoever waits for the job may wake then instead of looking now and then. Must be
    // thread-safe.
    std::function<void()> manualJobEnded;
};

// Which job StartUpdate runs.
struct UpdateRequest {
    bool repack = false;
    std::vector<std::string> feedUrls; // tree order; empty: nothing to do
    std::string outputPath; // empty: the settings' outputPath
    // Downloads at once for this job, also the limit for one host (above the polite default
    // when asked for); 0: the controller's.
    int connections = 0;
    // feedUrls are every feed of the tree (Update All): such a full update, once it wrote its
    // package, is the day's update that catch-up looks for (LastRun::fullUpdate).
    bool wholeTree = false;
};

enum class StartResult {
    Started, // the job runs; the listener hears it
    NothingToDo, // the feed list was empty: nothing written, updateRunning left clear
    Busy, // a manual job still runs
    CannotOpenPackage // the package could not be created: error says why; nothing changed
};

// Thread: every member function is called from one thread (the GUI thread, or the CLI's main
// thread). Jobs report from their own threads through their listeners and the hooks.
class CUpdateController {
public:
    explicit CUpdateController(UpdateHooks hooks = {});
    ~CUpdateController(); // cancels any running job and waits for it
    CUpdateController(const CUpdateController&) = delete;
    CUpdateController& operator=(const CUpdateController&) = delete;

    // `updateRunning`: a manual or scheduled job's thread runs.
    bool UpdateRunning() const { return updateRunning.load(); }
    bool ScheduledRunning() const;

    // Starts a manual job. A running scheduled update is stopped first (its package is left as it
    // was, the tray goes back to normal, "Repackable" stays 0). The listener must outlive the job
    // (until ManualRunning() is false or the controller is destroyed).
    StartResult StartUpdate(
        const UpdateRequest& request, UpdateListener& listener, std::string* error = nullptr);
    // Cancel of the progress dialog: stops the manual job at once, without waiting.
    void CancelManual();
    // Waits for the manual job's thread; then its result is final.
    void WaitManual();
    bool ManualRunning() const;
    // The last manual job's result (valid once ManualRunning() is false).
    UpdateJobResult ManualResult() const;
    // The manual job's running downloads and conversions (empty when none runs).
    std::vector<RunningWork> ManualRunningWork() const;

    // The schedule timer's tick. Starts the scheduled update when ScheduledUpdateDue says so with
    // the current settings and the end of the last manual job, or, with "Update"/"Catch Up" on,
    // when CatchUpDue says so with the latest full update known (LastRun::fullUpdate: this
    // controller's jobs and the program folder's last-update record, which other processes
    // write too; a Re-Pack, an update of some feeds, or a run that wrote no package does not
    // count), and no scheduled update started here since the set time; returns true when
    // it started one. A tick whose feed list is empty starts nothing (and counts as this
    // minute's start), and so does a tick while the systemd timer is installed: then the timer
    // updates, and two schedulers would update twice a day.
    // A scheduled update that found no network is tried again at the tick after the policy's
    // interval (see NetworkWaitPolicy), while the schedule stays on; meanwhile the job-ended
    // listener hears nothing of it, and it hears the giving up once, with NetworkGaveUpText.
    bool OnScheduleTick(const LocalTime& now);
    // Whether a scheduled update waits for the network to try again.
    bool WaitingForNetwork() const;
    // Ends the wait at once (a manual job's start does so too).
    void CancelNetworkWait();
    // The wait's interval and limit; default NetworkWaitPolicy::FromEnvironment().
    void SetNetworkWaitPolicy(const NetworkWaitPolicy& policy);
    // Waits for a running scheduled update to end (tests, shutdown).
    void WaitScheduled();

    // Concurrency of the jobs this controller starts (see UpdateJobSetup); connections 0 (the
    // default) takes "Update"/"Connections" of the settings each job starts with.
    void SetConcurrency(int connections, int connectionsPerHost, int conversionThreads);

    // Called on a job's thread as each job ends, with its result, after the last-update record
    // (LastRun.h) was written; a job that could not start calls nothing. Set before jobs start or
    // at any time from the controller's thread; the call must be thread-safe. Empty: nothing.
    using JobEndedListener = std::function<void(const UpdateJobResult&, JobKind)>;
    void SetJobEndedListener(JobEndedListener listener);

private:
    CorvaneSettings ReadSettings() const;
    UpdateJobSetup MakeSetup(bool repack, std::vector<std::string> feedUrls,
        const std::string& outputPath, const std::string& agent, bool wholeTree);
    void StopScheduled();
    std::optional<LocalTime> LastManualEnd();
    bool TickDue(const LocalTime& now, const CorvaneSettings& settings);
    std::optional<LocalTime> LastFullUpdate();
    bool StartScheduled(std::vector<std::string> feeds);
    void JobEnded(const UpdateJobResult& result, JobKind kind, const std::string& packagePath,
        bool wholeTree);
    bool WaitsForNetwork(UpdateJobResult& result);
    bool NetworkRetryDue();

    UpdateHooks hooks;
    std::atomic<bool> updateRunning {false};
    std::optional<LocalTime> lastScheduledStart;
    // Written by a manual job's thread as it ends, and (lastFullUpdate) by any job's.
    mutable std::mutex manualEndMutex;
    std::optional<LocalTime> lastManualEnd;
    std::optional<LocalTime> lastFullUpdate; // the end of this controller's last full update
    mutable std::mutex jobEndedMutex;
    JobEndedListener jobEnded;
    SilentUpdateListener silentListener;
    std::unique_ptr<CUpdateJob> manualJob;
    std::unique_ptr<CUpdateJob> scheduledJob;
    // The wait for the network: written by the scheduled job's thread as it ends.
    mutable std::mutex networkWaitMutex;
    NetworkWaitPolicy networkWait = NetworkWaitPolicy::FromEnvironment();
    std::optional<std::chrono::steady_clock::time_point> networkFirstTry;
    std::optional<std::chrono::steady_clock::time_point> networkRetryAt;
    int connections = 0; // 0: "Update"/"Connections", within BoundedConnections
    int connectionsPerHost = DEFAULT_CONNECTIONS_PER_HOST;
    int conversionThreads = 0;
};

} // namespace corvane
