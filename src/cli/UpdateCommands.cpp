// corvane-cli update and repack: the update job without the progress dialog. Status texts,
// progress and failures go to standard error, the final text last. Ctrl-C is Cancel.
#include "cli/Commands.h"

#include "platform/Settings.h"
#include "subscriptions/Subscriptions.h"
#include "update/LastRun.h"
#include "update/ScheduledUpdate.h"
#include "update/UpdateJob.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
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
    explicit PrintingListener(bool terminal)
        : terminal(terminal)
    { }
    void OnStatus(const std::string& text) override { Print({text}); }
    void OnProgressRange(int maximum) override { total = maximum; }
    void OnProgressStep() override
    {
        ++done;
        Print({"(" + std::to_string(done) + "/" + std::to_string(total) + " feeds)"});
    }
    void OnFailure(const std::string& text, const std::string& reason) override
    {
        std::vector<std::string> lines {"Error: " + text};
        if (!reason.empty())
            lines.push_back("  Reason: " + reason);
        Print(lines);
    }
    void OnFinished(const std::string& finalText, bool) override { Print({finalText}); }

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
    std::mutex mutex;
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

// Runs the job and waits for its end or for Ctrl-C; gives the exit code.
int RunJob(CSubscriptions& subscriptions, const UpdateRequest& request)
{
    UpdateHooks hooks;
    hooks.readSettings = [&subscriptions] { return subscriptions.Settings(); };
    hooks.syncChannels = [&subscriptions] { return subscriptions.SyncChannels(); };
    hooks.setRepackable = [&subscriptions](int value) { subscriptions.SetRepackable(value); };
    hooks.collectAllFeeds
        = [&subscriptions] { return subscriptions.CollectAllFeeds(subscriptions.Root()); };
    CUpdateController controller(std::move(hooks));

    // Ctrl-C and termination are taken here, not by a handler: the job's threads inherit the
    // blocked mask, and this thread waits for them with a time-out.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);

    PrintingListener listener(StderrIsTerminal());
    std::string error;
    const StartResult started = controller.StartUpdate(request, listener, &error);
    if (started != StartResult::Started) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (started == StartResult::CannotOpenPackage)
            PrintError(error);
        else
            PrintError("there is no feed to update; the package was left as it was");
        return EXIT_FAILED;
    }

    bool interrupted = false;
    while (controller.ManualRunning()) {
        listener.ShowRunningWork(controller.ManualRunningWork());
        const timespec wait {0, 200 * 1000 * 1000};
        if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
            controller.CancelManual();
            interrupted = true;
            break;
        }
    }
    controller.WaitManual();
    listener.ShowRunningWork({});
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    const UpdateJobResult result = controller.ManualResult();
    NotifyHeadlessRun(result,
        request.outputPath.empty() ? subscriptions.Settings().outputPath : request.outputPath);
    const int status = RunExitStatus(result, interrupted);
    if (status == EXIT_INTERRUPTED)
        std::fprintf(stderr, "Cancelled; the previous package was kept.\n");
    return status;
}

const char* const updateHelp
    = "usage: corvane-cli update [--feed URL]... [--marked TITLE]... [--output PATH]\n"
      "                          [--connections N]\n"
      "\n"
      "Downloads feeds into the download cache (with podcasts on, also their audio/mpeg\n"
      "enclosures, kept as MP3 or converted to AMR as the Podcast settings say) and writes the\n"
      "package. Without options every feed of the channels file is updated.\n"
      "\n"
      "  --feed URL      update this feed address (repeatable)\n"
      "  --marked TITLE  mark the feed or group with this title and update the marked feeds\n"
      "                  (repeatable)\n"
      "  --output PATH   write the package here instead of \"Path\"/\"FeedFile\"\n"
      "  --connections N download at most N files at once, also from one host (1 to 64;\n"
      "                  default 8 at once, 6 from one host)\n"
      "\n"
      "Status texts, failures with their reasons and progress go to standard error, the final\n"
      "text last. On a terminal one line, rewritten in place, shows the running downloads and\n"
      "conversions. A download that fails for a passing reason (no connection, a time-out, a\n"
      "5xx or 429 answer) is tried again up to 3 times; an interrupted audio download is\n"
      "continued where it broke off.\n"
      "Another update of the same program folder (the desktop program, the timer) is waited for\n"
      "a few seconds (CORVANE_LOCK_WAIT_MS); then this one gives up and changes nothing.\n"
      "Exit status: 0 all went well, 3 the package was written but something failed, 1 no package\n"
      "was written, 2 bad usage, 75 another update was running, 130 interrupted (Ctrl-C; the\n"
      "previous package is kept).\n";

const char* const repackHelp
    = "usage: corvane-cli repack [--output PATH]\n"
      "\n"
      "Writes the package again from the download cache, without the network, converting the\n"
      "audio with the current Podcast settings. Only after a full update has completed\n"
      "(\"Podcast\"/\"Repackable\" is 1).\n"
      "\n"
      "  --output PATH   write the package here instead of \"Path\"/\"FeedFile\"\n"
      "\n"
      "Exit status as for update.\n";

} // namespace

int RunUpdateCommand(CommandArguments& arguments)
{
    if (arguments.WantsHelp()) {
        std::fputs(updateHelp, stdout);
        return EXIT_DONE;
    }
    const std::vector<std::string> feeds = arguments.TakeOptions("--feed");
    const std::vector<std::string> titles = arguments.TakeOptions("--marked");
    const std::optional<std::string> output = arguments.TakeOption("--output");
    const std::optional<std::string> connections = arguments.TakeOption("--connections");
    const std::vector<std::string> rest = arguments.Positionals();
    if (!arguments.UsageError().empty() || !rest.empty()) {
        PrintError(!arguments.UsageError().empty() ? arguments.UsageError()
                                                   : "unexpected argument '" + rest.front() + "'");
        std::fputs(updateHelp, stderr);
        return EXIT_USAGE;
    }
    if (output && output->empty()) {
        PrintError("--output needs a file path");
        return EXIT_USAGE;
    }
    const std::optional<long long> connectionCount
        = connections ? ParseInteger(*connections, 1, 64) : std::optional<long long>(0);
    if (!connectionCount) {
        PrintError("bad value '" + *connections
            + "' for --connections: expected a whole number from 1 to 64");
        return EXIT_USAGE;
    }

    CSubscriptions subscriptions;
    subscriptions.Load();

    UpdateRequest request;
    request.outputPath = output.value_or(std::string());
    request.connections = static_cast<int>(*connectionCount);
    request.feedUrls = feeds;
    if (!titles.empty()) {
        for (const std::string& title : titles) {
            std::vector<COutlineItem*> nodes = FindByTitle(subscriptions.Root(), title);
            if (nodes.empty()) {
                PrintError("no feed or group is titled '" + title + "' in the channels file");
                return EXIT_FAILED;
            }
            for (COutlineItem* node : nodes) {
                subscriptions.SetMark(node, MARK_CHECKED);
                subscriptions.UpdateParentMarks(node);
            }
        }
        std::vector<std::string> marked = subscriptions.CollectMarkedFeeds(subscriptions.Root());
        request.feedUrls.insert(request.feedUrls.end(), marked.begin(), marked.end());
    }
    if (feeds.empty() && titles.empty())
        request.feedUrls = subscriptions.CollectAllFeeds(subscriptions.Root());
    return RunJob(subscriptions, request);
}

int RunRepackCommand(CommandArguments& arguments)
{
    if (arguments.WantsHelp()) {
        std::fputs(repackHelp, stdout);
        return EXIT_DONE;
    }
    const std::optional<std::string> output = arguments.TakeOption("--output");
    const std::vector<std::string> rest = arguments.Positionals();
    if (!arguments.UsageError().empty() || !rest.empty()) {
        PrintError(!arguments.UsageError().empty() ? arguments.UsageError()
                                                   : "unexpected argument '" + rest.front() + "'");
        std::fputs(repackHelp, stderr);
        return EXIT_USAGE;
    }
    if (output && output->empty()) {
        PrintError("--output needs a file path");
        return EXIT_USAGE;
    }

    CSubscriptions subscriptions;
    subscriptions.Load();
    // No job of this process runs before this point.
    if (!CanRepack(subscriptions.Repackable(), false)) {
        PrintError("Re-Pack is not available: the last full update did not complete "
                   "(\"Podcast\"/\"Repackable\" is not 1). Run 'corvane-cli update' first.");
        return EXIT_FAILED;
    }

    UpdateRequest request;
    request.repack = true;
    request.outputPath = output.value_or(std::string());
    request.feedUrls = subscriptions.CollectAllFeeds(subscriptions.Root());
    return RunJob(subscriptions, request);
}

} // namespace corvane
