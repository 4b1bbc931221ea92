// CWebAccess::DownloadUrl with resuming on: a broken-off download keeps what arrived in its
// partial file and the next request continues it with Range and If-Range; whatever the server
// answers, the file at the target is whole or untouched.
#include "net/WebAccess.h"

#include "net/NetTestSupport.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

constexpr std::time_t FirstVersionTime = 1000000000; // 2001-09-09
constexpr std::size_t CutAt = 70000;

std::string Episode(std::size_t size, int seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7919 + static_cast<std::size_t>(seed)) >> 3);
    return bytes;
}

unsigned int ModeOf(const std::string& path)
{
    struct stat status { };
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

class ResumeTest : public ::testing::Test {
protected:
    TestServer server;
    TempDir folder;
    CWebAccess web {"Velmora RSS Reader"};
    std::string target = folder.File("episode.mp3");
    std::string partial = PartialDownloadPath(target);
    std::string metadata = PartialMetadataPath(target);
    std::string bytes = Episode(200000, 1);

    ResumeTest() { web.SetResumable(true); }

    std::string Header(const std::string& path, std::size_t index, const std::string& name) const
    {
        const auto requests = server.Requests(path);
        if (index >= requests.size())
            return "<no request>";
        const auto found = requests[index].headers.find(name);
        return found == requests[index].headers.end() ? "" : found->second;
    }
    // The first download of /episode.mp3 breaks off after CutAt bytes.
    void BreakOffFirstDownload(const std::string& etag = "\"v1\"", std::time_t modified = -1)
    {
        server.ServeRanges("/episode.mp3", bytes, etag, modified, 1, CutAt);
        ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_ERR_REQUEST);
        ASSERT_TRUE(web.LastFailureIsTransient()) << web.LastError();
    }
    void ExpectOnly(std::set<std::string> names) const
    {
        EXPECT_EQ(FolderEntries(folder.Path()), names);
    }
};

TEST_F(ResumeTest, TheNamesOfThePartialStandBesideTheTarget)
{
    EXPECT_EQ(PartialDownloadPath("/cache/a/episode.mp3"), "/cache/a/.corvane-partial-episode.mp3");
    EXPECT_EQ(
        PartialMetadataPath("/cache/a/episode.mp3"), "/cache/a/.corvane-partial-episode.mp3.meta");
    EXPECT_EQ(PartialDownloadPath("episode.mp3"), ".corvane-partial-episode.mp3");
}

TEST_F(ResumeTest, ABrokenOffDownloadKeepsItsBytesPrivatelyBesideTheTarget)
{
    BreakOffFirstDownload();
    EXPECT_FALSE(FileExists(target));
    EXPECT_EQ(ReadWholeFile(partial), bytes.substr(0, CutAt));
    EXPECT_EQ(ModeOf(partial), 0600u);
    EXPECT_EQ(ModeOf(metadata), 0600u);
    const std::string recorded = ReadWholeFile(metadata);
    EXPECT_NE(recorded.find(server.Url("/episode.mp3")), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("\"v1\""), std::string::npos) << recorded;
    EXPECT_NE(recorded.find(std::to_string(bytes.size())), std::string::npos) << recorded;
    ExpectOnly({".corvane-partial-episode.mp3", ".corvane-partial-episode.mp3.meta"});
}

TEST_F(ResumeTest, TheNextDownloadContinuesWhereTheLastBrokeOff)
{
    BreakOffFirstDownload();
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    ASSERT_EQ(server.Hits("/episode.mp3"), 2);
    EXPECT_EQ(Header("/episode.mp3", 0, "Range"), "");
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "bytes=" + std::to_string(CutAt) + "-");
    EXPECT_EQ(Header("/episode.mp3", 1, "If-Range"), "\"v1\"");
    EXPECT_EQ(Header("/episode.mp3", 1, "If-Modified-Since"), "");
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, ARetryContinuesWithinTheSameCall)
{
    RetryPolicy policy;
    policy.firstPause = 1ms;
    web.SetRetryPolicy(policy);
    server.ServeRanges("/episode.mp3", bytes, "\"v1\"", -1, 1, CutAt);
    std::uint64_t firstReported = 0, total = 0;
    web.SetProgressCallback([&](std::uint64_t received, std::uint64_t announced) {
        if (received > CutAt && firstReported == 0)
            firstReported = received;
        total = announced;
    });
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(web.LastAttempts(), 2);
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "bytes=" + std::to_string(CutAt) + "-");
    // The resumed part counts on from the bytes already there.
    EXPECT_GT(firstReported, CutAt);
    EXPECT_EQ(total, bytes.size());
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, ALastModifiedServesAsValidatorAndBecomesTheFilesTime)
{
    BreakOffFirstDownload("", FirstVersionTime);
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(Header("/episode.mp3", 1, "If-Range"), TestServer::FormatHttpDate(FirstVersionTime));
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(ModificationTime(target), FirstVersionTime);
}

TEST_F(ResumeTest, AServerIgnoringTheRangeSendsTheWholeFile)
{
    BreakOffFirstDownload();
    server.Serve("/episode.mp3", bytes);
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "bytes=" + std::to_string(CutAt) + "-");
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, AChangedFileIsDownloadedAnew)
{
    BreakOffFirstDownload("\"v1\"");
    const std::string changed = Episode(150000, 2);
    server.ServeRanges("/episode.mp3", changed, "\"v2\"");
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(Header("/episode.mp3", 1, "If-Range"), "\"v1\"");
    EXPECT_TRUE(ReadWholeFile(target) == changed);
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, AnUnsatisfiableRangeStartsOverInTheSameCall)
{
    BreakOffFirstDownload("\"same\"");
    // Same tag, but now shorter than the bytes already there.
    const std::string shorter = Episode(5000, 3);
    server.ServeRanges("/episode.mp3", shorter, "\"same\"");
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(web.LastAttempts(), 1);
    ASSERT_EQ(server.Hits("/episode.mp3"), 3);
    EXPECT_EQ(Header("/episode.mp3", 2, "Range"), "");
    EXPECT_TRUE(ReadWholeFile(target) == shorter);
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, PiecesThatDoNotContinueThePartialStartOver)
{
    BreakOffFirstDownload();
    // A 206 from the wrong place, and a 200 that is only a piece: neither is appended.
    for (const bool asOk : {false, true}) {
        server.Handle("/episode.mp3",
            [this, asOk](const httplib::Request& request, httplib::Response& response) {
                response.set_header("ETag", "\"v1\"");
                if (!request.has_header("Range")) {
                    response.set_content(bytes, "audio/mpeg");
                    return;
                }
                response.status = asOk ? 200 : 206;
                const std::size_t from = asOk ? CutAt : 10;
                response.set_header("Content-Range",
                    "bytes " + std::to_string(from) + "-" + std::to_string(bytes.size() - 1) + "/"
                        + std::to_string(bytes.size()));
                response.set_content(bytes.substr(from), "audio/mpeg");
            });
        ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
        EXPECT_TRUE(ReadWholeFile(target) == bytes) << asOk;
        ExpectOnly({"episode.mp3"});
        ::unlink(target.c_str());
        BreakOffFirstDownload();
    }
}

// A server (or proxy) that answers every Range with 206 and ignores If-Range: only the 206's own
// validators tell whether it continues the version in the partial. Anything but the stored
// validators, unchanged, starts over, so two versions are never spliced.
TEST_F(ResumeTest, A206OfAnotherVersionIsNotAppended)
{
    struct Case {
        const char* name;
        std::string storedEtag; // what the broken-off answer said
        std::time_t storedModified;
        std::string etag; // what the 206 says
        std::time_t modified;
    };
    const Case cases[] = {
        {"newer Last-Modified", "", FirstVersionTime, "", FirstVersionTime + 60},
        {"Last-Modified missing", "", FirstVersionTime, "", -1},
        {"ETag missing", "\"v1\"", -1, "", FirstVersionTime},
        {"ETag changed", "\"v1\"", -1, "\"v2\"", -1},
        {"ETag kept, Last-Modified changed", "\"v1\"", FirstVersionTime, "\"v1\"",
            FirstVersionTime + 60},
    };
    const std::string second = Episode(bytes.size(), 2); // as long as the first: no other sign
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BreakOffFirstDownload(c.storedEtag, c.storedModified);
        server.Handle("/episode.mp3",
            [&c, &second](const httplib::Request& request, httplib::Response& response) {
                if (!c.etag.empty())
                    response.set_header("ETag", c.etag);
                if (c.modified != -1)
                    response.set_header("Last-Modified", TestServer::FormatHttpDate(c.modified));
                std::size_t from = 0;
                if (request.has_header("Range")) {
                    from = CutAt;
                    response.status = 206;
                    response.set_header("Content-Range",
                        "bytes " + std::to_string(from) + "-" + std::to_string(second.size() - 1)
                            + "/" + std::to_string(second.size()));
                }
                response.set_content(second.substr(from), "audio/mpeg");
            });
        ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
        EXPECT_TRUE(ReadWholeFile(target) == second);
        ExpectOnly({"episode.mp3"});
        ::unlink(target.c_str());
    }
}

TEST_F(ResumeTest, APartialOfAnotherAddressIsDiscarded)
{
    BreakOffFirstDownload();
    const std::string other = Episode(90000, 4);
    server.ServeRanges("/other.mp3", other, "\"v1\"");
    ASSERT_EQ(web.DownloadUrl(server.Url("/other.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(Header("/other.mp3", 0, "Range"), "");
    EXPECT_EQ(Header("/other.mp3", 0, "If-Range"), "");
    EXPECT_TRUE(ReadWholeFile(target) == other);
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, TheOldFileStandsWholeUntilTheNewOneIsWhole)
{
    folder.Write("episode.mp3", "old contents");
    SetModificationTime(target, FirstVersionTime);
    ::chmod(target.c_str(), 0640);
    bool sawOtherContents = false;
    web.SetProgressCallback([&](std::uint64_t, std::uint64_t) {
        sawOtherContents = sawOtherContents || ReadWholeFile(target) != "old contents";
    });
    BreakOffFirstDownload();
    EXPECT_EQ(ReadWholeFile(target), "old contents");
    EXPECT_EQ(Header("/episode.mp3", 0, "If-Modified-Since"),
        TestServer::FormatHttpDate(FirstVersionTime));
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_FALSE(sawOtherContents);
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(ModeOf(target), 0640u);
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, ANewFileGetsTheUsualMode)
{
    BreakOffFirstDownload();
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    const mode_t mask = ::umask(022);
    ::umask(mask);
    EXPECT_EQ(ModeOf(target), 0666u & ~mask);
}

TEST_F(ResumeTest, ALinkAtTheTargetStaysALink)
{
    const std::string real = folder.Write("real.mp3", "old");
    SetModificationTime(real, FirstVersionTime);
    ASSERT_EQ(::symlink("real.mp3", target.c_str()), 0);
    server.ServeRanges("/episode.mp3", bytes, "\"v1\"", -1, 1, CutAt);
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_ERR_REQUEST);
    // The partial stands beside the file the link leads to.
    EXPECT_TRUE(FileExists(PartialDownloadPath(real)));
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    struct stat status { };
    ASSERT_EQ(::lstat(target.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_TRUE(ReadWholeFile(real) == bytes);
    ExpectOnly({"episode.mp3", "real.mp3"});
}

TEST_F(ResumeTest, APartialHeldByAnotherWriterIsLeftAlone)
{
    BreakOffFirstDownload();
    const int other = ::open(partial.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    ::close(other);
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "");
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(ReadWholeFile(partial), bytes.substr(0, CutAt));
    EXPECT_TRUE(FileExists(metadata));
}

// The partial's name would be longer than a folder entry may be: the download goes on without.
TEST_F(ResumeTest, ANameTooLongForAPartialDownloadsWithoutResuming)
{
    const std::string longName = folder.File(std::string(250, 'n') + ".mp3");
    server.ServeRanges("/episode.mp3", bytes, "\"v1\"", -1, 1, CutAt);
    EXPECT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), longName), WEB_ERR_REQUEST);
    ExpectOnly({});
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), longName), WEB_OK) << web.LastError();
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "");
    EXPECT_TRUE(ReadWholeFile(longName) == bytes);
}

TEST_F(ResumeTest, WithoutAValidatorNothingIsKept)
{
    server.ServeCutShort("/plain", bytes.substr(0, CutAt), bytes.size());
    EXPECT_EQ(web.DownloadUrl(server.Url("/plain"), target), WEB_ERR_REQUEST);
    ExpectOnly({});
    // A weak tag does not name the bytes exactly.
    server.ServeRanges("/weak", bytes, "W/\"v1\"", -1, 1, CutAt);
    EXPECT_EQ(web.DownloadUrl(server.Url("/weak"), target), WEB_ERR_REQUEST);
    ExpectOnly({});
}

// Files may grow to limit bytes; a write beyond fails (EFBIG) instead of raising SIGXFSZ.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lower = previous;
        lower.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &lower);
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
    }
    ScopedFileSizeLimit(const ScopedFileSizeLimit&) = delete;
    ScopedFileSizeLimit& operator=(const ScopedFileSizeLimit&) = delete;

private:
    rlimit previous {};
    void (*previousHandler)(int) = SIG_DFL;
};

// A full disk is no failure to wait out, and what it left takes space: the partial goes.
TEST_F(ResumeTest, ALocalWriteFailureTakesThePartialAlong)
{
    server.ServeRanges("/episode.mp3", bytes, "\"v1\"");
    {
        ScopedFileSizeLimit limit(CutAt);
        EXPECT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_ERR_REQUEST);
    }
    EXPECT_EQ(web.LastError(), "cannot write the downloaded file: " + std::string(strerror(EFBIG)));
    EXPECT_FALSE(web.LastFailureIsTransient());
    ExpectOnly({});
}

TEST_F(ResumeTest, AFileThatIsGoneTakesItsPartialAlong)
{
    BreakOffFirstDownload();
    server.Serve("/episode.mp3", "gone", "text/html", 404);
    EXPECT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), 404);
    ExpectOnly({});
}

TEST_F(ResumeTest, AnUnavailableServerLeavesThePartialForLater)
{
    BreakOffFirstDownload();
    server.Serve("/episode.mp3", "busy", "text/html", 503);
    EXPECT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), 503);
    EXPECT_EQ(ReadWholeFile(partial), bytes.substr(0, CutAt));
    server.ServeRanges("/episode.mp3", bytes, "\"v1\"");
    ASSERT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << web.LastError();
    EXPECT_EQ(Header("/episode.mp3", 2, "Range"), "bytes=" + std::to_string(CutAt) + "-");
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
}

TEST_F(ResumeTest, AStoppedDownloadKeepsItsPartial)
{
    const std::size_t before = 50000;
    server.Handle(
        "/episode.mp3", [this, before](const httplib::Request&, httplib::Response& response) {
            response.set_header("ETag", "\"v1\"");
            response.set_content_provider(bytes.size(), "audio/mpeg",
                [this, before](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset < before)
                        return sink.write(bytes.data() + offset, before - offset);
                    server.Sleep(20s);
                    return false;
                });
        });
    std::stop_source stop;
    web.SetStopToken(stop.get_token());
    web.SetProgressCallback([&](std::uint64_t received, std::uint64_t) {
        if (received >= before)
            stop.request_stop();
    });
    EXPECT_EQ(web.DownloadUrl(server.Url("/episode.mp3"), target), WEB_ERR_REQUEST);
    EXPECT_FALSE(FileExists(target));
    EXPECT_EQ(ReadWholeFile(partial), bytes.substr(0, before));

    CWebAccess next("Velmora RSS Reader");
    next.SetResumable(true);
    server.ServeRanges("/episode.mp3", bytes, "\"v1\"");
    ASSERT_EQ(next.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << next.LastError();
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "bytes=" + std::to_string(before) + "-");
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    ExpectOnly({"episode.mp3"});
}

TEST_F(ResumeTest, UnresumableDownloadsLeaveAPartialAlone)
{
    BreakOffFirstDownload();
    CWebAccess plain("Velmora RSS Reader");
    ASSERT_EQ(plain.DownloadUrl(server.Url("/episode.mp3"), target), WEB_OK) << plain.LastError();
    EXPECT_EQ(Header("/episode.mp3", 1, "Range"), "");
    EXPECT_TRUE(ReadWholeFile(target) == bytes);
    EXPECT_EQ(ReadWholeFile(partial), bytes.substr(0, CutAt));
}

TEST_F(ResumeTest, TheUsualRulesStillHold)
{
    // Not modified: the file stays, no partial is left.
    server.ServeWithLastModified("/feed.xml", "<rss>1</rss>", FirstVersionTime);
    ASSERT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK) << web.LastError();
    ASSERT_EQ(web.DownloadUrl(server.Url("/feed.xml"), target), WEB_OK) << web.LastError();
    EXPECT_TRUE(web.LastWasNotModified());
    EXPECT_EQ(ReadWholeFile(target), "<rss>1</rss>");
    ExpectOnly({"episode.mp3"});
    // An empty body changes nothing.
    server.Serve("/empty", "");
    EXPECT_EQ(web.DownloadUrl(server.Url("/empty"), target), WEB_OK);
    EXPECT_EQ(ReadWholeFile(target), "<rss>1</rss>");
    ExpectOnly({"episode.mp3"});
    // A failure changes nothing.
    server.Serve("/missing", "no", "text/html", 404);
    EXPECT_EQ(web.DownloadUrl(server.Url("/missing"), target), 404);
    EXPECT_EQ(ReadWholeFile(target), "<rss>1</rss>");
    ExpectOnly({"episode.mp3"});
}

} // namespace
