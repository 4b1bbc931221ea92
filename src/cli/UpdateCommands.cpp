// corvane-cli update and repack: the update job without the progress dialog. Status texts,
// progress and failures go to standard error, the final text last. Ctrl-C is Cancel.
#include "cli/Commands.h"

#include "platform/Settings.h"
#include "subscriptions/Subscriptions.h"
#include "update/ScheduledUpdate.h"
#include "update/UpdateJob.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

namespace corvane {

namespace {

// Prints what the progress dialog would show. Called from the job's thread.
class PrintingListener : public UpdateListener {
public:
    void OnStatus(const std::string& text) override { Print(text); }
    void OnProgressRange(int maximum) override { total = maximum; }
    void OnProgressStep() override
    {
        ++done;
        Print("(" + std::to_string(done) + "/" + std::to_string(total) + " feeds)");
    }
    void OnFailure(const std::string& text) override { Print("Error: " + text); }
    void OnFinished(const std::string& finalText, bool) override { Print(finalText); }

private:
    void Print(const std::string& line)
    {
        std::lock_guard lock(mutex);
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
    std::mutex mutex;
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

    PrintingListener listener;
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
        const timespec wait {0, 100 * 1000 * 1000};
        if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
            controller.CancelManual();
            interrupted = true;
            break;
        }
    }
    controller.WaitManual();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    const UpdateJobResult result = controller.ManualResult();
    if (interrupted || result.cancelled) {
        std::fprintf(stderr, "Cancelled; the previous package was kept.\n");
        return EXIT_INTERRUPTED;
    }
    if (!result.packageWritten)
        return EXIT_FAILED;
    return result.anyFailed ? EXIT_PARTLY_FAILED : EXIT_DONE;
}

const char* const updateHelp
    = "usage: corvane-cli update [--feed URL]... [--marked TITLE]... [--output PATH]\n"
      "\n"
      "Downloads feeds into the download cache (with podcasts on, also their audio/mpeg\n"
      "enclosures, kept as MP3 or converted to AMR as the Podcast settings say) and writes the\n"
      "package. Without options every feed of the channels file is updated.\n"
      "\n"
      "  --feed URL      update this feed address (repeatable)\n"
      "  --marked TITLE  mark the feed or group with this title and update the marked feeds\n"
      "                  (repeatable)\n"
      "  --output PATH   write the package here instead of \"Path\"/\"FeedFile\"\n"
      "\n"
      "Status texts, progress and failures go to standard error, the final text last.\n"
      "Exit status: 0 all went well, 3 the package was written but something failed, 1 no package\n"
      "was written, 2 bad usage, 130 interrupted (Ctrl-C; the previous package is kept).\n";

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

    CSubscriptions subscriptions;
    subscriptions.Load();

    UpdateRequest request;
    request.outputPath = output.value_or(std::string());
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
