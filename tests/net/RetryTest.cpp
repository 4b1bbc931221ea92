// CWebAccess's retries: which failures are tried again, how often, after which pauses, and that
// a stop ends a pause at once. The pauses are made short; none of these tests waits seconds.
#include "net/WebAccess.h"

#include "net/NetTestSupport.h"
#include "net/RawResponder.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

RetryPolicy QuickRetries(int retries)
{
    RetryPolicy policy;
    policy.retries = retries;
    policy.firstPause = 1ms;
    policy.maximumPause = 20ms;
    return policy;
}

class RetryTest : public ::testing::Test {
protected:
    TestServer server;
    CWebAccess web {"Velmora RSS Reader"};
    std::string body = "previous";

    // The first `failures` answers on path have status failure, the rest are 200 with bytes.
    void FailThenServe(const std::string& path, int failures, int failure, std::string bytes,
        std::string retryAfter = "")
    {
        auto answered = std::make_shared<std::atomic<int>>(0);
        server.Handle(path, [=](const httplib::Request&, httplib::Response& response) {
            if (answered->fetch_add(1) < failures) {
                response.status = failure;
                if (!retryAfter.empty())
                    response.set_header("Retry-After", retryAfter);
                response.set_content("try later", "text/plain");
                return;
            }
            response.set_content(bytes, "application/octet-stream");
        });
    }
};

TEST_F(RetryTest, AnUnavailableServerIsAskedAgain)
{
    web.SetRetryPolicy(QuickRetries(3));
    FailThenServe("/feed", 1, 503, "<rss/>");
    ASSERT_EQ(web.FetchUrl(server.Url("/feed"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, "<rss/>");
    EXPECT_EQ(web.LastAttempts(), 2);
    EXPECT_EQ(server.Hits("/feed"), 2);
    EXPECT_TRUE(web.LastError().empty());
    EXPECT_FALSE(web.LastFailureIsTransient());
}

TEST_F(RetryTest, DownloadsAreRetriedAndLeaveOnlyTheFile)
{
    TempDir folder;
    const std::string target = folder.File("episode.mp3");
    web.SetRetryPolicy(QuickRetries(3));
    FailThenServe("/episode.mp3", 2, 502, AllByteValues());
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(ReadWholeFile(target), AllByteValues());
    EXPECT_EQ(web.LastAttempts(), 3);
    EXPECT_EQ(FolderEntries(folder.Path()), std::set<std::string>({"episode.mp3"}));
}

TEST_F(RetryTest, ClientErrorsAreNeverRetried)
{
    web.SetRetryPolicy(QuickRetries(3));
    for (int status : {404, 400, 403, 410}) {
        const std::string path = "/status" + std::to_string(status);
        server.Serve(path, "no", "text/html", status);
        EXPECT_EQ(web.FetchUrl(server.Url(path), body), status);
        EXPECT_EQ(web.LastAttempts(), 1) << status;
        EXPECT_EQ(server.Hits(path), 1) << status;
        EXPECT_FALSE(web.LastFailureIsTransient()) << status;
    }
    EXPECT_EQ(body, "previous");
}

TEST_F(RetryTest, TooManyRequestsWaitsForRetryAfter)
{
    // The pause is Retry-After's second, cut to the policy's bound.
    RetryPolicy policy = QuickRetries(3);
    policy.maximumPause = 300ms;
    web.SetRetryPolicy(policy);
    FailThenServe("/feed", 1, 429, "<rss/>", "1");
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(web.FetchUrl(server.Url("/feed"), body), WEB_OK) << web.LastError();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 290ms);
    EXPECT_EQ(web.LastAttempts(), 2);
}

TEST_F(RetryTest, AServerThatStaysUnavailableEndsWithItsStatus)
{
    web.SetRetryPolicy(QuickRetries(3));
    server.Serve("/feed", "down", "text/html", 503);
    EXPECT_EQ(web.FetchUrl(server.Url("/feed"), body), 503);
    EXPECT_EQ(web.LastAttempts(), 4);
    EXPECT_EQ(server.Hits("/feed"), 4);
    EXPECT_EQ(web.LastError(), "HTTP status 503 after 4 attempts");
    EXPECT_TRUE(web.LastFailureIsTransient());
    EXPECT_EQ(body, "previous");
}

TEST_F(RetryTest, WithoutAPolicyEachCallIsOneRequest)
{
    server.Serve("/feed", "down", "text/html", 503);
    EXPECT_EQ(web.FetchUrl(server.Url("/feed"), body), 503);
    EXPECT_EQ(web.LastAttempts(), 1);
    EXPECT_EQ(server.Hits("/feed"), 1);
    EXPECT_TRUE(web.LastFailureIsTransient());
}

TEST_F(RetryTest, RefusedConnectionsAreRetried)
{
    web.SetRetryPolicy(QuickRetries(2));
    const std::string closed = "http://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/";
    EXPECT_EQ(web.FetchUrl(closed, body), WEB_ERR_REQUEST);
    EXPECT_EQ(web.LastAttempts(), 3);
    EXPECT_TRUE(web.LastFailureIsTransient());
    EXPECT_NE(web.LastError().find("onnect"), std::string::npos) << web.LastError();
    EXPECT_NE(web.LastError().find(" after 3 attempts"), std::string::npos) << web.LastError();
}

TEST_F(RetryTest, AStopEndsThePauseAtOnce)
{
    RetryPolicy policy = QuickRetries(3);
    policy.firstPause = 30s;
    policy.maximumPause = 60s;
    web.SetRetryPolicy(policy);
    server.Serve("/feed", "down", "text/html", 503);
    std::stop_source stop;
    web.SetStopToken(stop.get_token());
    std::chrono::steady_clock::time_point stopped;
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stopped = std::chrono::steady_clock::now();
        stop.request_stop();
    });
    const int result = web.FetchUrl(server.Url("/feed"), body);
    const auto returned = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_EQ(result, WEB_ERR_REQUEST);
    EXPECT_EQ(web.LastError(), "the fetch was stopped");
    EXPECT_FALSE(web.LastFailureIsTransient());
    EXPECT_EQ(web.LastAttempts(), 1);
    EXPECT_EQ(server.Hits("/feed"), 1);
    // Far below the 30 s pause: the stop woke it.
    EXPECT_LT(returned - stopped, 1000ms);
}

TEST_F(RetryTest, TransientFailuresAreToldFromOthers)
{
    server.ServeCutShort("/short", "only part", 1000);
    EXPECT_EQ(web.FetchUrl(server.Url("/short"), body), WEB_ERR_REQUEST);
    EXPECT_TRUE(web.LastFailureIsTransient()) << web.LastError();

    for (int status : {500, 502, 503, 504, 429}) {
        server.Serve("/s", "x", "text/plain", status);
        EXPECT_EQ(web.FetchUrl(server.Url("/s"), body), status);
        EXPECT_TRUE(web.LastFailureIsTransient()) << status;
    }
    RawResponder silent("");
    EXPECT_EQ(web.FetchUrl(silent.Url("/"), body), WEB_ERR_REQUEST);
    EXPECT_TRUE(web.LastFailureIsTransient()) << web.LastError();

    RawResponder noStatus("this is no HTTP at all\r\n\r\nbody");
    EXPECT_EQ(web.FetchUrl(noStatus.Url("/"), body), WEB_ERR_STATUS);
    EXPECT_FALSE(web.LastFailureIsTransient());
    EXPECT_EQ(web.FetchUrl("ftp://127.0.0.1/x", body), WEB_ERR_REQUEST);
    EXPECT_FALSE(web.LastFailureIsTransient());
    server.Redirect("/loop", "/loop");
    EXPECT_EQ(web.FetchUrl(server.Url("/loop"), body), WEB_ERR_REQUEST);
    EXPECT_FALSE(web.LastFailureIsTransient());

    // A local failure: the folder to download into does not exist.
    TempDir folder;
    server.Serve("/ok", "fine");
    EXPECT_EQ(web.DownloadUrl(server.Url("/ok"), folder.File("no/such/file")), WEB_ERR_REQUEST);
    EXPECT_FALSE(web.LastFailureIsTransient());

    ASSERT_EQ(web.FetchUrl(server.Url("/ok"), body), WEB_OK);
    EXPECT_FALSE(web.LastFailureIsTransient());
}

TEST_F(RetryTest, KeepsTheRetryAfterOfTheLastResponse)
{
    server.Handle("/delta", [](const httplib::Request&, httplib::Response& response) {
        response.status = 503;
        response.set_header("Retry-After", "120");
    });
    EXPECT_EQ(web.FetchUrl(server.Url("/delta"), body), 503);
    EXPECT_EQ(web.LastRetryAfter(), std::optional<std::chrono::seconds>(120s));

    server.Handle("/date", [](const httplib::Request&, httplib::Response& response) {
        response.status = 429;
        response.set_header("Retry-After", TestServer::FormatHttpDate(std::time(nullptr) + 300));
    });
    EXPECT_EQ(web.FetchUrl(server.Url("/date"), body), 429);
    ASSERT_TRUE(web.LastRetryAfter().has_value());
    EXPECT_GE(*web.LastRetryAfter(), 290s);
    EXPECT_LE(*web.LastRetryAfter(), 300s);

    server.Serve("/none", "x", "text/plain", 503);
    EXPECT_EQ(web.FetchUrl(server.Url("/none"), body), 503);
    EXPECT_FALSE(web.LastRetryAfter().has_value());
}

TEST(RetryPolicy, TheUpdatePolicyWaitsOneTwoAndFourSeconds)
{
    const RetryPolicy policy;
    EXPECT_EQ(policy.retries, 3);
    EXPECT_EQ(policy.PauseBefore(1, std::nullopt), 1s);
    EXPECT_EQ(policy.PauseBefore(2, std::nullopt), 2s);
    EXPECT_EQ(policy.PauseBefore(3, std::nullopt), 4s);
    EXPECT_EQ(policy.PauseBefore(30, std::nullopt), 60s);
    EXPECT_EQ(RetryPolicy::None().retries, 0);
}

TEST(RetryPolicy, RetryAfterLengthensAPauseUpToTheBound)
{
    const RetryPolicy policy;
    EXPECT_EQ(policy.PauseBefore(1, 10s), 10s);
    EXPECT_EQ(policy.PauseBefore(3, 1s), 4s); // never shorter than the policy's own
    EXPECT_EQ(policy.PauseBefore(1, 3600s), 60s);
    EXPECT_EQ(policy.PauseBefore(1, 0s), 1s);
    EXPECT_EQ(policy.PauseBefore(1, -5s), 1s);
    EXPECT_EQ(policy.PauseBefore(1, std::chrono::seconds::max()), 60s);
}

TEST(RetryPolicy, OddPoliciesStayWithinTheirBound)
{
    RetryPolicy policy;
    policy.firstPause = 5s;
    policy.maximumPause = 2s;
    EXPECT_EQ(policy.PauseBefore(1, std::nullopt), 2s);
    policy.firstPause = -1s;
    EXPECT_EQ(policy.PauseBefore(3, std::nullopt), 0s);
    policy.firstPause = std::chrono::milliseconds::max() / 3;
    policy.maximumPause = std::chrono::milliseconds::max();
    EXPECT_EQ(policy.PauseBefore(10, std::nullopt), std::chrono::milliseconds::max());
    EXPECT_EQ(policy.PauseBefore(1, std::chrono::seconds::max()), std::chrono::milliseconds::max());
}

TEST(RetryPolicy, PausesComeFromTheEnvironmentWhenSound)
{
    {
        ScopedEnvironment first("CORVANE_RETRY_PAUSE_MS", "5");
        ScopedEnvironment bound("CORVANE_RETRY_MAX_PAUSE_MS", "0");
        const RetryPolicy policy = RetryPolicy::FromEnvironment();
        EXPECT_EQ(policy.retries, 3);
        EXPECT_EQ(policy.firstPause, 5ms);
        EXPECT_EQ(policy.maximumPause, 0ms);
        EXPECT_EQ(policy.PauseBefore(2, 30s), 0ms);
    }
    for (const char* unsound :
        {"", "-1", "abc", "5ms", "1.5", "86400001", "99999999999999999999"}) {
        ScopedEnvironment first("CORVANE_RETRY_PAUSE_MS", unsound);
        ScopedEnvironment bound("CORVANE_RETRY_MAX_PAUSE_MS", unsound);
        const RetryPolicy policy = RetryPolicy::FromEnvironment();
        EXPECT_EQ(policy.firstPause, 1000ms) << unsound;
        EXPECT_EQ(policy.maximumPause, 60000ms) << unsound;
    }
}

} // namespace
