// corvane-cli fetch: one download as an update makes it, into a file of the user's choice.
#include "cli/Commands.h"

#include "net/WebAccess.h"
#include "platform/AsciiText.h"
#include "platform/FileDescriptor.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stop_token>
#include <string>

#include <unistd.h>

namespace corvane {

namespace {

// Progress appears only once a body is this large, so small fetches print nothing extra.
constexpr std::uint64_t ProgressThreshold = 1024 * 1024;

// Shows a large download's progress on one rewritten line, at most five times a second;
// shown is set once anything was printed.
CWebAccess::ProgressCallback ProgressPrinter(bool& shown)
{
    auto lastShown = std::chrono::steady_clock::time_point();
    return [&shown, lastShown](std::uint64_t received, std::uint64_t total) mutable {
        if (received < ProgressThreshold && total < ProgressThreshold)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (shown && now - lastShown < std::chrono::milliseconds(200) && received != total)
            return;
        lastShown = now;
        shown = true;
        if (total > 0)
            std::fprintf(stderr, "\rdownloading: %s of %s (%3d%%) ", Megabytes(received).c_str(),
                Megabytes(total).c_str(),
                static_cast<int>(received * 100 / std::max<std::uint64_t>(total, 1)));
        else
            std::fprintf(stderr, "\rdownloading: %s ", Megabytes(received).c_str());
        std::fflush(stderr);
    };
}

} // namespace

int RunFetch(CommandLine& arguments)
{
    arguments.Describe(
        "Downloads URL (http or https) into FILE the way an update downloads feeds and podcasts, "
        "and\nprints the fetcher's result: 1 for success, -20 when no connection or no complete "
        "body came\n(also for a malformed address, a redirect loop or a time-out), -21 when the "
        "reply had no\nreadable status line, or the HTTP status of any other answer.\n"
        "FILE is replaced only by a complete, non-empty body with status 200. When FILE exists, "
        "the\nserver is asked whether the address changed since FILE's modification time; an "
        "unchanged\naddress (304) leaves FILE as it is and counts as success.\n"
        "A failure that may pass (no connection, a time-out, a 5xx or 429 answer) is tried again "
        "up\nto 3 times, after 1, 2 and 4 seconds (or as the server's Retry-After asks, at most "
        "60).\nTime-outs: CORVANE_CONNECT_TIMEOUT (default 30) and CORVANE_STALL_TIMEOUT "
        "(default 60)\nseconds; the first pause before a retry: CORVANE_RETRY_PAUSE_MS (default "
        "1000).");
    arguments.Positional("URL", "the address to download");
    arguments.Positional("FILE", "the file to write");
    arguments.CountError("fetch needs a URL and a FILE");
    arguments.Epilogue("Exit codes: 0 result 1, 1 any other result, 2 wrong usage, 130 "
                       "interrupted.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const std::string& url = arguments.Positionals()[0];
    const std::string& file = arguments.Positionals()[1];

    CWebAccess web("Velmora RSS Reader");
    web.SetRetryPolicy(RetryPolicy::FromEnvironment());
    std::stop_source stop;
    web.SetStopToken(stop.get_token());
    bool progressShown = false;
    if (StderrIsTerminal())
        web.SetProgressCallback(ProgressPrinter(progressShown));

    int result = WEB_ERR_REQUEST;
    const bool interrupted
        = RunUntilInterrupted([&] { result = web.DownloadUrl(url, file); }, stop);
    if (progressShown)
        std::fputs("\n", stderr);

    if (interrupted) {
        std::fprintf(stderr, "Interrupted; %s was not changed.\n", file.c_str());
        return EXIT_INTERRUPTED;
    }
    std::printf("%d\n", result);
    std::fflush(stdout);
    if (web.LastWasNotModified())
        std::fprintf(stderr, "%s is up to date; the server has nothing newer.\n", file.c_str());
    if (result != WEB_OK) {
        std::fprintf(stderr, "%s\n", FetchFailureText(url).c_str());
        PrintError(url + ": " + web.LastError());
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

bool IsWebAddress(const std::string& text)
{
    const std::string start = AsciiLower(std::string_view(text).substr(0, 8));
    return start.rfind("http://", 0) == 0 || start.rfind("https://", 0) == 0;
}

std::string DownloadToPrivateFile(const std::string& url)
{
    const std::string folder = GetPrivateTempFolder();
    if (folder.empty()) {
        PrintError("no private temporary folder can be made for the download of " + url);
        return {};
    }
    std::string path = folder + "feed-XXXXXX";
    if (!FileDescriptor(mkstemp(path.data())).valid()) {
        PrintError("cannot create a temporary file in " + folder + ": " + std::strerror(errno));
        return {};
    }
    CWebAccess web("Velmora RSS Reader");
    // The new file is empty, so no If-Modified-Since goes out: the whole document comes.
    const int result = web.DownloadUrl(url, path);
    if (result != WEB_OK) {
        ::unlink(path.c_str());
        std::fprintf(stderr, "%s\n", FetchFailureText(url).c_str());
        PrintError(url + ": " + web.LastError());
        return {};
    }
    return path;
}

} // namespace corvane
