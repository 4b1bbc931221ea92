// The update job against itself run one thing at a time, measured in one run:
//
// 1. Update All Feeds of 100 feeds from a loopback server that answers each after 100 ms: the
//    default job (4 connections, at most 2 to one host) with the feeds on two host names of the
//    loopback server ("127.0.0.1" and "localhost", so that all 4 connections are used), and a job
//    with 8 connections, against the job with one connection. Goal: at most 0.25. Four
//    connections can at best reach 0.25 exactly; the 8-connection figure shows what many hosts
//    allow.
// 2. 10 podcast enclosures converted to AMR (a synthesised 3-minute MP3 each): after one full
//    update has filled the cache, Re-Pack with conversions on 2 threads against one at a time
//    (the kept conversions removed before each run, so that every enclosure is converted).
//    Goal: at most 0.6.
//
// Every run writes a package into a private temporary folder; the packages of the compared runs
// must be identical, or the bench fails. The MP3 is made with sox and lame (scripts/install-deps).
//
// usage: update [--rounds N]
#include "support/TestServer.h"
#include "update/PackageReader.h"
#include "update/UpdateJob.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
double RunJob(UpdateJobSetup setup, bool expectFailures = false)
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
    if (!result.packageWritten || (result.anyFailed && !expectFailures)) {
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
    int status = 0;
    {
        TestServer server;

        // 1. Feeds.
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
        auto feedSetup = [&](int connections, int perHost, const std::string& output) {
            UpdateJobSetup setup;
            setup.feedUrls = feeds;
            setup.outputPath = (home / output).string();
            setup.settings.podcastOn = 0;
            setup.connections = connections;
            setup.connectionsPerHost = perHost;
            return setup;
        };
        double one = 1e9, four = 1e9, eight = 1e9;
        for (int round = 0; round < rounds && status == 0; ++round) {
            const double a = RunJob(feedSetup(1, 1, "one.mrf"));
            const double b = RunJob(feedSetup(4, 2, "four.mrf"));
            const double c = RunJob(feedSetup(8, 8, "eight.mrf"));
            if (a < 0 || b < 0 || c < 0) {
                status = 1;
                break;
            }
            one = std::min(one, a), four = std::min(four, b), eight = std::min(eight, c);
        }
        if (status == 0) {
            if (ReadAll((home / "one.mrf").string()) != ReadAll((home / "four.mrf").string())
                || ReadAll((home / "one.mrf").string()) != ReadAll((home / "eight.mrf").string())) {
                std::fprintf(stderr, "update: the packages of the feed runs differ\n");
                status = 1;
            }
            std::printf("feeds: 100 feeds answering after 100 ms\n");
            std::printf("  one connection              %.2f s\n", one);
            std::printf("  4 connections, 2 per host   %.2f s   ratio %.3f (goal <= 0.25)\n", four,
                four / one);
            std::printf("  8 connections               %.2f s   ratio %.3f (goal <= 0.25)\n", eight,
                eight / one);
        }

        // 2. Conversions.
        const std::filesystem::path mp3 = home / "episode.mp3";
        const std::string make = "sox -n -r 44100 -c 2 -b 16 -t wav - synth 180 sine 200-2000 "
                                 "vol 0.5 2>/dev/null | lame --quiet -b 128 - '"
            + mp3.string() + "'";
        if (status == 0 && (std::system(make.c_str()) != 0 || !std::filesystem::exists(mp3))) {
            std::fprintf(stderr, "update: cannot make the MP3 with sox and lame\n");
            status = 1;
        }
        if (status == 0) {
            std::vector<std::string> enclosures;
            for (int i = 0; i < 10; ++i) {
                const std::string path = "/episode" + std::to_string(i) + ".mp3";
                server.ServeFile(path, mp3.string(), "audio/mpeg");
                enclosures.push_back(server.Url(path));
            }
            server.Serve("/podcast.rss", Rss("Podcast", enclosures), "application/rss+xml");
            auto podcastSetup = [&](int conversions, const std::string& output) {
                UpdateJobSetup setup;
                setup.repack = conversions != 0;
                setup.feedUrls = {server.Url("/podcast.rss")};
                setup.outputPath = (home / output).string();
                setup.settings.podcastOn = 1;
                setup.settings.podcastFormat = 1;
                setup.conversionThreads = std::max(conversions, 1);
                return setup;
            };
            // A full update fills the download cache; the compared runs are Re-Packs without
            // the network. Conversions are kept in the cache and packed again, so each run
            // starts without them, untimed, to convert every enclosure.
            if (RunJob(podcastSetup(0, "warm.mrf")) < 0)
                status = 1;
            auto dropConversions = [&] {
                for (const auto& entry :
                    std::filesystem::directory_iterator(home / "program" / "data")) {
                    if (entry.path().extension() == ".amr")
                        std::filesystem::remove(entry.path());
                }
            };
            double serial = 1e9, parallel = 1e9;
            for (int round = 0; round < rounds && status == 0; ++round) {
                dropConversions();
                const double a = RunJob(podcastSetup(1, "serial.mrf"));
                dropConversions();
                const double b = RunJob(podcastSetup(2, "parallel.mrf"));
                if (a < 0 || b < 0) {
                    status = 1;
                    break;
                }
                serial = std::min(serial, a), parallel = std::min(parallel, b);
            }
            if (status == 0) {
                if (ReadAll((home / "serial.mrf").string())
                    != ReadAll((home / "parallel.mrf").string())) {
                    std::fprintf(stderr, "update: the packages of the podcast runs differ\n");
                    status = 1;
                }
                std::printf("podcast: 10 enclosures of 3 minutes to AMR\n");
                std::printf("  one conversion at a time    %.2f s\n", serial);
                std::printf("  2 conversions at a time     %.2f s   ratio %.3f (goal <= 0.6)\n",
                    parallel, parallel / serial);
            }
        }
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return status;
}
