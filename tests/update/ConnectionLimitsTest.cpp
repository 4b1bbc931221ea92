// How many downloads a job runs at once, in all and per host, and that running many at once
// packs what running one at a time packs. Hosts are test servers on ports of 127.0.0.1 (a host
// is its name and port).
#include "UpdateTestSupport.h"

#include "update/ScheduledUpdate.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <sys/resource.h>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

// Counts the requests answered at once: on each server (host) and on all of them together.
class ConcurrencyCounter {
public:
    // Answers are held until expectedPeak requests were in progress at once (or 10 s passed),
    // so that a loaded machine cannot hide a limit that lets more through, nor make fewer look
    // like the limit.
    ConcurrencyCounter(std::size_t hosts, int expectedPeak)
        : expectedPeak(expectedPeak)
        , mostOnHost(hosts, 0)
        , activeOnHost(hosts, 0)
    { }
    // Serves body on path of server number host, once the expected peak was reached, and a
    // little later, so that a download beyond the limit would still overlap.
    void Serve(std::size_t host, TestServer& server, const std::string& path, std::string body)
    {
        server.Handle(path,
            [this, host, &server, body](const httplib::Request&, httplib::Response& response) {
                Enter(host);
                {
                    std::unique_lock lock(mutex);
                    peakReached.wait_for(lock, 10s, [this] { return most >= expectedPeak; });
                }
                server.Sleep(100ms);
                Leave(host);
                response.set_content(body, "application/rss+xml");
            });
    }
    int MostInAll() const
    {
        std::lock_guard lock(mutex);
        return most;
    }
    int MostOnOneHost() const
    {
        std::lock_guard lock(mutex);
        return *std::max_element(mostOnHost.begin(), mostOnHost.end());
    }

private:
    void Enter(std::size_t host)
    {
        std::lock_guard lock(mutex);
        most = std::max(most, ++active);
        mostOnHost[host] = std::max(mostOnHost[host], ++activeOnHost[host]);
        if (most >= expectedPeak)
            peakReached.notify_all();
    }
    void Leave(std::size_t host)
    {
        std::lock_guard lock(mutex);
        --active;
        --activeOnHost[host];
    }

    const int expectedPeak;
    mutable std::mutex mutex;
    std::condition_variable peakReached;
    int active = 0;
    int most = 0;
    std::vector<int> mostOnHost;
    std::vector<int> activeOnHost;
};

class ConnectionLimitsTest : public UpdateFixture {
protected:
    // hosts servers with feedsPerHost feeds each, every answer counted and held until
    // expectedPeak run at once; the feed addresses in tree order, host after host interleaved.
    std::vector<std::string> CountedFeeds(std::size_t hosts, int feedsPerHost, int expectedPeak)
    {
        counter = std::make_unique<ConcurrencyCounter>(hosts, expectedPeak);
        std::vector<std::string> feeds;
        for (std::size_t host = 0; host < hosts; ++host)
            servers.push_back(std::make_unique<TestServer>());
        for (int i = 0; i < feedsPerHost; ++i) {
            for (std::size_t host = 0; host < hosts; ++host) {
                const std::string path = "/" + std::to_string(i) + ".rss";
                counter->Serve(host, *servers[host], path, Rss("Feed " + path, {}));
                feeds.push_back(servers[host]->Url(path));
            }
        }
        return feeds;
    }

    std::vector<std::unique_ptr<TestServer>> servers;
    std::unique_ptr<ConcurrencyCounter> counter;
};

TEST_F(ConnectionLimitsTest, JobsHonourTheTotalAndThePerHostLimit)
{
    const struct {
        std::size_t hosts;
        int feedsPerHost;
        int connections;
        int perHost;
        int mostInAll;
        int mostOnOneHost;
    } cases[] = {
        {3, 8, DEFAULT_CONNECTIONS, DEFAULT_CONNECTIONS_PER_HOST, 18, 6}, // hosts go out together
        {3, 4, 5, 2, 5, 2}, // the total binds before the hosts' limits are reached
        {1, 10, 8, 8, 8, 8}, // what --connections 8 asks for
    };
    for (const auto& c : cases) {
        const std::vector<std::string> feeds = CountedFeeds(c.hosts, c.feedsPerHost, c.mostInAll);
        UpdateJobSetup setup = Setup(feeds);
        setup.connections = c.connections;
        setup.connectionsPerHost = c.perHost;
        RecordingListener listener;
        EXPECT_FALSE(Run(setup, listener).anyFailed);
        EXPECT_EQ(counter->MostInAll(), c.mostInAll) << c.connections << "/" << c.perHost;
        EXPECT_EQ(counter->MostOnOneHost(), c.mostOnOneHost) << c.connections << "/" << c.perHost;
        servers.clear();
    }
}

// The controller's limits: --connections N (the request's) is N also to one host; without it the
// total is "Update"/"Connections" and one host gets the polite six.
TEST_F(ConnectionLimitsTest, TheControllerTakesTheRunsOrTheSettingsLimits)
{
    const struct {
        int requested;
        int setting;
        std::size_t hosts;
        int mostInAll;
        int mostOnOneHost;
    } cases[] = {
        {8, 64, 1, 8, 8},
        {0, 64, 1, 6, 6},
        {0, 3, 2, 3, 3},
    };
    for (const auto& c : cases) {
        CorvaneSettings settings = Setup({}).settings;
        settings.outputPath = Output();
        settings.connections = c.setting;
        UpdateHooks hooks;
        hooks.readSettings = [&settings] { return settings; };
        hooks.setRepackable = [](int) { return Result<void>(); };
        hooks.channelsPath = ChannelsPath();
        CUpdateController controller(std::move(hooks));
        UpdateRequest request;
        request.feedUrls = CountedFeeds(c.hosts, 10, c.mostInAll);
        request.connections = c.requested;
        RecordingListener listener;
        ASSERT_EQ(controller.StartUpdate(request, listener), StartResult::Started);
        controller.WaitManual();
        EXPECT_FALSE(controller.ManualResult().anyFailed);
        EXPECT_EQ(counter->MostInAll(), c.mostInAll) << c.requested << "/" << c.setting;
        EXPECT_EQ(counter->MostOnOneHost(), c.mostOnOneHost) << c.requested << "/" << c.setting;
        servers.clear();
    }
}

// A hundred hosts, each with a feed of two episodes: the package of the default job, with its
// downloads side by side, is byte for byte the one of a job that fetches one file at a time.
TEST_F(ConnectionLimitsTest, AHundredHostsPackAsOneConnectionDoes)
{
    std::vector<std::string> feeds;
    for (int host = 0; host < 100; ++host) {
        auto& server = *servers.emplace_back(std::make_unique<TestServer>(0, 4));
        const std::string tag = std::to_string(host);
        server.Serve("/a.mp3", "episode a of " + tag, "audio/mpeg");
        server.Serve("/b.mp3", "episode b of " + tag, "audio/mpeg");
        server.Serve("/feed.rss",
            Rss("Host " + tag,
                {{server.Url("/a.mp3"), "audio/mpeg"}, {server.Url("/b.mp3"), "audio/mpeg"}}),
            "application/rss+xml");
        feeds.push_back(server.Url("/feed.rss"));
    }
    std::string packages[2];
    for (const int connections : {1, DEFAULT_CONNECTIONS}) {
        std::filesystem::remove_all(home + "/data");
        UpdateJobSetup setup = Setup(feeds);
        setup.connections = connections;
        setup.connectionsPerHost = std::min(connections, DEFAULT_CONNECTIONS_PER_HOST);
        RecordingListener listener;
        const UpdateJobResult result = Run(setup, listener);
        ASSERT_TRUE(result.packageWritten);
        EXPECT_FALSE(result.anyFailed);
        packages[connections == 1 ? 0 : 1] = ReadWholeFile(Output());
    }
    EXPECT_EQ(Unpack(Output()).records.size(), 300u);
    EXPECT_TRUE(packages[0] == packages[1]);
}

// The total shrinks to what the descriptors the process may open can carry.
TEST(BoundedConnectionsTest, TheOpenFileLimitBoundsTheTotal)
{
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    const struct {
        rlim_t limit;
        int wanted;
        int bounded;
    } cases[] = {
        {1024, 64, 64},
        {1024, 256, 160},
        {256, 64, 32},
        {64, 64, 1}, // nothing to spare: still one at a time
        {1024, 0, 1},
    };
    for (const auto& c : cases) {
        rlimit lowered = saved;
        lowered.rlim_cur = std::min(c.limit, saved.rlim_max);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
        if (lowered.rlim_cur == c.limit) {
            EXPECT_EQ(BoundedConnections(c.wanted), c.bounded) << c.limit << " " << c.wanted;
        }
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

} // namespace

// Download workers start as the work asks for them: a job of one feed runs a few threads, not
// one per connection of the total.
TEST_F(ConnectionLimitsTest, OneFeedStartsOneDownloadWorker)
{
    auto threadCount = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
            std::filesystem::directory_iterator());
    };
    TestServer& server = *servers.emplace_back(std::make_unique<TestServer>());
    std::atomic<long> duringDownload = 0;
    server.Handle("/feed.rss", [&](const httplib::Request&, httplib::Response& response) {
        duringDownload = threadCount();
        response.set_content(Rss("One", {}), "application/rss+xml");
    });
    UpdateJobSetup setup = Setup({server.Url("/feed.rss")});
    setup.connections = DEFAULT_CONNECTIONS;
    const long before = threadCount();
    RecordingListener listener;
    EXPECT_FALSE(Run(setup, listener).anyFailed);
    // The job's own thread, one download worker, perhaps a name lookup's; no conversion worker.
    EXPECT_LE(duringDownload - before, 3);
}
