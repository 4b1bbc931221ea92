// CWebAccess::DownloadUrl: complete downloads only, never a partial or changed file on failure,
// conditional re-download, file attributes.
#include "net/WebAccess.h"

#include "net/NetTestSupport.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include <sys/stat.h>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

constexpr std::time_t FirstVersionTime = 1000000000; // 2001-09-09
constexpr std::time_t SecondVersionTime = 1600000000; // 2020-09-13

class DownloadUrlTest : public ::testing::Test {
protected:
    TestServer server;
    TempDir folder;
    CWebAccess web {"Velmora RSS Reader"};
    std::string target = folder.File("episode.mp3");

    // Only these names are in the folder: no temporary file was left behind.
    void ExpectOnly(std::set<std::string> names) const
    {
        EXPECT_EQ(FolderEntries(folder.Path()), names);
    }
    std::string IfModifiedSinceOfRequest(const std::string& path, std::size_t index) const
    {
        const auto headers = server.RequestHeaders(path);
        if (index >= headers.size())
            return "<no request>";
        const auto found = headers[index].find("If-Modified-Since");
        return found == headers[index].end() ? "" : found->second;
    }
};

TEST_F(DownloadUrlTest, WritesTheWholeBodyByteForByte)
{
    const std::string bytes = AllByteValues();
    server.Serve("/episode.mp3", bytes, "audio/mpeg");
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(ReadWholeFile(target), bytes);
    ExpectOnly({"episode.mp3"});
}

TEST_F(DownloadUrlTest, StreamsLargeBodies)
{
    std::string large(6 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>((i * 7919) >> 3);
    const std::string source = folder.Write("source.bin", large);
    server.ServeFile("/large", source, "audio/mpeg");
    ASSERT_EQ(web.DownloadUrl(server.Url("/large"), target), WEB_OK) << web.LastError();
    EXPECT_TRUE(ReadWholeFile(target) == large);
    ExpectOnly({"episode.mp3", "source.bin"});
}

TEST_F(DownloadUrlTest, FailuresNeitherCreateNorChangeTheFile)
{
    server.Serve("/missing", "error page", "text/html", 404);
    server.ServeCutShort("/short", std::string(5000, 'x'), 100000);
    server.Redirect("/loop", "/loop");

    // No file yet: none is created.
    for (const char* path : {"/missing", "/short", "/loop"}) {
        EXPECT_NE(web.DownloadUrl(server.Url(path), target), WEB_OK) << path;
        ExpectOnly({});
    }
    // A file already there keeps its bytes.
    folder.Write("episode.mp3", "old contents");
    EXPECT_EQ(web.DownloadUrl(server.Url("/missing"), target), 404);
    EXPECT_EQ(web.DownloadUrl(server.Url("/short"), target), WEB_ERR_REQUEST);
    EXPECT_EQ(web.DownloadUrl(server.Url("/loop"), target), WEB_ERR_REQUEST);
    EXPECT_EQ(web.DownloadUrl("ftp://127.0.0.1/x", target), WEB_ERR_REQUEST);
    EXPECT_EQ(ReadWholeFile(target), "old contents");
    ExpectOnly({"episode.mp3"});
}

TEST_F(DownloadUrlTest, EmptyOkBodyWritesNoFile)
{
    server.Serve("/empty", "");
    EXPECT_EQ(web.DownloadUrl(server.Url("/empty"), target), WEB_OK);
    ExpectOnly({});
    folder.Write("episode.mp3", "old contents");
    SetModificationTime(target, FirstVersionTime);
    EXPECT_EQ(web.DownloadUrl(server.Url("/empty"), target), WEB_OK);
    EXPECT_EQ(ReadWholeFile(target), "old contents");
    ExpectOnly({"episode.mp3"});
}

TEST_F(DownloadUrlTest, AStalledDownloadLeavesTheOldFile)
{
    ScopedEnvironment stall("CORVANE_STALL_TIMEOUT", "1");
    folder.Write("episode.mp3", "old contents");
    server.ServeStall("/stall", std::string(4000, 's'), 0, 20s);
    EXPECT_EQ(web.DownloadUrl(server.Url("/stall"), target), WEB_ERR_REQUEST);
    EXPECT_EQ(ReadWholeFile(target), "old contents");
    ExpectOnly({"episode.mp3"});
}

TEST_F(DownloadUrlTest, AStoppedDownloadLeavesNoFile)
{
    // Part of the body is already in the temporary file when the stop comes.
    server.ServeStall("/endless", std::string(100000, 'e'), 50000, 20s);
    std::stop_source stop;
    web.SetStopToken(stop.get_token());
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(web.DownloadUrl(server.Url("/endless"), target), WEB_ERR_REQUEST);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1300ms);
    stopper.join();
    ExpectOnly({});
}

TEST_F(DownloadUrlTest, TakesTheServersLastModifiedAsModificationTime)
{
    server.ServeWithLastModified("/feed.xml", "<rss>1</rss>", FirstVersionTime);
    ASSERT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(ModificationTime(target), FirstVersionTime);
    // Without Last-Modified the file is simply new.
    server.Serve("/plain", "plain");
    const std::string other = folder.File("plain.xml");
    ASSERT_EQ(web.DownloadUrl(server.Url("/plain"), other), WEB_OK);
    EXPECT_GT(ModificationTime(other), SecondVersionTime);
}

// A Last-Modified less than a second before the answer's Date may be shared by a version written
// later in that second: sent back as If-Modified-Since it would hide that version for good.
TEST_F(DownloadUrlTest, AWeakLastModifiedDoesNotHideAVersionOfTheSameSecond)
{
    struct Version {
        std::string body;
        std::optional<std::time_t> date; // none: no Date header
    };
    auto current = std::make_shared<Version>();
    server.Handle(
        "/episode.mp3", [current](const httplib::Request& request, httplib::Response& response) {
            response.set_header("Last-Modified", TestServer::FormatHttpDate(FirstVersionTime));
            if (current->date)
                response.set_header("Date", TestServer::FormatHttpDate(*current->date));
            const auto since
                = TestServer::ParseHttpDate(request.get_header_value("If-Modified-Since"));
            if (request.has_header("If-Modified-Since") && since >= FirstVersionTime) {
                response.status = 304;
                return;
            }
            response.set_content(current->body, "audio/mpeg");
        });
    struct Case {
        std::optional<std::time_t> date;
        std::time_t fileTime; // the file's modification time afterwards
    };
    const Case cases[] = {
        {FirstVersionTime, FirstVersionTime - 1},
        {FirstVersionTime - 3, FirstVersionTime - 1}, // a server clock behind
        {FirstVersionTime + 1, FirstVersionTime},
        {std::nullopt, FirstVersionTime},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileTime - FirstVersionTime);
        ::unlink(target.c_str());
        *current = {"first", c.date};
        ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
        EXPECT_EQ(ModificationTime(target), c.fileTime);
        // Replaced within that second; the next answers come later.
        *current = {"second", FirstVersionTime + 60};
        ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
        EXPECT_EQ(ReadWholeFile(target), c.fileTime < FirstVersionTime ? "second" : "first");
        ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
        EXPECT_EQ(ModificationTime(target), FirstVersionTime);
        EXPECT_TRUE(web.LastWasNotModified());
    }
}

TEST_F(DownloadUrlTest, AnUnchangedBodyIsNotDownloadedAgain)
{
    server.ServeWithLastModified("/feed.xml", "<rss>1</rss>", FirstVersionTime);
    ASSERT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK);
    EXPECT_EQ(IfModifiedSinceOfRequest("/feed.xml", 0), "");

    // The server now would send other bytes, but says its resource did not change.
    server.ServeWithLastModified("/feed.xml", "<rss>other</rss>", FirstVersionTime);
    EXPECT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(
        IfModifiedSinceOfRequest("/feed.xml", 1), TestServer::FormatHttpDate(FirstVersionTime));
    EXPECT_EQ(ReadWholeFile(target), "<rss>1</rss>");
    EXPECT_EQ(ModificationTime(target), FirstVersionTime);
    EXPECT_TRUE(web.LastWasNotModified());
    ExpectOnly({"episode.mp3"});

    // Changed on the server: downloaded anew, with the new time.
    server.ServeWithLastModified("/feed.xml", "<rss>2</rss>", SecondVersionTime);
    EXPECT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK);
    EXPECT_EQ(ReadWholeFile(target), "<rss>2</rss>");
    EXPECT_EQ(ModificationTime(target), SecondVersionTime);
    EXPECT_FALSE(web.LastWasNotModified());
}

// A server that ignores If-Modified-Since: its 200 is the new document, also when its
// Last-Modified is not newer than the copy (a constant date over changed content).
TEST_F(DownloadUrlTest, ServersIgnoringTheConditionStillReplaceTheFile)
{
    folder.Write("episode.mp3", "old contents");
    SetModificationTime(target, SecondVersionTime);
    server.Handle("/stubborn", [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Last-Modified", TestServer::FormatHttpDate(FirstVersionTime));
        response.set_content("version 2", "audio/mpeg");
    });
    EXPECT_EQ(web.DownloadUrl(server.Url("/stubborn"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(
        IfModifiedSinceOfRequest("/stubborn", 0), TestServer::FormatHttpDate(SecondVersionTime));
    EXPECT_EQ(ReadWholeFile(target), "version 2");
    EXPECT_FALSE(web.LastWasNotModified());
    SetModificationTime(target, SecondVersionTime);

    server.Serve("/no-dates", "fresh bytes");
    EXPECT_EQ(web.DownloadUrl(server.Url("/no-dates"), target), WEB_OK);
    EXPECT_EQ(
        IfModifiedSinceOfRequest("/no-dates", 0), TestServer::FormatHttpDate(SecondVersionTime));
    EXPECT_EQ(ReadWholeFile(target), "fresh bytes");
    ExpectOnly({"episode.mp3"});
}

TEST_F(DownloadUrlTest, AnEmptyFileIsNoReasonForACondition)
{
    folder.Write("episode.mp3", "");
    server.ServeWithLastModified("/feed.xml", "<rss/>", FirstVersionTime);
    ASSERT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK);
    EXPECT_EQ(IfModifiedSinceOfRequest("/feed.xml", 0), "");
    EXPECT_EQ(ReadWholeFile(target), "<rss/>");
}

// The 304 of a server that was not asked conditionally (no file yet) is a failure.
TEST_F(DownloadUrlTest, NotModifiedWithoutAFileIsAStatus)
{
    server.Serve("/cached", "", "text/plain", 304);
    EXPECT_EQ(web.DownloadUrl(server.Url("/cached"), target), 304);
    ExpectOnly({});
}

TEST_F(DownloadUrlTest, NewFilesGetTheUsualModeAndReplacedFilesKeepTheirs)
{
    server.Serve("/data", "data");
    ASSERT_EQ(web.DownloadUrl(server.Url("/data"), target), WEB_OK);
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat status { };
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);

    ::chmod(target.c_str(), 0640);
    SetModificationTime(target, FirstVersionTime);
    server.Serve("/data", "newer data");
    ASSERT_EQ(web.DownloadUrl(server.Url("/data"), target), WEB_OK);
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadWholeFile(target), "newer data");
}

TEST_F(DownloadUrlTest, ALinkAtTheTargetStaysALink)
{
    const std::string real = folder.Write("real.mp3", "old");
    SetModificationTime(real, FirstVersionTime);
    ASSERT_EQ(::symlink("real.mp3", target.c_str()), 0);
    server.Serve("/data", "new");
    ASSERT_EQ(web.DownloadUrl(server.Url("/data"), target), WEB_OK) << web.LastError();
    struct stat status { };
    ASSERT_EQ(::lstat(target.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(ReadWholeFile(real), "new");
    ExpectOnly({"episode.mp3", "real.mp3"});
}

TEST_F(DownloadUrlTest, UnusableTargetsFailBeforeAnyRequest)
{
    server.Serve("/data", "data");
    EXPECT_EQ(
        web.DownloadUrl(server.Url("/data"), folder.File("no/such/folder/file")), WEB_ERR_REQUEST);
    EXPECT_NE(web.LastError().find("no/such/folder"), std::string::npos) << web.LastError();
    EXPECT_EQ(web.DownloadUrl(server.Url("/data"), folder.Path()), WEB_ERR_REQUEST);
    EXPECT_EQ(web.DownloadUrl(server.Url("/data"), ""), WEB_ERR_REQUEST);
    EXPECT_EQ(server.Hits("/data"), 0);
}

} // namespace
