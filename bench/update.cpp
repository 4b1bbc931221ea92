// The update job against itself, measured in one run:
//
// 1. Update All Feeds of 100 feeds from a loopback server that answers each after 100 ms: the
//    default job (at most 6 connections to one host) with the feeds on two host names of the
//    loopback server ("127.0.0.1" and "localhost", so that 12 connections are used), against
//    the job with one connection. Goal: at most 0.25.
// 2. 10 podcast enclosures converted to AMR (a synthesised 3-minute MP3 each): after one full
//    update has filled the cache, Re-Pack with conversions on 2 threads against one at a time,
//    the kept conversions removed before each run. Goal: at most 0.6.
// 3. One feed with 10 enclosures, each answered after 300 ms: the default job against
//    --connections 1. Goal: at most 0.35.
// 4. An update where nothing changed (the server answers 304 for the feed and its 10
//    enclosures, which were converted to AMR by the first update) against the first update into
//    an empty cache. Goal: at most 0.05.
//
// Every run writes a package into a private temporary folder; the packages of the compared runs
// must be identical, or the bench fails. The MP3 is made with sox and lame (scripts/install-deps).
//
// usage: update [--rounds N]
#include "platform/Paths.h"
#include "support/TestServer.h"
#include "update/PackageReader.h"
#include "update/UpdateJob.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace corvane;

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Runs one job to its end; the wall-clock seconds, or a negative value when it failed.
double RunJob(UpdateJobSetup setup)
{
    SilentUpdateListener listener;
    CUpdateJob job(std::move(setup), listener);
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    if (!job.Start(error)) {
        std::fprintf(stderr, "update: %s\n", error.c_str());
        return -1;
    }
    job.Wait();
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const UpdateJobResult result = job.Result();
    if (!result.packageWritten || result.anyFailed) {
        std::fprintf(stderr, "update: the job failed: %s\n", result.finalText.c_str());
        return -1;
    }
    return seconds;
}

std::string Rss(const std::string& title, const std::vector<std::string>& enclosures)
{
    std::string text
        = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>" + title + "</title>\n";
    for (const std::string& url : enclosures)
        text += "<item><title>Episode</title><enclosure url=\"" + url
            + "\" type=\"audio/mpeg\" length=\"1\"/></item>\n";
    return text + "</channel></rss>\n";
}

// Removes every file of the download cache whose name ends in extension (all with "").
void ClearCache(const std::string& extension)
{
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(GetDataFolder(), ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.size() >= extension.size()
            && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
            std::filesystem::remove(entry.path(), ignored);
    }
}

// Two ways of doing one job, each timed over the rounds (best of), packages compared.
struct Comparison {
    double baseline = 1e9;
    double candidate = 1e9;
    bool ok = true;
};

Comparison Compare(int rounds, const std::filesystem::path& home,
    const std::function<double(const std::string& output)>& baseline,
    const std::function<double(const std::string& output)>& candidate)
{
    Comparison comparison;
    const std::string first = (home / "baseline.mrf").string();
    const std::string second = (home / "candidate.mrf").string();
    for (int round = 0; round < rounds && comparison.ok; ++round) {
        const double a = baseline(first);
        const double b = candidate(second);
        comparison.ok = a >= 0 && b >= 0;
        comparison.baseline = std::min(comparison.baseline, a);
        comparison.candidate = std::min(comparison.candidate, b);
    }
    if (comparison.ok && ReadAll(first) != ReadAll(second)) {
        std::fprintf(stderr, "update: the packages of the compared runs differ\n");
        comparison.ok = false;
    }
    return comparison;
}

void Report(const char* title, const char* baseline, const char* candidate,
    const Comparison& comparison, double goal)
{
    std::printf("%s\n", title);
    std::printf("  %-34s %6.2f s\n", baseline, comparison.baseline);
    std::printf("  %-34s %6.2f s   ratio %.3f (goal <= %.2f)\n", candidate, comparison.candidate,
        comparison.candidate / comparison.baseline, goal);
}

UpdateJobSetup FeedSetup(const std::vector<std::string>& feeds, const std::string& output)
{
    UpdateJobSetup setup;
    setup.feedUrls = feeds;
    setup.outputPath = output;
    setup.settings.podcastOn = 1;
    setup.settings.podcastFormat = 0;
    return setup;
}

UpdateJobSetup OneConnection(UpdateJobSetup setup)
{
    setup.connections = 1;
    setup.connectionsPerHost = 1;
    return setup;
}

bool ManyFeeds(TestServer& server, int rounds, const std::filesystem::path& home)
{
    std::vector<std::string> feeds;
    for (int i = 0; i < 100; ++i) {
        const std::string path = "/feed" + std::to_string(i) + ".rss";
        server.Serve(path, Rss("Feed " + std::to_string(i), {}), "application/rss+xml");
        server.SetDelay(path, std::chrono::milliseconds(100));
        std::string url = server.Url(path);
        if (i % 2)
            url.replace(url.find("127.0.0.1"), 9, "localhost");
        feeds.push_back(url);
    }
    const Comparison comparison = Compare(
        rounds, home,
        [&](const std::string& output) { return RunJob(OneConnection(FeedSetup(feeds, output))); },
        [&](const std::string& output) { return RunJob(FeedSetup(feeds, output)); });
    if (comparison.ok)
        Report("feeds: 100 feeds answering after 100 ms", "one connection",
            "default connections (6 per host)", comparison, 0.25);
    return comparison.ok;
}

bool SlowEnclosures(TestServer& server, int rounds, const std::filesystem::path& home)
{
    std::vector<std::string> enclosures;
    for (int i = 0; i < 10; ++i) {
        const std::string path = "/slow/episode" + std::to_string(i) + ".mp3";
        server.Serve(path, "episode " + std::to_string(i), "audio/mpeg");
        server.SetDelay(path, std::chrono::milliseconds(300));
        enclosures.push_back(server.Url(path));
    }
    server.Serve("/slow.rss", Rss("Slow", enclosures), "application/rss+xml");
    server.SetDelay("/slow.rss", std::chrono::milliseconds(300));
    const std::vector<std::string> feeds {server.Url("/slow.rss")};
    const Comparison comparison = Compare(
        rounds, home,
        [&](const std::string& output) {
            ClearCache(""); // every request is a whole download
            return RunJob(OneConnection(FeedSetup(feeds, output)));
        },
        [&](const std::string& output) {
            ClearCache("");
            return RunJob(FeedSetup(feeds, output));
        });
    if (comparison.ok)
        Report("enclosures: one feed, 10 enclosures answering after 300 ms", "--connections 1",
            "default connections", comparison, 0.35);
    return comparison.ok;
}

UpdateJobSetup PodcastSetup(
    TestServer& server, bool repack, int conversions, const std::string& output)
{
    UpdateJobSetup setup;
    setup.repack = repack;
    setup.feedUrls = {server.Url("/podcast.rss")};
    setup.outputPath = output;
    setup.settings.podcastOn = 1;
    setup.settings.podcastFormat = 1;
    setup.conversionThreads = conversions;
    return setup;
}

bool Conversions(TestServer& server, int rounds, const std::filesystem::path& home)
{
    // A full update fills the download cache; the compared runs are Re-Packs, which convert
    // every enclosure again without the network once the kept conversions are gone.
    if (RunJob(PodcastSetup(server, false, 0, (home / "warm.mrf").string())) < 0)
        return false;
    const Comparison comparison = Compare(
        rounds, home,
        [&](const std::string& output) {
            ClearCache(".amr");
            return RunJob(PodcastSetup(server, true, 1, output));
        },
        [&](const std::string& output) {
            ClearCache(".amr");
            return RunJob(PodcastSetup(server, true, 2, output));
        });
    if (comparison.ok)
        Report("podcast: 10 enclosures of 3 minutes to AMR (Re-Pack)", "one conversion at a time",
            "2 conversions at a time", comparison, 0.6);
    return comparison.ok;
}

bool NothingChanged(TestServer& server, int rounds, const std::filesystem::path& home)
{
    const Comparison comparison = Compare(
        rounds, home,
        [&](const std::string& output) {
            ClearCache("");
            return RunJob(PodcastSetup(server, false, 0, output));
        },
        [&](const std::string& output) { return RunJob(PodcastSetup(server, false, 0, output)); });
    if (comparison.ok)
        Report("unchanged: the feed and its 10 enclosures answer 304", "first update (empty cache)",
            "update where nothing changed", comparison, 0.05);
    return comparison.ok;
}

// The podcast of measures 2 and 4: 10 copies of a 3-minute MP3, all answering 304 to a
// conditional request that is not older than their fixed modification time.
bool ServePodcast(TestServer& server, const std::filesystem::path& home)
{
    const std::filesystem::path mp3 = home / "episode.mp3";
    const std::string make = "sox -n -r 44100 -c 2 -b 16 -t wav - synth 180 sine 200-2000 "
                             "vol 0.5 2>/dev/null | lame --quiet -b 128 - '"
        + mp3.string() + "'";
    if (std::system(make.c_str()) != 0 || !std::filesystem::exists(mp3)) {
        std::fprintf(stderr, "update: cannot make the MP3 with sox and lame\n");
        return false;
    }
    const std::string audio = ReadAll(mp3.string());
    const std::time_t published = 1700000000;
    std::vector<std::string> enclosures;
    for (int i = 0; i < 10; ++i) {
        const std::string path = "/episode" + std::to_string(i) + ".mp3";
        server.ServeWithLastModified(path, audio, published, "audio/mpeg");
        enclosures.push_back(server.Url(path));
    }
    server.ServeWithLastModified(
        "/podcast.rss", Rss("Podcast", enclosures), published, "application/rss+xml");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else {
            std::fprintf(stderr, "usage: update [--rounds N]\n");
            return 2;
        }
    }

    // A private home: the program folder (download cache) and the packages.
    std::string pattern
        = (std::filesystem::temp_directory_path() / "corvane-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("update: mkdtemp");
        return 1;
    }
    const std::filesystem::path home = pattern;
    setenv("CORVANE_HOME", (home / "program").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("no_proxy", "*", 1);
    unsetenv("http_proxy");
    bool ok = false;
    {
        TestServer server;
        ok = ManyFeeds(server, rounds, home) && SlowEnclosures(server, rounds, home)
            && ServePodcast(server, home) && Conversions(server, rounds, home)
            && NothingChanged(server, rounds, home);
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return ok ? 0 : 1;
}
