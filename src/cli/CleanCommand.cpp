// corvane-cli clean: removes the download cache's files that no feed of the channels file needs
// any more, as an update with "Update"/"Prune" on does after the package was written.
#include "cli/Commands.h"

#include "subscriptions/Subscriptions.h"
#include "update/CachePrune.h"
#include "update/FolderLock.h"

#include <cstdio>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {

int RunClean(CommandLine& arguments)
{
    arguments.Describe(
        "Removes from the download cache what no feed of the channels file needs any more: the\n"
        "documents of feeds no longer subscribed, the MP3s of episodes no longer listed or no "
        "longer\ntaken by the Podcast settings, AMR conversions made with other settings or from "
        "older\nversions of an MP3, and partial downloads of such files. Everything Re-Pack needs "
        "stays.\nOther files in the data folder are left alone.");
    arguments.Flag("dry-run", "list the files that would be removed and remove nothing");
    arguments.Flag("quiet", "print nothing but failures");
    arguments.Epilogue(
        "The removed files (with --dry-run: the files to remove) are listed on standard output,\n"
        "one a line, then the total, for example \"Removed 12 files, 340.2 MB freed.\"\n"
        "Exit status: 0 done, 1 the channels file could not be read or a file could not be\n"
        "removed (the message names it), 2 bad usage, 75 an update of the program folder was\n"
        "running (nothing was removed), 130 interrupted.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const bool dryRun = arguments.Has("dry-run");
    const bool quiet = arguments.Has("quiet");
    // An update running meanwhile would add cache files that the tree read here cannot know.
    ProgramFolderLock lock;
    std::string error;
    if (bool busy = false; !lock.Take(FolderLockWait(), {}, error, &busy)) {
        PrintError(error);
        return busy ? EXIT_BUSY : EXIT_FAILED;
    }

    // The tree must be the whole tree: a channels file that could not be read completely (or
    // holds no subscription list at all) would make every feed it lost look unsubscribed, and
    // their files would go.
    CSubscriptions subscriptions;
    if (std::string unreadable; subscriptions.Load(&unreadable), !unreadable.empty()) {
        PrintError(unreadable + "; nothing was removed");
        return EXIT_FAILED;
    }
    if (const SaveResult& read = subscriptions.ChannelsRead(); !read) {
        PrintError(read.message + "; nothing was removed");
        return EXIT_FAILED;
    }
    // Without the feeds' own choices the episodes a feed keeps more of than the global
    // "Newest" would look unneeded.
    if (const std::string unread = subscriptions.FeedOptionsReadError(); !unread.empty()) {
        PrintError(unread + "; nothing was removed");
        return EXIT_FAILED;
    }
    const std::vector<std::string> feeds = subscriptions.CollectAllFeeds(subscriptions.Root());
    const CorvaneSettings settings = subscriptions.Settings();

    std::stop_source stop;
    PruneResult result;
    const bool interrupted = RunUntilInterrupted(
        [&] {
            PruneOptions options;
            options.dryRun = dryRun;
            options.stop = stop.get_token();
            options.feedOptions = [&subscriptions](const std::string& address) {
                return subscriptions.FeedOptionsFor(address);
            };
            result = PruneCache(feeds, settings, options);
        },
        stop);

    if (!quiet) {
        for (const std::string& path : result.removed)
            std::printf("%s\n", path.c_str());
        std::printf("%s\n", PruneSummaryText(result, dryRun).c_str());
    }
    std::fflush(stdout);
    for (const std::string& message : result.errors)
        PrintError(message);
    if (interrupted || result.stopped) {
        std::fprintf(stderr,
            dryRun ? "Interrupted.\n"
                   : "Interrupted; the files listed were removed, the others stay.\n");
        return EXIT_INTERRUPTED;
    }
    return result.errors.empty() ? EXIT_DONE : EXIT_FAILED;
}

} // namespace corvane
