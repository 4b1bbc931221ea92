// Downloading a large body with CWebAccess::DownloadUrl against the curl command line, from the
// same loopback server in one run.
//
// Makes a file (200 MB by default) in a new temporary folder (under $TMPDIR, else /var/tmp; --dir
// DIR to choose), serves it streamed from the tests' loopback server, then times, in alternating
// rounds, `curl -s -o FILE URL` and DownloadUrl into FILE, each in a child process. Checks that
// every download arrived whole. Prints the speed of DownloadUrl as a ratio of curl's (goal: at
// least 0.8) and the DownloadUrl child's peak memory (goal: under 32 MB). Removes its files.
//
// usage: download [--size-mb N] [--rounds N] [--dir DIR]
#include "BenchSupport.h"
#include "net/WebAccess.h"
#include "support/TestServer.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace corvane;

namespace {

// The child's work: one download as an update makes it.
int DownloadOnce(const std::string& url, const std::string& target)
{
    CWebAccess web("Velmora RSS Reader");
    const int result = web.DownloadUrl(url, target);
    if (result != WEB_OK) {
        std::fprintf(stderr, "DownloadUrl gave %d: %s\n", result, web.LastError().c_str());
        return 1;
    }
    return 0;
}

bool SameSize(const std::string& path, std::uint64_t bytes)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0
        && static_cast<std::uint64_t>(status.st_size) == bytes;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return DownloadOnce(argv[2], argv[3]);

    long long sizeMb = 200;
    int rounds = 3;
    std::string base = DefaultScratchFolder();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size-mb") == 0)
            sizeMb = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = argv[i + 1];
    }
    if (sizeMb <= 0 || sizeMb >= 4096 || rounds <= 0 || rounds > 20) {
        std::fprintf(stderr, "usage: download [--size-mb 1..4095] [--rounds 1..20] [--dir DIR]\n");
        return 2;
    }
    // Both clients talk to the loopback server directly, never through a proxy.
    ::setenv("no_proxy", "*", 1);
    ::setenv("NO_PROXY", "*", 1);

    std::string folder = base + "/corvane-bench-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror(folder.c_str());
        return 1;
    }
    const std::string source = folder + "/episode.mp3";
    const std::string target = folder + "/downloaded.mp3";
    const std::uint64_t bytes = static_cast<std::uint64_t>(sizeMb) << 20;

    int result = 0;
    double bestCurl = 1e30, bestOurs = 1e30;
    long peakKilobytes = 0;
    if (!MakeSource(source, bytes)) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        result = 1;
    }
    {
        TestServer server;
        server.ServeFile("/episode.mp3", source, "audio/mpeg");
        const std::string url = server.Url("/episode.mp3");
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        for (int round = 0; result == 0 && round < rounds; ++round) {
            std::filesystem::remove(target);
            const ChildRun curl = Run({"curl", "-s", "-o", target, url});
            if (!curl.ok || !SameSize(target, bytes)) {
                std::fprintf(stderr, "curl failed\n");
                result = 1;
                break;
            }
            std::filesystem::remove(target);
            const ChildRun ours = Run({self, "--child", url, target});
            if (!ours.ok || !SameSize(target, bytes)) {
                std::fprintf(stderr, "DownloadUrl failed\n");
                result = 1;
                break;
            }
            bestCurl = std::min(bestCurl, curl.seconds);
            bestOurs = std::min(bestOurs, ours.seconds);
            peakKilobytes = std::max(peakKilobytes, ours.peakKilobytes);
            std::printf("round %d: curl %.3f s, DownloadUrl %.3f s (%ld kB peak)\n", round + 1,
                curl.seconds, ours.seconds, ours.peakKilobytes);
        }
    }
    std::filesystem::remove_all(folder);
    if (result != 0)
        return result;

    const double ratio = bestCurl / bestOurs;
    const double peakMb = static_cast<double>(peakKilobytes) / 1024.0;
    std::printf("download %lld MB: curl %.3f s (%.0f MB/s), DownloadUrl %.3f s (%.0f MB/s)\n",
        sizeMb, bestCurl, static_cast<double>(sizeMb) / bestCurl, bestOurs,
        static_cast<double>(sizeMb) / bestOurs);
    std::printf("speed ratio DownloadUrl/curl: %.2f (goal >= 0.80) %s\n", ratio,
        ratio >= 0.8 ? "ok" : "MISSED");
    std::printf("peak memory of DownloadUrl: %.1f MB (goal < 32 MB) %s\n", peakMb,
        peakMb < 32.0 ? "ok" : "MISSED");
    return 0;
}
