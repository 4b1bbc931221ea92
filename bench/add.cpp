// corvane-cli add against itself, measured in one run: 50 website addresses in one call (each
// page announcing its feed; discovery, the feed's fetch, one save) from a loopback server that
// answers every request after 100 ms, with the default connections (8 at once, 6 of one host)
// against --connections 1. Goal: at most 0.3.
//
// Each call starts from an empty program folder; both must subscribe all 50 feeds with the
// same channels file, or the bench fails.
//
// usage: add [--rounds N]
#include "BenchSupport.h"

#include "support/TestServer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kSites = 50;
constexpr auto kAnswerDelay = std::chrono::milliseconds(100);

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void ServeSites(TestServer& server)
{
    for (int i = 0; i < kSites; ++i) {
        const std::string site = "/site" + std::to_string(i) + "/";
        const std::string page = "<!DOCTYPE html><html><head><title>Site</title><link "
                                 "rel=\"alternate\" type=\"application/rss+xml\" href=\"feed.xml\">"
                                 "</head><body><p>Welcome</p></body></html>";
        const std::string feed = "<rss version=\"2.0\"><channel><title>Feed " + std::to_string(i)
            + "</title><link>http://example.org/</link></channel></rss>";
        for (const auto& [path, body] : {std::pair {site, page}, {site + "feed.xml", feed}}) {
            server.Handle(path, [&server, body](const httplib::Request&, httplib::Response& out) {
                server.Sleep(kAnswerDelay);
                out.set_content(body, "text/html");
            });
        }
    }
}

// One add of every site into a fresh program folder; the seconds, negative on failure.
double AddAll(const TestServer& server, const std::string& home,
    const std::vector<std::string>& extra, std::string& channels)
{
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    setenv("CORVANE_HOME", home.c_str(), 1);
    std::vector<std::string> arguments {CORVANE_CLI_PATH, "add", "--quiet"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    for (int i = 0; i < kSites; ++i)
        arguments.push_back(server.Url("/site" + std::to_string(i) + "/"));
    const ChildRun run = Run(arguments);
    channels = ReadAll(home + "/Corvane.Cha");
    if (!run.ok)
        return -1;
    return run.seconds;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 1;
    if (argc == 3 && std::string(argv[1]) == "--rounds")
        rounds = std::max(1, std::atoi(argv[2]));
    const std::string scratch = DefaultScratchFolder() + "/corvane-bench-add";
    std::filesystem::create_directories(scratch);
    setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);
    setenv("no_proxy", "*", 1);
    setenv("http_proxy", "", 1);
    TestServer server;
    ServeSites(server);

    double best = 1e9;
    double bestOne = 1e9;
    for (int round = 0; round < rounds; ++round) {
        std::string parallelChannels;
        std::string serialChannels;
        const double parallel = AddAll(server, scratch + "/home", {}, parallelChannels);
        const double serial
            = AddAll(server, scratch + "/home", {"--connections", "1"}, serialChannels);
        if (parallel < 0 || serial < 0 || parallelChannels != serialChannels
            || parallelChannels.find("Feed " + std::to_string(kSites - 1)) == std::string::npos) {
            std::fprintf(stderr, "add: a run failed or the channels files differ\n");
            return 1;
        }
        best = std::min(best, parallel);
        bestOne = std::min(bestOne, serial);
    }
    std::filesystem::remove_all(scratch);
    const double ratio = best / bestOne;
    std::printf("add of %d website addresses (100 ms answers): default %.2f s, --connections 1 "
                "%.2f s, ratio %.3f (goal at most 0.3) %s\n",
        kSites, best, bestOne, ratio, ratio <= 0.3 ? "ok" : "MISSED");
    return ratio <= 0.3 ? 0 : 1;
}
