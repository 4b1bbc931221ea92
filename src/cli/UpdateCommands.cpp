// corvane-cli update and repack: the update job without the progress dialog. Status texts,
// progress and failures go to standard error, the final text last. Ctrl-C is Cancel.
#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "platform/Settings.h"
#include "subscriptions/Subscriptions.h"
#include "update/LastRun.h"
#include "update/Package.h"
#include "update/PackageReader.h"
#include "update/ScheduledUpdate.h"
#include "update/UpdateJob.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <vector>

namespace corvane {

namespace {

// Prints what the progress dialog would show, and the reason of each failure on the line after
// it. On a terminal, the running downloads and conversions are shown besides, on one line that
// is rewritten in place and cleared before each printed line; elsewhere only the lines are
// printed. The listener calls come from the job's thread, the progress from the main thread.
class PrintingListener : public UpdateListener {
public:
    // quiet: only the failures and their reasons. The final text is left to RunJob then, which
    // prints it only when no package was written: the summary of a written one is what the exit
    // status already says.
    PrintingListener(bool terminal, bool quiet)
        : terminal(terminal && !quiet)
        , quiet(quiet)
    { }
    void OnStatus(const std::string& text) override
    {
        if (!quiet)
            Print({text});
    }
    void OnProgressRange(int maximum) override { total = maximum; }
    void OnProgressStep() override
    {
        ++done;
        if (!quiet)
            Print({"(" + std::to_string(done) + "/" + std::to_string(total) + " feeds)"});
    }
    void OnFailure(const std::string& text, const std::string& reason) override
    {
        std::vector<std::string> lines {"Error: " + text};
        if (!reason.empty())
            lines.push_back("  Reason: " + reason);
        Print(lines);
        std::lock_guard lock(mutex);
        failures.push_back({text, reason});
    }
    void OnFinished(const std::string& finalText, bool) override
    {
        finalShown = true;
        if (!quiet)
            Print({finalText});
    }
    // Whether OnFinished came (a Ctrl-C after the commit may have stopped it).
    bool FinalShown() const { return finalShown; }

    // Every failure heard, in order (after the job's end).
    std::vector<std::pair<std::string, std::string>> Failures()
    {
        std::lock_guard lock(mutex);
        return failures;
    }

    // Whether a progress line is drawn, which the wait for the job redraws now and then.
    bool ShowsProgress() const { return terminal; }

    // Shows the running work on the progress line (terminal only); none clears it.
    void ShowRunningWork(const std::vector<RunningWork>& work)
    {
        if (!terminal)
            return;
        std::lock_guard lock(mutex);
        const std::string line = ProgressLine(work, StderrColumns() - 1);
        if (line == shownLine)
            return;
        std::fprintf(stderr, "\r\033[K%s", line.c_str());
        std::fflush(stderr);
        shownLine = line;
    }

private:
    void Print(const std::vector<std::string>& lines)
    {
        std::lock_guard lock(mutex);
        if (!shownLine.empty()) {
            std::fputs("\r\033[K", stderr);
            shownLine.clear();
        }
        for (const std::string& line : lines)
            std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }

    // "episode-12.mp3 3.1 of 40.0 MB (7%) | converting episode-11.mp3 (55%)", cut to width.
    static std::string ProgressLine(const std::vector<RunningWork>& work, int width)
    {
        std::string line;
        for (const RunningWork& item : work) {
            if (!line.empty())
                line += " | ";
            line += Describe(item);
        }
        if (width > 0 && line.size() > static_cast<std::size_t>(width)) {
            std::size_t cut = static_cast<std::size_t>(width);
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                --cut; // never inside a UTF-8 sequence
            line.resize(cut);
        }
        return line;
    }

    static std::string Describe(const RunningWork& item)
    {
        const std::string name = ShortName(item.url);
        if (item.kind == RunningWork::Kind::Conversion)
            return "converting " + name + " (" + Percent(item.fraction) + ")";
        if (item.total == 0)
            return name + " " + Megabytes(item.received);
        return name + " " + Megabytes(item.received) + " of " + Megabytes(item.total) + " ("
            + Percent(static_cast<double>(item.received) / static_cast<double>(item.total)) + ")";
    }

    // The address's last path segment, which names an episode better than its host does.
    static std::string ShortName(const std::string& url)
    {
        std::string path = url.substr(0, url.find_first_of("?#"));
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const std::size_t slash = path.rfind('/');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        return name.empty() ? url : name;
    }

    static std::string Percent(double fraction)
    {
        const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100.0);
        return std::to_string(percent) + "%";
    }

    const bool terminal;
    const bool quiet;
    std::atomic<bool> finalShown {false}; // set on the job's thread, read after its end
    std::mutex mutex;
    std::vector<std::pair<std::string, std::string>> failures; // text, reason
    std::string shownLine; // the progress line as it stands on the terminal; empty: none
    int total = 0;
    int done = 0;
};

// The nodes below root titled title, in tree order.
std::vector<COutlineItem*> FindByTitle(COutlineItem* root, const std::string& title)
{
    std::vector<COutlineItem*> found;
    ForEachNode(root, [&](COutlineItem* node, int depth) {
        if (depth > 0 && node->title && *node->title == title)
            found.push_back(node);
    });
    return found;
}

// How update and repack show themselves: quiet prints only failures; json adds one object on
// standard output at the end.
struct JobOutput {
    bool quiet = false;
    bool json = false;
    // update --wait-for-network: a try that found no network is followed by others.
    bool waitForNetwork = false;
    // Called with the job's exit code once it ended; gives the command's. Empty: nothing.
    std::function<int(int)> afterJob;
};

// What the JSON object of update and repack says.
struct JobReport {
    std::string packagePath;
    bool written = false;
    std::uint64_t size = 0;
    std::vector<std::pair<std::string, std::string>> failures; // text, reason
    int exitStatus = EXIT_FAILED;
};

// The address a failure text names, when it is the failed download's sentence.
QJsonValue FailedAddress(const std::string& text)
{
    const std::string sentence = UpdateFailureText("\x01");
    const std::string head = sentence.substr(0, sentence.find('\x01'));
    const std::string tail = sentence.substr(sentence.find('\x01') + 1);
    if (text.size() < head.size() + tail.size() || text.compare(0, head.size(), head) != 0
        || text.compare(text.size() - tail.size(), tail.size(), tail) != 0)
        return QJsonValue::Null;
    return JsonText(text.substr(head.size(), text.size() - head.size() - tail.size()));
}

// The records as the written package holds them, read back from it; null (after saying why)
// when it cannot be read.
QJsonValue PackageRecords(const std::string& path)
{
    CPackageReader reader;
    if (!reader.Open(path)) {
        PrintError(reader.Error());
        return QJsonValue::Null;
    }
    QJsonArray records;
    for (const PackageRecord& record : reader.Records())
        records.append(RecordJson(record));
    return records;
}

void PrintReport(const JobReport& report)
{
    QJsonArray failures;
    for (const auto& [text, reason] : report.failures) {
        failures.append(QJsonObject {{"address", FailedAddress(text)}, {"message", JsonText(text)},
            {"reason", JsonText(reason)}});
    }
    QJsonObject object {{"package", JsonText(report.packagePath)},
        {"packageWritten", report.written},
        {"size", report.written ? QJsonValue(static_cast<qint64>(report.size)) : QJsonValue()},
        {"records", report.written ? PackageRecords(report.packagePath) : QJsonArray()},
        {"failures", failures}, {"exitStatus", report.exitStatus}};
    PrintJson(object);
}

// Ends a command of this file: runs what comes after the job (update --send, which may change
// the exit code), then prints the JSON object when asked for, so that its exit status is the
// one the command ends with; gives the exit code.
int Finish(const JobOutput& output, JobReport report, int exitStatus)
{
    if (output.afterJob)
        exitStatus = output.afterJob(exitStatus);
    report.exitStatus = exitStatus;
    if (output.json)
        PrintReport(report);
    return exitStatus;
}

// Where the job writes the package.
std::string PackagePath(const CSubscriptions& subscriptions, const UpdateRequest& request)
{
    return request.outputPath.empty() ? subscriptions.Settings().outputPath : request.outputPath;
}

// Prints a failure that ends the command before any job ran.
int FailEarly(const JobOutput& output, const std::string& packagePath, const std::string& message)
{
    PrintError(message);
    JobReport report;
    report.packagePath = packagePath;
    report.failures.push_back({message, ""});
    return Finish(output, report, EXIT_FAILED);
}

// The signal a manual job's thread sends the waiting thread as its last action, so that the
// command ends the moment its job does: the wait is for a signal, never a time-out.
constexpr int JobEndedSignal = SIGUSR1;

// The stop signals and the job's end: what the waiting thread blocks and waits for.
sigset_t WaitedSignals()
{
    sigset_t set = StopSignals();
    sigaddset(&set, JobEndedSignal);
    return set;
}

// Takes a job-ended signal that is still pending (its job was cancelled, or it came after the
// last wait), so that restoring the mask does not deliver it and end the process.
void DiscardJobEndedSignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, JobEndedSignal);
    const timespec now {0, 0};
    while (sigtimedwait(&set, nullptr, &now) > 0) { }
}

// How long the wait for the job sleeps at most: a progress line is redrawn twice a second or
// so; without one nothing but a signal ends the wait.
const timespec* RedrawInterval(const PrintingListener& listener)
{
    static const timespec interval {0, 200 * 1000 * 1000};
    return listener.ShowsProgress() ? &interval : nullptr;
}

// Waits for the running job's end or for Ctrl-C; true when Ctrl-C (or a termination) came.
bool WaitForJob(CUpdateController& controller, PrintingListener& listener)
{
    // Ctrl-C and termination are taken here, not by a handler: the job's threads inherit the
    // blocked mask. The job's end arrives as JobEndedSignal, pending until taken.
    const sigset_t waited = WaitedSignals();
    const sigset_t stopSignals = StopSignals();
    bool interrupted = false;
    while (controller.ManualRunning()) {
        listener.ShowRunningWork(controller.ManualRunningWork());
        const int signal = sigtimedwait(&waited, nullptr, RedrawInterval(listener));
        if (signal > 0 && signal != JobEndedSignal) {
            controller.CancelManual();
            interrupted = true;
            WaitAfterStop([&controller] { return controller.ManualRunning(); }, stopSignals);
            break;
        }
    }
    controller.WaitManual();
    listener.ShowRunningWork({});
    return interrupted;
}

// Waits before the next try for the network; false when Ctrl-C (or a termination) came.
bool PauseForNetwork(const NetworkWaitPolicy& policy, bool quiet)
{
    if (!quiet)
        std::fprintf(
            stderr, "No network; trying again in %s.\n", DurationText(policy.interval).c_str());
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(policy.interval);
    const timespec pause {static_cast<time_t>(seconds.count()),
        static_cast<long>((policy.interval - seconds).count() * 1000 * 1000)};
    const sigset_t stopSignals = StopSignals();
    return sigtimedwait(&stopSignals, nullptr, &pause) < 0;
}

// Ctrl-C after the package was committed (while the cache was pruned or the record written):
// the new package stands and is reported as written. A send was not asked for any more.
int EndInterruptedAfterCommit(
    const JobOutput& output, JobReport report, const UpdateJobResult& result, bool finalShown)
{
    if (!finalShown && !output.quiet)
        std::fprintf(stderr, "%s\n", result.finalText.c_str());
    if (output.afterJob) {
        std::fprintf(stderr, "Interrupted; the package was written but not sent.\n");
        JobOutput unsent = output;
        unsent.afterJob = nullptr;
        return Finish(unsent, report, EXIT_INTERRUPTED);
    }
    return Finish(output, report, result.anyFailed ? EXIT_PARTLY_FAILED : EXIT_DONE);
}

// The hooks through which the job reads and writes the subscriptions; the job's end wakes the
// calling thread, which waits in WaitForJob.
UpdateHooks JobHooks(CSubscriptions& subscriptions)
{
    UpdateHooks hooks;
    hooks.readSettings = [&subscriptions] { return subscriptions.Settings(); };
    hooks.readFeedOptions = [&subscriptions](const std::string& address) {
        return subscriptions.FeedOptionsFor(address);
    };
    hooks.syncChannels = [&subscriptions] { return subscriptions.SyncChannels(); };
    hooks.setRepackable
        = [&subscriptions](int value) { return subscriptions.SetRepackable(value); };
    hooks.collectAllFeeds
        = [&subscriptions] { return subscriptions.CollectAllFeeds(subscriptions.Root()); };
    // A prune without the feeds' own choices would take episodes that a feed keeps.
    hooks.treeWhole = [&subscriptions] {
        return subscriptions.ChannelsRead().ok && subscriptions.FeedOptionsReadError().empty();
    };
    hooks.manualJobEnded = [waiter = pthread_self()] { pthread_kill(waiter, JobEndedSignal); };
    return hooks;
}

// Blocks the waited signals for as long as it lives, so that the job's threads, started
// meanwhile, inherit the mask; a job-ended signal still pending is taken before the mask is
// restored.
class JobSignalMask {
public:
    JobSignalMask()
    {
        const sigset_t waited = WaitedSignals();
        pthread_sigmask(SIG_BLOCK, &waited, &previous);
    }
    ~JobSignalMask()
    {
        DiscardJobEndedSignal();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    JobSignalMask(const JobSignalMask&) = delete;
    JobSignalMask& operator=(const JobSignalMask&) = delete;

private:
    sigset_t previous;
};

// How the job's tries went.
struct JobTries {
    std::optional<PrintingListener> listener; // the last try's
    UpdateJobResult result;
    bool interrupted = false;
    std::optional<std::string> notStarted; // why the job did not start at all
};

// Runs the job, and with --wait-for-network again while no server at all could be reached,
// until the wait's limit or Ctrl-C.
void RunTries(CUpdateController& controller, const UpdateRequest& request, const JobOutput& output,
    JobTries& run)
{
    const JobSignalMask mask;
    const NetworkWaitPolicy networkWait = NetworkWaitPolicy::FromEnvironment();
    const auto firstTry = std::chrono::steady_clock::now();
    for (int tries = 1;; ++tries) {
        run.listener.emplace(StderrIsTerminal(), output.quiet);
        std::string error;
        const StartResult started = controller.StartUpdate(request, *run.listener, &error);
        if (started != StartResult::Started) {
            run.notStarted = started == StartResult::CannotOpenPackage
                ? error
                : "there is no feed to update; the package was left as it was";
            return;
        }
        run.interrupted = WaitForJob(controller, *run.listener);
        run.result = controller.ManualResult();
        if (!output.waitForNetwork || run.interrupted || !run.result.noNetwork)
            return;
        if (!networkWait.TriesAgain(firstTry, std::chrono::steady_clock::now())) {
            if (tries > 1) {
                run.result.finalText = NetworkGaveUpText(networkWait.limit);
                if (!output.quiet) // the quiet run prints its final text at the end
                    std::fprintf(stderr, "%s\n", run.result.finalText.c_str());
            }
            return;
        }
        if (!PauseForNetwork(networkWait, output.quiet)) {
            run.interrupted = true;
            return;
        }
    }
}

// The exit code of a job that ran, after its report is finished.
int EndJob(const JobOutput& output, JobReport& report, JobTries& run)
{
    const UpdateJobResult& result = run.result;
    report.failures = run.listener->Failures();
    report.written = result.packageWritten;
    report.size = result.packageSize;
    if (!result.packageWritten && (run.interrupted || result.cancelled)) {
        std::fprintf(stderr, "Cancelled; the previous package was kept.\n");
        return Finish(output, report, EXIT_INTERRUPTED);
    }
    if (run.interrupted)
        return EndInterruptedAfterCommit(output, report, result, run.listener->FinalShown());
    if (result.folderBusy)
        return Finish(output, report, EXIT_BUSY);
    if (!result.packageWritten) {
        if (output.quiet && result.finished)
            std::fprintf(stderr, "%s\n", result.finalText.c_str());
        return Finish(output, report, EXIT_FAILED);
    }
    return Finish(output, report, result.anyFailed ? EXIT_PARTLY_FAILED : EXIT_DONE);
}

// Runs the job and waits for its end or for Ctrl-C; gives the exit code.
int RunJob(CSubscriptions& subscriptions, const UpdateRequest& request, const JobOutput& output)
{
    // Said, not fatal: a morning update with the global settings beats none at all.
    if (const std::string error = subscriptions.FeedOptionsReadError(); !error.empty())
        PrintError(error + "; every feed is updated with the global settings");
    CUpdateController controller(JobHooks(subscriptions));
    JobReport report;
    report.packagePath = PackagePath(subscriptions, request);
    JobTries run;
    RunTries(controller, request, output, run);
    if (run.notStarted)
        return FailEarly(output, report.packagePath, *run.notStarted);
    NotifyHeadlessRun(run.result,
        request.outputPath.empty() ? subscriptions.Settings().outputPath : request.outputPath);
    return EndJob(output, report, run);
}

const char* const jsonHelp
    = "one JSON object on standard output at the end: {\"package\": PATH, \"packageWritten\":\n"
      "true|false, \"size\": BYTES or null, \"records\": [{\"offset\", \"address\", \"type\" "
      "(feed,\n"
      "mp3, amr), \"size\"}...], \"failures\": [{\"address\" (null when no download),\n"
      "\"message\", \"reason\"}...], \"exitStatus\": N}";
const char* const quietHelp
    = "print nothing when all goes well; only failures and their reasons (and, when no\n"
      "package was written, the line that says so); the exit status tells the rest";

// The options update and repack share.
void DeclareJobOptions(CommandLine& arguments)
{
    arguments.Option("output", "PATH", "write the package here instead of \"Path\"/\"FeedFile\"");
    arguments.Flag("quiet", quietHelp);
    arguments.Flag("json", jsonHelp);
}

// Reads what DeclareJobOptions declared; false after a usage error.
bool ReadJobOptions(const CommandLine& arguments, std::string& outputPath, JobOutput& output)
{
    const std::optional<std::string> path = arguments.Value("output");
    if (path && path->empty()) {
        PrintError("--output needs a file path");
        return false;
    }
    outputPath = path.value_or(std::string());
    output.quiet = arguments.Has("quiet");
    output.json = arguments.Has("json");
    return true;
}

void DeclareUpdate(CommandLine& arguments)
{
    arguments.Describe(
        "Downloads feeds into the download cache (with podcasts on, also their audio/mpeg\n"
        "enclosures, kept as MP3 or converted to AMR as the Podcast settings say) and writes the\n"
        "package. Without options every feed of the channels file is updated.");
    arguments.Repeated("feed", "URL", "update this feed address (repeatable)");
    arguments.Repeated("marked", "TITLE",
        "mark the feed or group with this title and update the marked feeds (repeatable)");
    arguments.Option("send", "TARGET",
        "once the package is written, hand it to TARGET as 'corvane-cli send' does (the target "
        "is checked before the update starts)");
    arguments.Option("sync", "TARGET",
        "once the package is written, sync its episodes onto TARGET as 'corvane-cli sync' does "
        "(the target is checked before the update starts)");
    arguments.Flag("wait-for-network",
        "when no server at all can be reached (the network is not up yet), try again every 10\n"
        "minutes for up to 2 hours (CORVANE_NETWORK_RETRY_MS, CORVANE_NETWORK_WAIT_MS), as the\n"
        "daily timer does; Ctrl-C ends the wait");
    arguments.Option("connections", "N",
        "download at most N files at once, also from one host, for this run (1 to 256; default\n"
        "\"Update\"/\"Connections\" at once, 64 unless set, and 6 from one host)");
    DeclareJobOptions(arguments);
    arguments.Epilogue(
        "Status texts, failures with their reasons and progress go to standard error, the final\n"
        "text last. On a terminal one line, rewritten in place, shows the running downloads and\n"
        "conversions. A download that fails for a passing reason (no connection, a time-out, a\n"
        "5xx or 429 answer) is tried again up to 3 times; an interrupted audio download is\n"
        "continued where it broke off.\n"
        "Another update of the same program folder (the desktop program, the timer) is waited for\n"
        "a few seconds (CORVANE_LOCK_WAIT_MS); then this one gives up and changes nothing.\n"
        "Exit status: 0 all went well, 3 the package was written but something failed, 1 no\n"
        "package was written (or --send or --sync failed), 2 bad usage, 75 another update was "
        "running,\n"
        "130 interrupted (Ctrl-C before the package was written: the previous package is kept;\n"
        "after it, the written package's status, or 130 with --send, which then sends nothing).\n");
}

// Reads --connections into request (0 when not given); false after saying it is no count.
bool ReadConnections(const CommandLine& arguments, UpdateRequest& request)
{
    const std::optional<std::string> connections = arguments.Value("connections");
    const std::optional<long long> connectionCount
        = connections ? ParseInteger(*connections, 1, 256) : std::optional<long long>(0);
    if (!connectionCount) {
        PrintError("bad value '" + *connections
            + "' for --connections: expected a whole number from 1 to 256");
        return false;
    }
    request.connections = static_cast<int>(*connectionCount);
    return true;
}

// Adds the feeds under the nodes titled as titles says to request, marking them; without
// --feed or --marked, every feed of the tree. An exit code when a title names nothing.
std::optional<int> CollectRequestedFeeds(CSubscriptions& subscriptions,
    const std::vector<std::string>& titles, const JobOutput& output, UpdateRequest& request)
{
    for (const std::string& title : titles) {
        std::vector<COutlineItem*> nodes = FindByTitle(subscriptions.Root(), title);
        if (nodes.empty()) {
            return FailEarly(output, PackagePath(subscriptions, request),
                "no feed or group is titled '" + title + "' in the channels file");
        }
        for (COutlineItem* node : nodes) {
            subscriptions.SetMark(node, MARK_CHECKED);
            subscriptions.UpdateParentMarks(node);
        }
    }
    if (!titles.empty()) {
        std::vector<std::string> marked = subscriptions.CollectMarkedFeeds(subscriptions.Root());
        request.feedUrls.insert(request.feedUrls.end(), marked.begin(), marked.end());
    }
    if (request.feedUrls.empty() && titles.empty()) {
        request.feedUrls = subscriptions.CollectAllFeeds(subscriptions.Root());
        request.wholeTree = true;
    }
    return std::nullopt;
}

// Sets what runs once the job ended: the send, then the sync, to the targets given. The
// targets and the request must outlive output.
void AttachAfterJob(JobOutput& output, const std::optional<std::string>& sendTarget,
    const std::optional<std::string>& syncTarget, const UpdateRequest& request)
{
    if (sendTarget) {
        // Standard output holds nothing but the JSON object when one is asked for; --quiet
        // means nothing on success, a send included.
        std::FILE* report = output.quiet ? nullptr : output.json ? stderr : stdout;
        output.afterJob = [&sendTarget, &request, report](int code) {
            return SendAfterUpdate(code, *sendTarget, request.outputPath, report);
        };
    }
    if (syncTarget) {
        std::FILE* report = output.json ? stderr : stdout;
        output.afterJob = [send = output.afterJob, &syncTarget, &request, report](int code) {
            const int sent = send ? send(code) : code;
            const int synced = SyncAfterUpdate(code, *syncTarget, request.outputPath, report);
            return sent != code ? sent : synced;
        };
    }
}

} // namespace

int RunUpdateCommand(CommandLine& arguments)
{
    DeclareUpdate(arguments);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    UpdateRequest request;
    JobOutput output;
    if (!ReadJobOptions(arguments, request.outputPath, output)
        || !ReadConnections(arguments, request))
        return EXIT_USAGE;
    output.waitForNetwork = arguments.Has("wait-for-network");
    request.feedUrls = arguments.Values("feed");
    const std::vector<std::string> titles = arguments.Values("marked");
    const std::optional<std::string> sendTarget = arguments.Value("send");
    if (sendTarget && !CheckSendTarget(*sendTarget))
        return EXIT_FAILED;
    const std::optional<std::string> syncTarget = arguments.Value("sync");
    if (syncTarget && !CheckSyncTarget(*syncTarget))
        return EXIT_FAILED;

    CSubscriptions subscriptions;
    // A package of a tree never seen would replace the phone's with an empty one.
    if (std::string unreadable; subscriptions.Load(&unreadable), !unreadable.empty())
        return FailEarly(output, PackagePath(subscriptions, request), unreadable);
    if (const std::optional<int> code
        = CollectRequestedFeeds(subscriptions, titles, output, request))
        return *code;
    AttachAfterJob(output, sendTarget, syncTarget, request);
    return RunJob(subscriptions, request, output);
}

int RunRepackCommand(CommandLine& arguments)
{
    arguments.Describe(
        "Writes the package again from the download cache, without the network, converting the\n"
        "audio with the current Podcast settings. Only after a full update has completed\n"
        "(\"Podcast\"/\"Repackable\" is 1).");
    DeclareJobOptions(arguments);
    arguments.Epilogue("Exit status as for update.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    UpdateRequest request;
    JobOutput output;
    if (!ReadJobOptions(arguments, request.outputPath, output))
        return EXIT_USAGE;

    CSubscriptions subscriptions;
    if (std::string unreadable; subscriptions.Load(&unreadable), !unreadable.empty())
        return FailEarly(output, PackagePath(subscriptions, request), unreadable);
    // No job of this process runs before this point.
    if (!CanRepack(subscriptions.Repackable(), false)) {
        return FailEarly(output, PackagePath(subscriptions, request),
            "Re-Pack is not available: the last full update did not complete "
            "(\"Podcast\"/\"Repackable\" is not 1). Run 'corvane-cli update' first.");
    }
    request.repack = true;
    request.feedUrls = subscriptions.CollectAllFeeds(subscriptions.Root());
    return RunJob(subscriptions, request, output);
}

} // namespace corvane
