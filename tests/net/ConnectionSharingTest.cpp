// What the fetches of a job share: a thread's open connections (reused where the server keeps
// them open), the job's name cache and TLS sessions; and what HTTP/1.1 brings along: chunked
// answers, and the floor rate that ends a trickling transfer as a passing failure.
#include "net/ConnectionSharing.h"
#include "net/WebAccess.h"

#include "net/NetTestSupport.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

// Answers body on path and remembers from which client port (which connection) each request
// came; close: the answer says "Connection: close".
class ConnectionCounter {
public:
    void Serve(TestServer& server, const std::string& path, const std::string& body, bool close)
    {
        server.Handle(path,
            [this, body, close](const httplib::Request& request, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex);
                    ports.insert(request.remote_port);
                }
                if (close)
                    response.set_header("Connection", "close");
                response.set_content(body, "text/xml");
            });
    }
    std::size_t Connections() const
    {
        std::lock_guard lock(mutex);
        return ports.size();
    }

private:
    mutable std::mutex mutex;
    std::set<int> ports;
};

TEST(ConnectionSharingTest, AThreadsFetchesReuseTheConnectionsTheServerKeepsOpen)
{
    struct Case {
        const char* name;
        bool cache; // the fetches go through one CConnectionCache
        bool serverCloses;
        std::size_t connections; // for four fetches
    };
    const Case cases[] = {
        {"kept open and cached", true, false, 1},
        {"no cache", false, false, 4},
        {"the server closes each", true, true, 4},
    };
    for (const Case& c : cases) {
        TestServer server;
        ConnectionCounter counter;
        counter.Serve(server, "/feed.xml", "<rss/>", c.serverCloses);
        CWebShare share;
        CConnectionCache connections;
        ASSERT_NE(share.Handle(), nullptr);
        ASSERT_NE(connections.Multi(), nullptr);
        for (int i = 0; i < 4; ++i) {
            CWebAccess web("Velmora RSS Reader");
            web.SetSharing(&share, c.cache ? &connections : nullptr);
            std::string body;
            ASSERT_EQ(web.FetchUrl(server.Url("/feed.xml"), body), WEB_OK)
                << c.name << ": " << web.LastError();
            EXPECT_EQ(body, "<rss/>") << c.name;
        }
        EXPECT_EQ(counter.Connections(), c.connections) << c.name;
    }
}

// A connection the server dropped while it stood idle in the cache is not a failure: the next
// fetch opens a new one.
TEST(ConnectionSharingTest, AConnectionClosedWhileIdleIsReplaced)
{
    CConnectionCache connections;
    std::optional<TestServer> server(std::in_place);
    const int port = server->Port();
    for (int round = 0; round < 2; ++round) {
        if (round > 0) // a new server on the same port: the old one's connections are gone
            server.emplace(port);
        server->Serve("/a", "round " + std::to_string(round));
        CWebAccess web("Velmora RSS Reader");
        web.SetSharing(nullptr, &connections);
        std::string body;
        ASSERT_EQ(web.FetchUrl(server->Url("/a"), body), WEB_OK) << web.LastError();
        EXPECT_EQ(body, "round " + std::to_string(round));
    }
}

// Chunked answers (HTTP/1.1 servers send them when they do not know the length) arrive whole,
// into memory and into a file, NUL bytes included.
TEST(ConnectionSharingTest, ChunkedAnswersArriveWhole)
{
    TestServer server;
    const std::string whole = AllByteValues() + std::string(100000, 'z') + AllByteValues();
    server.Handle("/chunked", [&whole](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "audio/mpeg", [&whole](std::size_t offset, httplib::DataSink& sink) {
                if (offset >= whole.size()) {
                    sink.done();
                    return true;
                }
                return sink.write(
                    whole.data() + offset, std::min<std::size_t>(7000, whole.size() - offset));
            });
    });
    TempDir temp;
    CConnectionCache connections;
    for (const bool toFile : {false, true}) {
        CWebAccess web("Velmora RSS Reader");
        web.SetSharing(nullptr, &connections);
        std::string body;
        const std::string path = temp.File("episode.mp3");
        const int result = toFile ? web.DownloadUrl(server.Url("/chunked"), path)
                                  : web.FetchUrl(server.Url("/chunked"), body);
        ASSERT_EQ(result, WEB_OK) << toFile << ": " << web.LastError();
        EXPECT_TRUE((toFile ? ReadWholeFile(path) : body) == whole) << toFile;
    }
}

// A server that trickles: 50 bytes every quarter second (200 bytes/s) with a strong ETag, so that
// a resumable download keeps what arrived.
void ServeTrickle(TestServer& server, const std::string& path, std::string body)
{
    auto shared = std::make_shared<const std::string>(std::move(body));
    server.Handle(path, [&server, shared](const httplib::Request&, httplib::Response& response) {
        response.set_header("ETag", "\"v1\"");
        response.set_content_provider(shared->size(), "audio/mpeg",
            [&server, shared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset > 0 && !server.Sleep(250ms))
                    return false;
                return sink.write(
                    shared->data() + offset, std::min<std::size_t>(50, shared->size() - offset));
            });
    });
}

TEST(ConnectionSharingTest, ATransferBelowTheFloorRateFailsAsTransientAndKeepsItsPartial)
{
    ScopedEnvironment window("CORVANE_STALL_TIMEOUT", "1");
    struct Case {
        long floorRate;
        bool completes;
    };
    // 200 bytes/s: below a floor of 1 KiB/s, far above the 1 byte/s of a stalled transfer.
    for (const Case c : {Case {1024, false}, Case {1, true}}) {
        TestServer server;
        const std::string episode(700, 'e');
        ServeTrickle(server, "/slow.mp3", episode);
        TempDir temp;
        const std::string target = temp.File("slow.mp3");
        CWebAccess web("Velmora RSS Reader");
        web.SetResumable(true);
        web.SetFloorRate(c.floorRate);
        const int result = web.DownloadUrl(server.Url("/slow.mp3"), target);
        if (c.completes) {
            ASSERT_EQ(result, WEB_OK) << web.LastError();
            EXPECT_EQ(ReadWholeFile(target), episode);
            continue;
        }
        EXPECT_EQ(result, WEB_ERR_REQUEST) << c.floorRate;
        EXPECT_TRUE(web.LastFailureIsTransient()) << web.LastError();
        EXPECT_NE(web.LastError().find("too slow"), std::string::npos) << web.LastError();
        EXPECT_FALSE(FolderEntries(temp.Path()).count("slow.mp3"));
        const std::string partial = ReadWholeFile(PartialDownloadPath(target));
        EXPECT_FALSE(partial.empty());
        EXPECT_EQ(partial, episode.substr(0, partial.size()));
    }
}

} // namespace
