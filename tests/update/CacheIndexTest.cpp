// Addresses that share a plain cache name: each record must hold its own address's bytes, over
// repeated updates and an offline Re-Pack, against a server that honours If-Modified-Since.
#include "UpdateTestSupport.h"

#include "update/CacheIndex.h"
#include "update/CacheNames.h"

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <utime.h>

using namespace corvane;

namespace {

constexpr std::time_t LAST_MODIFIED = 1700000000; // both addresses: a 304 cannot tell them apart

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void SetModificationTime(const std::string& path, std::time_t time)
{
    const utimbuf times {time, time};
    ASSERT_EQ(::utime(path.c_str(), &times), 0);
}

bool SentIfModifiedSince(const httplib::Headers& headers)
{
    return headers.find("If-Modified-Since") != headers.end();
}

} // namespace

class CacheIndexTest : public UpdateFixture {
protected:
    UpdateJobSetup RepackSetup(std::vector<std::string> feeds) const
    {
        UpdateJobSetup setup = Setup(std::move(feeds));
        setup.repack = true;
        return setup;
    }

    // Runs the setup and expects a written package without failures; gives its records.
    Unpacked RunClean(const UpdateJobSetup& setup)
    {
        RecordingListener listener;
        const UpdateJobResult result = Run(setup, listener);
        EXPECT_TRUE(result.packageWritten) << result.packageError;
        EXPECT_FALSE(result.anyFailed);
        return Unpack(Output());
    }

    std::string Data() const { return temp.File("home/data/"); }
};

TEST_F(CacheIndexTest, AddressesDifferingOnlyInPunctuationKeepTheirOwnBytes)
{
    server.ServeWithLastModified("/f.a.xml", Rss("Dotted", {}), LAST_MODIFIED);
    server.ServeWithLastModified("/f-a.xml", Rss("Dashed", {}), LAST_MODIFIED);
    const std::vector<std::string> feeds = {server.Url("/f.a.xml"), server.Url("/f-a.xml")};
    ASSERT_EQ(CacheFileName(feeds[0], CACHE_FEED), CacheFileName(feeds[1], CACHE_FEED));

    const std::vector<std::string> expected = {"0 " + feeds[0], "0 " + feeds[1]};
    for (int update = 0; update < 2; ++update) {
        const Unpacked unpacked = RunClean(Setup(feeds));
        EXPECT_EQ(unpacked.records, expected);
        EXPECT_EQ(unpacked.data[0], Rss("Dotted", {})) << "update " << update;
        EXPECT_EQ(unpacked.data[1], Rss("Dashed", {})) << "update " << update;
    }
    // The second update still asked conditionally, each address about its own file.
    EXPECT_TRUE(SentIfModifiedSince(server.RequestHeaders("/f.a.xml").at(1)));
    EXPECT_TRUE(SentIfModifiedSince(server.RequestHeaders("/f-a.xml").at(1)));

    const int hits = server.Hits("/f.a.xml") + server.Hits("/f-a.xml");
    const Unpacked repacked = RunClean(RepackSetup(feeds));
    EXPECT_EQ(repacked.records, expected);
    EXPECT_EQ(repacked.data[0], Rss("Dotted", {}));
    EXPECT_EQ(repacked.data[1], Rss("Dashed", {}));
    EXPECT_EQ(server.Hits("/f.a.xml") + server.Hits("/f-a.xml"), hits);

    // The first address kept the plain name; the second got a name of its own.
    EXPECT_EQ(ReadWholeFile(CacheFileName(feeds[0], CACHE_FEED)), Rss("Dotted", {}));
    EXPECT_EQ(ReadWholeFile(CacheFileNameVariant(feeds[1], CACHE_FEED, 1)), Rss("Dashed", {}));
}

TEST_F(CacheIndexTest, LongEnclosureAddressesCutToOneNameKeepTheirOwnAudio)
{
    const std::string stem = "/episodes/" + std::string(300, 'x');
    const std::string first = stem + "/first.mp3";
    const std::string second = stem + "/second.mp3";
    server.ServeWithLastModified(first, TestData("tone-a.mp3"), LAST_MODIFIED, "audio/mpeg");
    server.ServeWithLastModified(second, TestData("tone-b.mp3"), LAST_MODIFIED, "audio/mpeg");
    server.ServeWithLastModified("/p.rss",
        Rss("P", {{server.Url(first), "audio/mpeg"}, {server.Url(second), "audio/mpeg"}}),
        LAST_MODIFIED);
    const std::vector<std::string> feeds = {server.Url("/p.rss")};
    const std::string shared = CacheFileName(server.Url(first), CACHE_MP3);
    ASSERT_EQ(shared, CacheFileName(server.Url(second), CACHE_MP3));
    ASSERT_EQ(shared.size(), 250u);

    const std::vector<std::string> expected
        = {"0 " + feeds[0], "1 " + server.Url(first), "1 " + server.Url(second)};
    for (int update = 0; update < 2; ++update) {
        const Unpacked unpacked = RunClean(Setup(feeds));
        EXPECT_EQ(unpacked.records, expected);
        EXPECT_EQ(unpacked.data[1], TestData("tone-a.mp3")) << "update " << update;
        EXPECT_EQ(unpacked.data[2], TestData("tone-b.mp3")) << "update " << update;
    }
    const std::string variant = CacheFileNameVariant(server.Url(second), CACHE_MP3, 1);
    EXPECT_EQ(variant.size(), 250u);
    EXPECT_NE(variant, shared);
    EXPECT_EQ(ReadWholeFile(variant), TestData("tone-b.mp3"));

    const int hits = server.Hits(first) + server.Hits(second) + server.Hits("/p.rss");
    const Unpacked repacked = RunClean(RepackSetup(feeds));
    EXPECT_EQ(repacked.records, expected);
    EXPECT_EQ(repacked.data[1], TestData("tone-a.mp3"));
    EXPECT_EQ(repacked.data[2], TestData("tone-b.mp3"));
    EXPECT_EQ(server.Hits(first) + server.Hits(second) + server.Hits("/p.rss"), hits);
}

// A cache file that no index line accounts for (a cache from before the index) may hold any
// address's bytes: it is fetched anew rather than confirmed by a 304, and Re-Pack never packs it.
TEST_F(CacheIndexTest, FileOfUnknownOriginIsNeitherConfirmedNorRepacked)
{
    server.ServeWithLastModified("/f.a.xml", Rss("Dotted", {}), LAST_MODIFIED);
    const std::vector<std::string> feeds = {server.Url("/f.a.xml")};
    ASSERT_TRUE(CreateDataFolder());
    const std::string path = CacheFileName(feeds[0], CACHE_FEED);
    WriteFile(path, Rss("Someone else", {}));
    SetModificationTime(path, LAST_MODIFIED);

    RecordingListener repackListener;
    const UpdateJobResult repacked = Run(RepackSetup(feeds), repackListener);
    EXPECT_TRUE(repacked.anyFailed);
    EXPECT_EQ(Unpack(Output()).records, std::vector<std::string> {});

    const Unpacked unpacked = RunClean(Setup(feeds));
    ASSERT_EQ(unpacked.data.size(), 1u);
    EXPECT_EQ(unpacked.data[0], Rss("Dotted", {}));
    EXPECT_FALSE(SentIfModifiedSince(server.RequestHeaders("/f.a.xml").at(0)));
}

// A file whose address left the tree keeps its name until the file itself is gone; then the
// name is free again and an address that maps to it takes it over.
TEST_F(CacheIndexTest, NameOfAnotherAddressIsFreeOnceItsFileIsGone)
{
    server.ServeWithLastModified("/f.a.xml", Rss("Dotted", {}), LAST_MODIFIED);
    server.ServeWithLastModified("/f-a.xml", Rss("Dashed", {}), LAST_MODIFIED);
    const std::string dotted = server.Url("/f.a.xml");
    const std::string dashed = server.Url("/f-a.xml");
    RunClean(Setup({dotted}));
    EXPECT_EQ(RunClean(Setup({dashed})).data.at(0), Rss("Dashed", {}));
    EXPECT_EQ(ReadWholeFile(CacheFileName(dotted, CACHE_FEED)), Rss("Dotted", {}));

    std::filesystem::remove(CacheFileName(dotted, CACHE_FEED));
    EXPECT_EQ(RunClean(Setup({dashed})).data.at(0), Rss("Dashed", {}));
    EXPECT_EQ(ReadWholeFile(CacheFileName(dashed, CACHE_FEED)), Rss("Dashed", {}));
    // The dotted address's Re-Pack finds nothing of its own any more.
    RecordingListener listener;
    EXPECT_TRUE(Run(RepackSetup({dotted}), listener).anyFailed);
}

TEST_F(CacheIndexTest, IndexKeepsAddressesWithAnyBytesAndIgnoresWhatItCannotRead)
{
    ASSERT_TRUE(CreateDataFolder());
    const std::string odd = "http://host/a%09b\tc\nd\re%";
    std::string claimed;
    {
        CCacheIndex index(Data());
        claimed = index.ClaimForDownload(odd, CACHE_MP3).path;
        ASSERT_FALSE(claimed.empty());
        WriteFile(claimed, "bytes");
        std::string error;
        ASSERT_TRUE(index.SaveIfChanged(error)) << error;
    }
    {
        const CCacheIndex index(Data());
        EXPECT_EQ(index.Find(odd, CACHE_MP3), claimed);
        EXPECT_EQ(index.OriginOf(claimed.substr(Data().size())), odd);
        EXPECT_EQ(index.Find("http://host/a%09b", CACHE_MP3), "");
    }
    // An index in a form this program does not write: every file is of unknown origin.
    WriteFile(Data() + ".corvane-cache-index", "something else\n");
    EXPECT_EQ(CCacheIndex(Data()).Find(odd, CACHE_MP3), "");
}

// A FIFO at the index would block every update, Re-Pack and clean for good. It is refused: the
// index reads as unreadable and is never written over, an update fetches nothing and removes
// no cached file (all would look of unknown origin), and Re-Pack keeps the previous package.
TEST_F(CacheIndexTest, AFifoAtTheIndexIsRefusedAndNothingOfTheCacheIsLost)
{
    server.Serve("/a.rss", Rss("A", {}));
    const std::string feed = server.Url("/a.rss");
    RunClean(Setup({feed}));
    const std::string cached = CCacheIndex(Data()).Find(feed, CACHE_FEED);
    ASSERT_FALSE(cached.empty());
    const std::string index = Data() + ".corvane-cache-index";
    ASSERT_EQ(::unlink(index.c_str()), 0);
    ASSERT_EQ(::mkfifo(index.c_str(), 0600), 0);
    const std::string expected
        = "cannot read the cache index " + index + ": not a regular file (a FIFO)";
    {
        CCacheIndex unread(Data());
        EXPECT_EQ(unread.ReadError(), expected);
        EXPECT_FALSE(unread.ClaimForDownload(feed, CACHE_FEED).path.empty());
        std::string error;
        EXPECT_FALSE(unread.SaveIfChanged(error));
        EXPECT_NE(error.find(expected), std::string::npos) << error;
    }
    const std::string previous = ReadWholeFile(Output());
    for (const bool repack : {false, true}) {
        UpdateJobSetup setup = Setup({feed});
        setup.repack = repack;
        RecordingListener listener;
        const UpdateJobResult result = Run(setup, listener);
        EXPECT_FALSE(result.packageWritten) << repack;
        ASSERT_FALSE(result.failures.empty()) << repack;
        EXPECT_EQ(result.failures.front().reason, expected) << repack;
        EXPECT_EQ(ReadWholeFile(Output()), previous) << repack;
        EXPECT_TRUE(FileExists(cached)) << repack;
    }
    struct stat status { };
    ASSERT_EQ(::stat(index.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}
