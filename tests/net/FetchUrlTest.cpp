// CWebAccess::FetchUrl against the loopback server: addresses, statuses, bodies, redirects,
// the request on the wire, broken transfers, time-outs and stops.
#include "net/WebAccess.h"

#include "net/NetTestSupport.h"
#include "net/RawResponder.h"
#include "net/TlsTestServer.h"
#include "support/TestServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

// Connections that fill the accept queue of a listener that never accepts, so that the next
// handshake gets no answer. The caller closes them.
std::vector<int> FillAcceptQueue(int port)
{
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(filler);
    }
    return fillers;
}

class FetchUrlTest : public ::testing::Test {
protected:
    TestServer server;
    CWebAccess web {"Velmora RSS Reader"};
    std::string body = "previous";

    std::string Base() const { return "127.0.0.1:" + std::to_string(server.Port()); }
};

TEST_F(FetchUrlTest, RequestsTheWholePathOnTheGivenPort)
{
    server.Serve("/feeds/news.xml", "<rss/>", "text/xml");
    ASSERT_EQ(web.FetchUrl(server.Url("/feeds/news.xml"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, "<rss/>");
    ASSERT_EQ(server.Hits("/feeds/news.xml"), 1);
    EXPECT_EQ(server.Requests("/feeds/news.xml")[0].target, "/feeds/news.xml");
    EXPECT_TRUE(web.LastError().empty());
}

TEST_F(FetchUrlTest, HostAloneRequestsTheRoot)
{
    server.Serve("/", "root");
    ASSERT_EQ(web.FetchUrl("http://" + Base(), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, "root");
    ASSERT_EQ(server.Hits("/"), 1);
    EXPECT_EQ(server.Requests("/")[0].target, "/");
}

TEST_F(FetchUrlTest, KeepsTheWholeQuery)
{
    server.Serve("/rss", "q");
    ASSERT_EQ(web.FetchUrl(server.Url("/rss?id=5&fmt=xml&x="), body), WEB_OK);
    ASSERT_EQ(server.Hits("/rss"), 1);
    EXPECT_EQ(server.Requests("/rss")[0].query, "id=5&fmt=xml&x=");
    EXPECT_EQ(server.Requests("/rss")[0].target, "/rss?id=5&fmt=xml&x=");
}

// "http" inside the path or query must not disturb how the address is taken apart.
TEST_F(FetchUrlTest, HttpInsideThePathIsJustText)
{
    server.Serve("/http/feed-http.xml", "inner");
    ASSERT_EQ(
        web.FetchUrl(server.Url("/http/feed-http.xml?from=http://example.org/"), body), WEB_OK)
        << web.LastError();
    EXPECT_EQ(body, "inner");
    EXPECT_EQ(server.Requests("/http/feed-http.xml")[0].query, "from=http://example.org/");
}

TEST_F(FetchUrlTest, SchemeAndHostAreCaseInsensitiveAndWhiteSpaceIsTrimmed)
{
    server.Serve("/Feed", "x");
    ASSERT_EQ(web.FetchUrl(" \tHTTP://" + Base() + "/Feed\r\n", body), WEB_OK) << web.LastError();
    EXPECT_EQ(server.Hits("/Feed"), 1);
}

TEST_F(FetchUrlTest, SpacesInThePathAreEncoded)
{
    server.Serve("/my feed.xml", "spaced");
    ASSERT_EQ(web.FetchUrl(server.Url("/my feed.xml"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, "spaced");
    EXPECT_EQ(server.Requests("/my feed.xml")[0].target, "/my%20feed.xml");
}

TEST_F(FetchUrlTest, UserInfoIsSentAsBasicAuthorization)
{
    server.Serve("/private", "secret body");
    ASSERT_EQ(web.FetchUrl("http://user:pa%3Ass@" + Base() + "/private", body), WEB_OK);
    const auto headers = server.RequestHeaders("/private");
    ASSERT_EQ(headers.size(), 1u);
    ASSERT_EQ(headers[0].count("Authorization"), 1u);
    // base64("user:pa:ss")
    EXPECT_EQ(headers[0].find("Authorization")->second, "Basic dXNlcjpwYTpzcw==");
}

// Addresses as users type them, without a scheme, are http addresses.
TEST_F(FetchUrlTest, AnAddressWithoutASchemeIsFetchedOverHttp)
{
    server.Serve("/f.xml", "plain http");
    const std::string port = Base().substr(Base().find(':'));
    for (const std::string& address :
        {Base() + "/f.xml", "  localhost" + port + "/f.xml", "LOCALHOST" + port + "/f.xml?"}) {
        body.clear();
        EXPECT_EQ(web.FetchUrl(address, body), WEB_OK) << address << ": " << web.LastError();
        EXPECT_EQ(body, "plain http") << address;
    }
}

TEST_F(FetchUrlTest, RefusesAddressesThatAreNotHttpOrHttpsWithoutSendingAnything)
{
    server.Serve("/x", "never");
    const std::string refused[] = {
        "",
        "//" + Base() + "/x",
        "mailto:someone@" + Base(),
        "ftp://" + Base() + "/x",
        "file:///etc/passwd",
        "gopher://" + Base() + "/x",
        "http://",
        "https://",
        "http:///x",
        "http://" + Base().substr(0, Base().find(':')) + ":99999/x", // port out of range
        "http://bad host/x",
        "just some words",
        std::string("http://") + Base() + std::string("/x\0y", 4),
    };
    for (const auto& address : refused) {
        body = "previous";
        EXPECT_EQ(web.FetchUrl(address, body), WEB_ERR_REQUEST) << address;
        EXPECT_EQ(body, "previous") << address;
        EXPECT_FALSE(web.LastError().empty()) << address;
    }
    EXPECT_EQ(server.Hits("/x"), 0);
}

TEST_F(FetchUrlTest, ClosedPortsFailAsRequestErrors)
{
    const int closed = ClosedLoopbackPort();
    EXPECT_EQ(web.FetchUrl("https://127.0.0.1:" + std::to_string(closed) + "/feed", body),
        WEB_ERR_REQUEST);
    EXPECT_EQ(web.FetchUrl("http://127.0.0.1:" + std::to_string(closed) + "/feed", body),
        WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
}

// https must not fall back to plain text, and a plain-text server is no TLS peer.
TEST_F(FetchUrlTest, HttpsToAPlainHttpServerFails)
{
    server.Serve("/feed", "plain");
    EXPECT_EQ(web.FetchUrl("https://" + Base() + "/feed", body), WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
}

TEST_F(FetchUrlTest, StatusOtherThan200IsReturnedAndTheBodyIsUntouched)
{
    for (int status : {404, 500, 403, 204, 201, 410}) {
        const std::string path = "/status" + std::to_string(status);
        server.Serve(path, "error page " + std::to_string(status), "text/html", status);
        body = "previous";
        EXPECT_EQ(web.FetchUrl(server.Url(path), body), status);
        EXPECT_EQ(body, "previous");
        EXPECT_EQ(web.LastError(), "HTTP status " + std::to_string(status));
    }
}

// Without a condition of ours, a 304 is just another status.
TEST_F(FetchUrlTest, UnaskedNotModifiedIsAStatus)
{
    server.Serve("/cached", "", "text/plain", 304);
    EXPECT_EQ(web.FetchUrl(server.Url("/cached"), body), 304);
    EXPECT_EQ(body, "previous");
}

TEST_F(FetchUrlTest, EmptyOkBodyIsOkAndEmpty)
{
    server.Serve("/empty", "");
    EXPECT_EQ(web.FetchUrl(server.Url("/empty"), body), WEB_OK);
    EXPECT_EQ(body, "");
}

TEST_F(FetchUrlTest, BodiesComeBackByteForByte)
{
    const std::string bytes = AllByteValues();
    server.Serve("/bytes", bytes, "audio/mpeg");
    ASSERT_EQ(web.FetchUrl(server.Url("/bytes"), body), WEB_OK);
    EXPECT_EQ(body.size(), bytes.size());
    EXPECT_EQ(body, bytes);
}

TEST_F(FetchUrlTest, EncodedBodiesAreNotDecoded)
{
    // The first bytes of a gzip stream; decoding them would fail or change them.
    const std::string gzipped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x00\x03", 10);
    server.Handle("/gz", [&](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Encoding", "gzip");
        response.set_content(gzipped, "text/xml");
    });
    ASSERT_EQ(web.FetchUrl(server.Url("/gz"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, gzipped);
    EXPECT_EQ(server.RequestHeaders("/gz")[0].count("Accept-Encoding"), 0u);
}

TEST_F(FetchUrlTest, SendsExactlyTheDescribedRequest)
{
    server.Serve("/feed", "x");
    ASSERT_EQ(web.FetchUrl(server.Url("/feed"), body), WEB_OK);
    const auto requests = server.Requests("/feed");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    const httplib::Headers expected = {
        {"Host", Base()},
        {"Accept", "application/*, text/*, image/*, audio/*, video/*"},
        {"Cache-Control", "no-cache"},
        {"User-Agent", "Velmora RSS Helper"},
    };
    EXPECT_EQ(requests[0].headers, expected);
}

TEST_F(FetchUrlTest, FollowsRedirectChainsToTheFinalAnswer)
{
    server.Redirect("/one", "/two", 301);
    server.Redirect("/two", server.Url("/three"), 302); // absolute
    server.Redirect("/three", "/final?x=1", 307);
    server.Serve("/final", "arrived");
    ASSERT_EQ(web.FetchUrl(server.Url("/one"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, "arrived");
    for (const char* path : {"/one", "/two", "/three", "/final"})
        EXPECT_EQ(server.Hits(path), 1) << path;
    EXPECT_EQ(server.Requests("/final")[0].query, "x=1");
    // Every hop is the same request.
    EXPECT_EQ(server.Requests("/final")[0].version, "HTTP/1.1");
    EXPECT_EQ(
        server.Requests("/final")[0].headers.find("User-Agent")->second, "Velmora RSS Helper");
}

TEST_F(FetchUrlTest, TheFinalResponsesStatusCounts)
{
    server.Redirect("/moved", "/gone");
    server.Serve("/gone", "not here", "text/html", 404);
    EXPECT_EQ(web.FetchUrl(server.Url("/moved"), body), 404);
    EXPECT_EQ(body, "previous");
    // A redirect without a place to go is the final answer.
    server.Handle("/nowhere",
        [](const httplib::Request&, httplib::Response& response) { response.status = 302; });
    EXPECT_EQ(web.FetchUrl(server.Url("/nowhere"), body), 302);
}

TEST_F(FetchUrlTest, FollowsTwentyRedirectsButNotTwentyOne)
{
    for (int hop = 0; hop < 21; ++hop)
        server.Redirect("/hop" + std::to_string(hop), "/hop" + std::to_string(hop + 1));
    server.Serve("/hop21", "end");
    // /hop1 .. /hop20 are 20 redirects before /hop21.
    EXPECT_EQ(web.FetchUrl(server.Url("/hop1"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, "end");
    body = "previous";
    EXPECT_EQ(web.FetchUrl(server.Url("/hop0"), body), WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
}

TEST_F(FetchUrlTest, RedirectLoopsEnd)
{
    server.Redirect("/a", "/b");
    server.Redirect("/b", "/a");
    server.Redirect("/self", "/self");
    EXPECT_EQ(web.FetchUrl(server.Url("/a"), body), WEB_ERR_REQUEST);
    EXPECT_LE(server.Hits("/a") + server.Hits("/b"), 21);
    EXPECT_EQ(web.FetchUrl(server.Url("/self"), body), WEB_ERR_REQUEST);
    EXPECT_LE(server.Hits("/self"), 21);
    EXPECT_EQ(body, "previous");
}

TEST_F(FetchUrlTest, RedirectsLeadOnlyToHttpAndHttps)
{
    server.Redirect("/to-file", "file:///etc/passwd");
    server.Redirect("/to-ftp", "ftp://127.0.0.1/x");
    server.Redirect(
        "/to-closed-https", "https://127.0.0.1:" + std::to_string(ClosedLoopbackPort()) + "/x");
    for (const char* path : {"/to-file", "/to-ftp", "/to-closed-https"}) {
        EXPECT_EQ(web.FetchUrl(server.Url(path), body), WEB_ERR_REQUEST) << path;
        EXPECT_EQ(body, "previous") << path;
    }
}

TEST_F(FetchUrlTest, BodyCutShortIsARequestError)
{
    server.ServeCutShort("/short", "only part of it", 1000);
    EXPECT_EQ(web.FetchUrl(server.Url("/short"), body), WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
}

TEST_F(FetchUrlTest, StalledTransfersEnd)
{
    ScopedEnvironment stall("CORVANE_STALL_TIMEOUT", "1");
    // Headers come, then nothing for far longer than the time-out.
    server.ServeStall("/stall-body", std::string(100, 'x'), 0, 20s);
    EXPECT_EQ(web.FetchUrl(server.Url("/stall-body"), body), WEB_ERR_REQUEST);
    EXPECT_NE(web.LastError().find("too slow"), std::string::npos) << web.LastError();
    EXPECT_TRUE(web.LastFailureIsTransient());
    // Not even headers come.
    server.Serve("/stall-head", "late");
    server.SetDelay("/stall-head", 20s);
    EXPECT_EQ(web.FetchUrl(server.Url("/stall-head"), body), WEB_ERR_REQUEST);
    EXPECT_NE(web.LastError().find("too slow"), std::string::npos) << web.LastError();
    EXPECT_TRUE(web.LastFailureIsTransient());
    EXPECT_EQ(body, "previous");
}

TEST_F(FetchUrlTest, SlowButMovingTransfersSucceed)
{
    ScopedEnvironment stall("CORVANE_STALL_TIMEOUT", "1");
    std::string slow;
    for (int i = 0; i < 8; ++i)
        slow += std::string(50, static_cast<char>('a' + i));
    // 400 bytes over about 2.1 s: longer than the time-out, but never 1 s without a byte.
    server.ServeSlow("/slow", slow, 50, 300ms);
    ASSERT_EQ(web.FetchUrl(server.Url("/slow"), body), WEB_OK) << web.LastError();
    EXPECT_EQ(body, slow);
}

TEST_F(FetchUrlTest, ConnectionsThatAreNeverAcceptedTimeOut)
{
    ScopedEnvironment connect("CORVANE_CONNECT_TIMEOUT", "1");
    ScopedEnvironment stall("CORVANE_STALL_TIMEOUT", "60");
    RawResponder deaf("", false);
    const auto fillers = FillAcceptQueue(deaf.Port());
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(web.FetchUrl(deaf.Url("/"), body), WEB_ERR_REQUEST);
    EXPECT_NE(web.LastError().find("Timeout"), std::string::npos) << web.LastError();
    EXPECT_TRUE(web.LastFailureIsTransient());
    for (int filler : fillers)
        ::close(filler);
}

TEST_F(FetchUrlTest, StopFromAnotherThreadEndsTheFetchWithinASecond)
{
    server.ServeStall("/endless", std::string(1000, 'x'), 10, 20s);
    std::stop_source stop;
    web.SetStopToken(stop.get_token());
    std::chrono::steady_clock::time_point stopped;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stopped = std::chrono::steady_clock::now();
        stop.request_stop();
    });
    const int result = web.FetchUrl(server.Url("/endless"), body);
    const auto returned = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_EQ(result, WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
    EXPECT_LT(returned - stopped, 1000ms);
    EXPECT_FALSE(web.LastFailureIsTransient());

    // A fetch still waiting for its connection stops as quickly.
    {
        CWebAccess waiting("Velmora RSS Reader");
        std::stop_source stopWaiting;
        waiting.SetStopToken(stopWaiting.get_token());
        RawResponder deaf("", false);
        const auto fillers = FillAcceptQueue(deaf.Port());
        std::this_thread::sleep_for(100ms);
        std::thread waitingStopper([&] {
            std::this_thread::sleep_for(300ms);
            stopped = std::chrono::steady_clock::now();
            stopWaiting.request_stop();
        });
        EXPECT_EQ(waiting.FetchUrl(deaf.Url("/"), body), WEB_ERR_REQUEST);
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1000ms);
        waitingStopper.join();
        for (int filler : fillers)
            ::close(filler);
    }

    // Once stopped, later fetches are refused without a request.
    server.Serve("/after", "x");
    EXPECT_EQ(web.FetchUrl(server.Url("/after"), body), WEB_ERR_REQUEST);
    EXPECT_EQ(server.Hits("/after"), 0);
}

TEST_F(FetchUrlTest, RepliesWithoutAReadableStatusLineAreStatusErrors)
{
    RawResponder noStatus("this is no HTTP at all\r\n\r\nbody");
    EXPECT_EQ(web.FetchUrl(noStatus.Url("/"), body), WEB_ERR_STATUS);
    RawResponder brokenStatus("HTTP/1.0 abc Fine\r\nContent-Length: 2\r\n\r\nok");
    EXPECT_EQ(web.FetchUrl(brokenStatus.Url("/"), body), WEB_ERR_STATUS) << web.LastError();
    EXPECT_EQ(body, "previous");
    // No reply at all is no response: a request error.
    RawResponder silent("");
    EXPECT_EQ(web.FetchUrl(silent.Url("/"), body), WEB_ERR_REQUEST);
}

TEST_F(FetchUrlTest, ReportsProgressAndSurvivesAThrowingListener)
{
    const std::string large(3 * 1024 * 1024, 'p');
    server.Serve("/large", large);
    std::uint64_t last = 0, total = 0;
    bool increasing = true;
    web.SetProgressCallback([&](std::uint64_t received, std::uint64_t announced) {
        increasing = increasing && received > last;
        last = received;
        total = announced;
    });
    ASSERT_EQ(web.FetchUrl(server.Url("/large"), body), WEB_OK);
    EXPECT_TRUE(increasing);
    EXPECT_EQ(last, large.size());
    EXPECT_EQ(total, large.size());

    body = "previous";
    web.SetProgressCallback([](std::uint64_t, std::uint64_t) { throw std::runtime_error("x"); });
    EXPECT_EQ(web.FetchUrl(server.Url("/large"), body), WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
}

TEST(WebAccessTimeouts, ComeFromTheEnvironmentWhenSound)
{
    {
        ScopedEnvironment connect("CORVANE_CONNECT_TIMEOUT", "5");
        ScopedEnvironment stall("CORVANE_STALL_TIMEOUT", "7");
        EXPECT_EQ(CWebAccess::ConnectTimeoutSeconds(), 5);
        EXPECT_EQ(CWebAccess::StallTimeoutSeconds(), 7);
    }
    for (const char* unsound : {"", "0", "-3", "abc", "5s", "1.5", "99999999999999999999"}) {
        ScopedEnvironment connect("CORVANE_CONNECT_TIMEOUT", unsound);
        ScopedEnvironment stall("CORVANE_STALL_TIMEOUT", unsound);
        EXPECT_EQ(CWebAccess::ConnectTimeoutSeconds(), 30) << unsound;
        EXPECT_EQ(CWebAccess::StallTimeoutSeconds(), 60) << unsound;
    }
}

} // namespace

namespace {

// What a client that does not check certificates gets from the server: proves the server works,
// so that WebAccess's refusal is its certificate check.
long StatusWithoutVerification(const std::string& url, std::string& body)
{
    CURL* handle = curl_easy_init();
    curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
    curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(
        handle, CURLOPT_WRITEFUNCTION,
        +[](char* data, std::size_t size, std::size_t count, void* user) {
            static_cast<std::string*>(user)->append(data, size * count);
            return size * count;
        });
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
    long status = 0;
    if (curl_easy_perform(handle) == CURLE_OK)
        curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(handle);
    return status;
}

TEST(FetchUrlHttps, UntrustedCertificatesAreRefused)
{
    TlsTestServer tls;
    ASSERT_TRUE(tls.IsValid());
    std::string unchecked;
    ASSERT_EQ(StatusWithoutVerification(tls.Url("/feed"), unchecked), 200);
    ASSERT_EQ(unchecked, "secure");

    CWebAccess web("Velmora RSS Reader");
    std::string body = "previous";
    EXPECT_EQ(web.FetchUrl(tls.Url("/feed"), body), WEB_ERR_REQUEST);
    EXPECT_NE(web.LastError().find("certificate"), std::string::npos) << web.LastError();
    EXPECT_EQ(body, "previous");

    // Nor does a redirect from plain http lead around the check.
    TestServer server;
    server.Redirect("/secure", tls.Url("/feed"));
    EXPECT_EQ(web.FetchUrl(server.Url("/secure"), body), WEB_ERR_REQUEST);
    EXPECT_EQ(body, "previous");
}

} // namespace

TEST(FetchFailureText, IsTheDescribedSentenceWithTheAddress)
{
    EXPECT_EQ(FetchFailureText("http://example.invalid/a.rss"),
        "Failed to get http://example.invalid/a.rss, please check the URL and the Internet "
        "connection.");
}
