#include "UpdateTestSupport.h"

#include "net/WebAccess.h"
#include "platform/AtomicFile.h"
#include "update/CacheNames.h"
#include "update/Package.h"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

// The loopback port appears in record names (UTF-16LE) and in the feed documents (enclosure
// addresses). Ephemeral ports have five digits, so putting "00000" in their place keeps every
// length and the golden file stays valid whatever port the server got.
std::string WithoutPort(std::string bytes, int port)
{
    const std::string ascii = "127.0.0.1:" + std::to_string(port);
    const std::string zeros = "127.0.0.1:" + std::string(std::to_string(port).size(), '0');
    auto replaceAll = [&bytes](const std::string& from, const std::string& to) {
        for (std::size_t at = bytes.find(from); at != std::string::npos;
             at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
    };
    replaceAll(ascii, zeros);
    replaceAll(Utf8ToUtf16Le(ascii), Utf8ToUtf16Le(zeros));
    return bytes;
}

const char* const channelsFile
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml "
      "version=\"1.1\"><head><title>Golden</title>"
      "</head><body><outline title=\"Alpha\" xmlUrl=\"a\"/></body></opml>\n";

// A document with a DOCTYPE whose internal subset declares an entity, and a default namespace
// on its root beside a prefixed one: both come out of the package, the prefixed one stays.
const char* const rdfFeed = "<?xml version=\"1.0\"?>\n"
                            "<!DOCTYPE rdf:RDF [<!ENTITY copy \"&#169;\"><!ELEMENT x ANY>]>\n"
                            "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
                            "xmlns=\"http://purl.org/rss/1.0/\">\n"
                            "<channel rdf:about=\"b\"><title>Beta &copy;</title></channel>\n"
                            "<item rdf:about=\"b1\"><title>B one</title></item>\n"
                            "</rdf:RDF>\n";

} // namespace

class UpdateJobTest : public UpdateFixture {
protected:
    // Four feeds: a podcast whose enclosures have three types (audio/mpeg twice, another type,
    // "AUDIO/MPEG"), an RSS 1.0 document with a DOCTYPE and a default namespace, a feed that
    // answers 404, and a podcast whose only enclosure answers 404.
    std::vector<std::string> GoldenScenario()
    {
        server.Serve("/a.rss",
            Rss("Alpha",
                {{server.Url("/audio/one.mp3"), "audio/mpeg"},
                    {server.Url("/audio/two.m4a"), "audio/x-m4a"},
                    {server.Url("/audio/three.mp3"), "AUDIO/MPEG"},
                    {server.Url("/audio/four.mp3"), "audio/mpeg"}}),
            "application/rss+xml");
        server.Serve("/audio/one.mp3", TestData("tone-a.mp3"), "audio/mpeg");
        server.Serve("/audio/two.m4a", "m4a bytes", "audio/x-m4a");
        server.Serve("/audio/three.mp3", TestData("tone-b.mp3"), "audio/mpeg");
        server.Serve("/audio/four.mp3", TestData("tone-b.mp3"), "audio/mpeg");
        server.Serve("/b.rdf", rdfFeed, "application/rdf+xml");
        server.Serve("/d.rss", Rss("Delta", {{server.Url("/audio/missing.mp3"), "audio/mpeg"}}),
            "application/rss+xml");
        temp.Write("home/Corvane.Cha", channelsFile);
        return {
            server.Url("/a.rss"), server.Url("/b.rdf"), server.Url("/c.rss"), server.Url("/d.rss")};
    }
};

// The package of a fixed scenario, byte for byte. To regenerate the golden file after an
// intended change of the package bytes, run the test with CORVANE_REGENERATE_GOLDEN=1 and review
// the difference (tests/data/update/README.md).
TEST_F(UpdateJobTest, GoldenPackageOfFixedScenario)
{
    UpdateJobSetup setup = Setup(GoldenScenario());
    setup.syncChannels = 1;
    RecordingListener listener;
    const UpdateJobResult result = Run(setup, listener);

    ASSERT_TRUE(result.finished);
    EXPECT_TRUE(result.packageWritten);
    EXPECT_TRUE(result.anyFailed);
    const std::string package = WithoutPort(ReadWholeFile(Output()), server.Port());
    EXPECT_EQ(result.packageSize, package.size());

    const std::string goldenPath = std::string(CORVANE_TEST_DATA_DIR) + "/update/golden-mp3.mrf";
    if (std::getenv("CORVANE_REGENERATE_GOLDEN")) {
        std::ofstream(goldenPath, std::ios::binary | std::ios::trunc) << package;
        ADD_FAILURE() << "regenerated " << goldenPath << "; review it and run again";
    }
    const std::string golden = ReadWholeFile(goldenPath);
    EXPECT_EQ(package.size(), golden.size());
    EXPECT_TRUE(package == golden) << "the package differs from " << goldenPath;

    // The same facts, readably: record order, types and the removals in the RDF document.
    const Unpacked unpacked = Unpack(Output());
    ASSERT_TRUE(unpacked.ok);
    EXPECT_EQ(unpacked.syncFlag, 1u);
    EXPECT_EQ(unpacked.records,
        (std::vector<std::string> {
            "0 " + server.Url("/a.rss"),
            "1 " + server.Url("/audio/one.mp3"),
            "1 " + server.Url("/audio/four.mp3"),
            "0 " + server.Url("/b.rdf"),
            "0 " + server.Url("/d.rss"),
        }));
    ASSERT_EQ(unpacked.data.size(), 5u);
    EXPECT_EQ(unpacked.data[1], TestData("tone-a.mp3"));
    EXPECT_EQ(unpacked.data[3].find("<!DOCTYPE"), std::string::npos);
    EXPECT_EQ(unpacked.data[3].find("xmlns=\""), std::string::npos);
    EXPECT_NE(unpacked.data[3].find("xmlns:rdf="), std::string::npos);
    // Only audio/mpeg, letter for letter, is fetched.
    EXPECT_EQ(server.Hits("/audio/two.m4a"), 0);
    EXPECT_EQ(server.Hits("/audio/three.mp3"), 0);

    // What the user is shown, in order: the one-at-a-time sequence.
    const std::string a = server.Url("/a.rss"), c = server.Url("/c.rss");
    const std::string d = server.Url("/d.rss"), missing = server.Url("/audio/missing.mp3");
    EXPECT_EQ(listener.Events(),
        (std::vector<std::string> {
            "range 4",
            "status Downloading " + a,
            "status Downloading " + server.Url("/audio/one.mp3"),
            "status Downloading " + server.Url("/audio/four.mp3"),
            "step",
            "status Downloading " + server.Url("/b.rdf"),
            "step",
            "status Downloading " + c,
            "failure " + UpdateFailureText(c),
            "step",
            "status Downloading " + d,
            "status Downloading " + missing,
            "failure " + UpdateFailureText(missing),
            "step",
            "finished failed " + UpdateFinalText(ReadWholeFile(Output()).size(), true),
        }));
}

TEST_F(UpdateJobTest, TextsAndAmrParameters)
{
    EXPECT_EQ(UpdateFinalText(1234, false), "Finished. The file size is 1234 bytes.");
    EXPECT_EQ(UpdateFinalText(8, true),
        "Finished. The file size is 8 bytes. Failed to get one or more feeds, which will not "
        "be updated on your phone.");
    EXPECT_EQ(UpdateFailureText("http://h/f"),
        "Failed to get http://h/f, please check the URL and the Internet connection.");
    EXPECT_EQ(AmrModeFromCompression(7), 0);
    EXPECT_EQ(AmrModeFromCompression(0), 7);
    EXPECT_EQ(AmrModeFromCompression(9), 0);
    EXPECT_EQ(AmrModeFromCompression(-1), 0);
    EXPECT_EQ(VolumeIndexFromVolume(4), 4);
    EXPECT_EQ(VolumeIndexFromVolume(7), 7);
    EXPECT_EQ(VolumeIndexFromVolume(-1), 4);
    EXPECT_EQ(VolumeIndexFromVolume(8), 4);
}

TEST_F(UpdateJobTest, SecondOfThreeFeedsFailsAndSetsRepackableAtTheEnd)
{
    server.Serve("/1.rss", Rss("One", {}));
    server.Serve("/3.rss", Rss("Three", {}));
    server.Serve("/2.rss", "gone", "text/plain", 500);
    UpdateJobSetup setup
        = Setup({server.Url("/1.rss"), server.Url("/2.rss"), server.Url("/3.rss")});
    std::vector<int> repackable;
    setup.setRepackable = [&repackable](int value) {
        repackable.push_back(value);
        return Result<void>();
    };
    std::atomic<bool> running {true};
    setup.updateRunning = &running;

    RecordingListener listener;
    const UpdateJobResult result = Run(setup, listener);

    EXPECT_EQ(Unpack(Output()).records,
        (std::vector<std::string> {"0 " + server.Url("/1.rss"), "0 " + server.Url("/3.rss")}));
    EXPECT_EQ(
        listener.Failures(), (std::vector<std::string> {UpdateFailureText(server.Url("/2.rss"))}));
    const auto events = listener.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "step"), 3);
    EXPECT_EQ(events.back(), "finished failed " + UpdateFinalText(result.packageSize, true));
    EXPECT_EQ(result.packageSize, ReadWholeFile(Output()).size());
    EXPECT_EQ(repackable, (std::vector<int> {0, 1}));
    EXPECT_FALSE(running.load());
    EXPECT_EQ(server.Hits("/2.rss"), 4); // a 5xx may pass: tried again three times
    EXPECT_EQ(listener.Reasons(), (std::vector<std::string> {"HTTP status 500 after 4 attempts"}));
}

// An update that packs what the package already holds leaves that file as it is; one feed that
// changed gives a new file.
TEST_F(UpdateJobTest, AnUnchangedPackageIsKeptAndAChangedOneReplaced)
{
    server.Serve("/1.rss", Rss("One", {}));
    const UpdateJobSetup setup = Setup({server.Url("/1.rss")});
    auto packageFile = [this] {
        struct stat status { };
        EXPECT_EQ(::stat(Output().c_str(), &status), 0);
        return status.st_ino;
    };
    RecordingListener first;
    ASSERT_TRUE(Run(setup, first).packageWritten);
    const ino_t written = packageFile();
    RecordingListener again;
    ASSERT_TRUE(Run(setup, again).packageWritten);
    EXPECT_EQ(packageFile(), written);
    server.Serve("/1.rss", Rss("One, changed", {}));
    RecordingListener changed;
    ASSERT_TRUE(Run(setup, changed).packageWritten);
    EXPECT_NE(packageFile(), written);
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/1.rss")}));
}

// A passing failure that passes is no failure; a 404 is asked once; a 429 is tried again.
TEST_F(UpdateJobTest, RetriesByStatus)
{
    int unavailable = 0;
    server.Handle("/busy.rss", [&](const httplib::Request&, httplib::Response& response) {
        if (unavailable++ < 2) {
            response.status = 503;
            return;
        }
        response.set_content(Rss("Busy", {}), "application/rss+xml");
    });
    int limited = 0;
    server.Handle("/limited.rss", [&](const httplib::Request&, httplib::Response& response) {
        if (limited++ == 0) {
            response.status = 429;
            response.set_header("Retry-After", "0");
            return;
        }
        response.set_content(Rss("Limited", {}), "application/rss+xml");
    });
    RecordingListener listener;
    const UpdateJobResult result = Run(
        Setup({server.Url("/busy.rss"), server.Url("/missing.rss"), server.Url("/limited.rss")}),
        listener);
    EXPECT_EQ(server.Hits("/busy.rss"), 3);
    EXPECT_EQ(server.Hits("/missing.rss"), 1);
    EXPECT_EQ(server.Hits("/limited.rss"), 2);
    EXPECT_EQ(listener.Failures(),
        (std::vector<std::string> {UpdateFailureText(server.Url("/missing.rss"))}));
    EXPECT_EQ(listener.Reasons(), (std::vector<std::string> {"HTTP status 404"}));
    EXPECT_EQ(Unpack(Output()).records,
        (std::vector<std::string> {
            "0 " + server.Url("/busy.rss"), "0 " + server.Url("/limited.rss")}));
    EXPECT_TRUE(result.anyFailed);
}

// Cancel during the pause before a retry ends the job at once.
TEST_F(UpdateJobTest, CancelDuringARetryPauseEndsAtOnce)
{
    setenv("CORVANE_RETRY_PAUSE_MS", "30000", 1);
    server.Serve("/down.rss", "", "text/plain", 503);
    RecordingListener listener;
    CUpdateJob job(Setup({server.Url("/down.rss")}), listener);
    std::string error;
    ASSERT_TRUE(job.Start(error)) << error;
    for (int i = 0; i < 500 && server.Hits("/down.rss") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.Hits("/down.rss"), 1);
    const auto cancelled = std::chrono::steady_clock::now();
    job.Cancel();
    job.Wait();
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
    EXPECT_TRUE(job.Result().cancelled);
    EXPECT_EQ(server.Hits("/down.rss"), 1);
    EXPECT_TRUE(listener.Failures().empty());
}

// An episode whose download breaks off is continued from where it stopped, not fetched again.
TEST_F(UpdateJobTest, AnEpisodeThatBreaksOffContinuesWhereItStopped)
{
    std::string audio(300 * 1024, '\0');
    for (std::size_t i = 0; i < audio.size(); ++i)
        audio[i] = static_cast<char>(i * 7 % 251);
    server.ServeRanges("/episode.mp3", audio, "\"v1\"", -1, 1, 100 * 1024);
    server.Serve("/feed.rss", Rss("Feed", {{server.Url("/episode.mp3"), "audio/mpeg"}}));
    RecordingListener listener;
    const UpdateJobResult result = Run(Setup({server.Url("/feed.rss")}), listener);
    EXPECT_FALSE(result.anyFailed) << ::testing::PrintToString(listener.Events());
    ASSERT_EQ(server.Hits("/episode.mp3"), 2);
    const auto headers = server.RequestHeaders("/episode.mp3");
    EXPECT_EQ(headers[1].count("Range") ? headers[1].find("Range")->second : "", "bytes=102400-");
    const Unpacked unpacked = Unpack(Output());
    ASSERT_EQ(unpacked.records.size(), 2u);
    EXPECT_EQ(ReadWholeFile(CacheFileName(server.Url("/episode.mp3"), CACHE_MP3)), audio);
}

TEST_F(UpdateJobTest, PodcastOffPacksFeedsOnly)
{
    server.Serve("/p.rss", Rss("P", {{server.Url("/e.mp3"), "audio/mpeg"}}));
    server.Serve("/e.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    UpdateJobSetup setup = Setup({server.Url("/p.rss")});
    setup.settings.podcastOn = 0;
    RecordingListener listener;
    const UpdateJobResult result = Run(setup, listener);
    EXPECT_FALSE(result.anyFailed);
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/p.rss")}));
    EXPECT_EQ(server.Hits("/e.mp3"), 0);
    EXPECT_EQ(listener.Events().back(),
        "finished ok " + UpdateFinalText(ReadWholeFile(Output()).size(), false));
}

TEST_F(UpdateJobTest, FirstItemOnlyLooksAtTheFirstItemAlone)
{
    // The first item has no enclosure: no audio at all for this feed.
    server.Serve("/f.rss", Rss("F", {{"", ""}, {server.Url("/e.mp3"), "audio/mpeg"}}));
    // The first item has one: only that one.
    server.Serve("/g.rss",
        Rss("G", {{server.Url("/g1.mp3"), "audio/mpeg"}, {server.Url("/g2.mp3"), "audio/mpeg"}}));
    server.Serve("/e.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    server.Serve("/g1.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    server.Serve("/g2.mp3", TestData("tone-b.mp3"), "audio/mpeg");
    UpdateJobSetup setup = Setup({server.Url("/f.rss"), server.Url("/g.rss")});
    setup.settings.firstItemOnly = 1;
    RecordingListener listener;
    Run(setup, listener);
    EXPECT_EQ(Unpack(Output()).records,
        (std::vector<std::string> {"0 " + server.Url("/f.rss"), "0 " + server.Url("/g.rss"),
            "1 " + server.Url("/g1.mp3")}));
    EXPECT_EQ(server.Hits("/e.mp3") + server.Hits("/g2.mp3"), 0);
}

// Several downloads at once must not change a byte: one connection and many connections give
// the same package and the same texts, also with a feed listed twice, two addresses that share
// a cache file (the later must not overwrite the earlier before it was packed), slow and failing
// answers, and more enclosures than connections.
TEST_F(UpdateJobTest, ManyConnectionsGiveTheBytesOfOneConnection)
{
    std::vector<std::string> feeds;
    for (int f = 0; f < 8; ++f) {
        std::vector<std::pair<std::string, std::string>> items;
        for (int e = 0; e < f % 4; ++e) {
            const std::string path
                = "/audio/" + std::to_string(f) + "-" + std::to_string(e) + ".mp3";
            items.push_back({server.Url(path), "audio/mpeg"});
            server.Serve(path, TestData(e % 2 ? "tone-a.mp3" : "tone-b.mp3") + path, "audio/mpeg");
            if ((f + e) % 3 == 0)
                server.SetDelay(path, std::chrono::milliseconds(60));
        }
        if (f == 5)
            items.push_back({server.Url("/audio/none.mp3"), "audio/mpeg"}); // 404
        // "a.b" and "a-b" map to one cache file; the first answers late, the second at once.
        if (f == 2)
            items.push_back({server.Url("/audio/a.b"), "audio/mpeg"});
        if (f == 6)
            items.push_back({server.Url("/audio/a-b"), "audio/mpeg"});
        const std::string feed = "/feed" + std::to_string(f) + ".rss";
        server.Serve(feed, Rss("Feed " + std::to_string(f), items), "application/rss+xml");
        server.SetDelay(feed, std::chrono::milliseconds(f % 2 ? 40 : 0));
        feeds.push_back(server.Url(feed));
    }
    server.Serve("/audio/a.b", "first audio behind a shared cache name", "audio/mpeg");
    server.SetDelay("/audio/a.b", std::chrono::milliseconds(300));
    server.Serve("/audio/a-b", "second audio behind a shared cache name", "audio/mpeg");
    feeds.insert(feeds.begin() + 4, server.Url("/missing.rss"));
    feeds.push_back(feeds[1]); // listed twice

    std::string packages[2];
    std::vector<std::string> events[2];
    for (int run = 0; run < 2; ++run) {
        UpdateJobSetup setup = Setup(feeds);
        setup.connections = run == 0 ? 1 : 6;
        setup.connectionsPerHost = run == 0 ? 1 : 6;
        setup.conversionThreads = run == 0 ? 1 : 3;
        RecordingListener listener;
        const UpdateJobResult result = Run(setup, listener);
        EXPECT_TRUE(result.packageWritten);
        packages[run] = ReadWholeFile(Output());
        events[run] = listener.Events();
    }
    EXPECT_EQ(packages[0].size(), packages[1].size());
    EXPECT_TRUE(packages[0] == packages[1]) << "the packages differ";
    EXPECT_EQ(events[0], events[1]);

    const Unpacked unpacked = Unpack(Output());
    std::vector<std::string> shared;
    for (std::size_t i = 0; i < unpacked.records.size(); ++i)
        if (unpacked.records[i].find("/audio/a") != std::string::npos)
            shared.push_back(unpacked.data[i]);
    EXPECT_EQ(shared,
        (std::vector<std::string> {
            "first audio behind a shared cache name", "second audio behind a shared cache name"}));
}

TEST_F(UpdateJobTest, CancelKeepsThePreviousPackageAndShowsNothingAfter)
{
    temp.Write("out/corvane.mrf", "previous package");
    server.Serve("/1.rss", Rss("One", {{server.Url("/1.mp3"), "audio/mpeg"}}));
    server.Serve("/1.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    server.Serve("/2.rss", Rss("Two", {}));
    UpdateJobSetup setup = Setup({server.Url("/1.rss"), server.Url("/2.rss")});
    std::vector<int> repackable;
    setup.setRepackable = [&repackable](int value) {
        repackable.push_back(value);
        return Result<void>();
    };
    std::atomic<bool> running {true};
    setup.updateRunning = &running;

    RecordingListener listener;
    CUpdateJob job(setup, listener);
    const std::string second = "Downloading " + server.Url("/2.rss");
    listener.onStatus = [&](const std::string& text) {
        if (text == second)
            job.Cancel(); // from inside the listener, as a nested event loop could
    };
    std::string error;
    ASSERT_TRUE(job.Start(error)) << error;
    job.Wait();

    const UpdateJobResult result = job.Result();
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.finished);
    EXPECT_FALSE(result.packageWritten);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    EXPECT_EQ(listener.Events().back(), "status " + second);
    EXPECT_EQ(repackable, (std::vector<int> {0})); // Re-Pack stays unavailable
    EXPECT_FALSE(running.load());
    // Nothing but the previous package is left beside it.
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(temp.File("out")))
        ++entries;
    EXPECT_EQ(entries, 1);
}

TEST_F(UpdateJobTest, CancelStopsAHangingDownloadAtOnce)
{
    temp.Write("out/corvane.mrf", "previous package");
    server.Serve("/slow.rss", Rss("Slow", {}));
    server.SetDelay("/slow.rss", std::chrono::seconds(30));
    RecordingListener listener;
    CUpdateJob job(Setup({server.Url("/slow.rss")}), listener);
    std::string error;
    ASSERT_TRUE(job.Start(error)) << error;
    for (int i = 0; i < 500 && server.Hits("/slow.rss") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.Hits("/slow.rss"), 1);
    job.Cancel();
    const std::size_t shown = listener.Events().size();
    job.Wait();
    EXPECT_FALSE(job.Running());
    EXPECT_TRUE(job.Result().cancelled);
    EXPECT_EQ(listener.Events().size(), shown);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    EXPECT_FALSE(FileExists(CacheFileName(server.Url("/slow.rss"), CACHE_FEED)));
}

TEST_F(UpdateJobTest, PackageThatCannotBeCreatedIsReportedAndNothingRuns)
{
    UpdateJobSetup setup = Setup({server.Url("/x.rss")});
    setup.outputPath = temp.File("no such folder/corvane.mrf");
    RecordingListener listener;
    CUpdateJob job(setup, listener);
    std::string error;
    EXPECT_FALSE(job.Start(error));
    EXPECT_NE(error.find("no such folder"), std::string::npos) << error;
    EXPECT_FALSE(job.Running());
    EXPECT_TRUE(listener.Events().empty());
    EXPECT_EQ(server.Hits("/x.rss"), 0);
}

// What a killed job leaves: hidden temporaries whose lock nobody holds. The next job removes
// those beside its package (of that package's name only) and in the cache; a temporary that a
// live writer holds locked stays.
TEST_F(UpdateJobTest, TheNextJobRemovesTheTemporariesOfAKilledJob)
{
    server.Serve("/f.rss", Rss("F", {}));
    const std::vector<std::string> stale = {temp.Write("out/.corvane.mrf-Kd93jQ", "half"),
        temp.Write("home/data/.corvane-download-u8TzQ1", "half"),
        temp.Write("home/data/.corvane-amr-0aB9cD", "half")};
    const std::vector<std::string> others = {temp.Write("out/.other.mrf-Kd93jQ", "other"),
        temp.Write("out/corvane.mrf-Kd93jQ", "not hidden")};
    AtomicFile livePackage, liveDownload;
    std::string error;
    ASSERT_TRUE(livePackage.Open(Output(), error)) << error;
    ASSERT_TRUE(
        liveDownload.Open(temp.File("home/data/other.xml"), DOWNLOAD_TEMPORARY_PREFIX, error))
        << error;

    RecordingListener listener;
    EXPECT_TRUE(Run(Setup({server.Url("/f.rss")}), listener).packageWritten);
    for (const std::string& path : stale)
        EXPECT_FALSE(FileExists(path)) << path;
    for (const std::string& path : others)
        EXPECT_TRUE(FileExists(path)) << path;
    EXPECT_TRUE(FileExists(livePackage.TemporaryPath()));
    EXPECT_TRUE(FileExists(liveDownload.TemporaryPath()));
    EXPECT_TRUE(livePackage.Write("live", 4, error) && livePackage.Commit(error)) << error;
    EXPECT_EQ(ReadWholeFile(Output()), "live");
}

// A download that succeeds without a body leaves no cache file when there was none: the
// phone would silently lack the feed, so it counts as failed.
TEST_F(UpdateJobTest, EmptyFirstDownloadIsAFailedFeed)
{
    server.Serve("/empty.rss", "", "application/rss+xml");
    server.Serve("/ok.rss", Rss("Ok", {}));
    RecordingListener listener;
    const UpdateJobResult result
        = Run(Setup({server.Url("/empty.rss"), server.Url("/ok.rss")}), listener);
    EXPECT_TRUE(result.anyFailed);
    EXPECT_TRUE(result.packageWritten);
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/ok.rss")}));
    EXPECT_EQ(listener.Failures(),
        (std::vector<std::string> {UpdateFailureText(server.Url("/empty.rss"))}));
}

// A silent job (the scheduled update) shows no failure but still packs the other feeds.
TEST_F(UpdateJobTest, SilentJobShowsNoFailure)
{
    server.Serve("/ok.rss", Rss("Ok", {}));
    UpdateJobSetup setup = Setup({server.Url("/bad.rss"), server.Url("/ok.rss")});
    setup.reportFailures = false;
    RecordingListener listener;
    const UpdateJobResult result = Run(setup, listener);
    EXPECT_TRUE(listener.Failures().empty());
    EXPECT_TRUE(result.packageWritten);
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/ok.rss")}));
}

// Audio converted to AMR, then Re-Pack after switching the format to MP3: the same feeds from the
// cache, no network, the audio in its new form.
TEST_F(UpdateJobTest, RepackAfterSwitchingToMp3UsesTheCacheOnly)
{
    server.Serve("/p.rss",
        Rss("P", {{server.Url("/e1.mp3"), "audio/mpeg"}, {server.Url("/e2.mp3"), "audio/mpeg"}}));
    server.Serve("/q.rss", Rss("Q", {}));
    server.Serve("/e1.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    server.Serve("/e2.mp3", TestData("tone-b.mp3"), "audio/mpeg");
    const std::vector<std::string> feeds = {server.Url("/p.rss"), server.Url("/q.rss")};

    UpdateJobSetup update = Setup(feeds);
    update.settings.podcastFormat = 1;
    RecordingListener updateListener;
    ASSERT_FALSE(Run(update, updateListener).anyFailed);
    Unpacked unpacked = Unpack(Output());
    ASSERT_EQ(unpacked.records,
        (std::vector<std::string> {"0 " + feeds[0], "2 " + server.Url("/e1.mp3"),
            "2 " + server.Url("/e2.mp3"), "0 " + feeds[1]}));
    EXPECT_EQ(unpacked.data[1].substr(0, 6), "#!AMR\n");
    EXPECT_EQ(unpacked.data[2].substr(0, 6), "#!AMR\n");
    const auto events = updateListener.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "status Converting " + server.Url("/e1.mp3")),
        events.end());
    // The conversions are kept under their own names, beside the MP3s.
    EXPECT_FALSE(FileExists(CacheFileName(server.Url("/e1.mp3"), CACHE_AMR)));
    const std::string mp3 = CacheFileName(server.Url("/e1.mp3"), CACHE_MP3);
    EXPECT_TRUE(FileExists(mp3));
    EXPECT_TRUE(FileExists(KeptAmrPath(mp3, AmrSettingsFrom(update.settings))));

    const int hits = server.Hits("/p.rss") + server.Hits("/e1.mp3") + server.Hits("/e2.mp3");
    UpdateJobSetup repack = Setup(feeds);
    repack.repack = true;
    bool repackableTouched = false;
    repack.setRepackable = [&repackableTouched](int) {
        repackableTouched = true;
        return Result<void>();
    };
    RecordingListener repackListener;
    const UpdateJobResult result = Run(repack, repackListener);
    EXPECT_FALSE(result.anyFailed);
    unpacked = Unpack(Output());
    EXPECT_EQ(unpacked.records,
        (std::vector<std::string> {"0 " + feeds[0], "1 " + server.Url("/e1.mp3"),
            "1 " + server.Url("/e2.mp3"), "0 " + feeds[1]}));
    EXPECT_EQ(unpacked.data[1], TestData("tone-a.mp3"));
    EXPECT_EQ(unpacked.data[2], TestData("tone-b.mp3"));
    EXPECT_EQ(server.Hits("/p.rss") + server.Hits("/e1.mp3") + server.Hits("/e2.mp3"), hits);
    EXPECT_FALSE(repackableTouched);
    EXPECT_EQ(repackListener.Events()[1], "status Packing " + feeds[0]);
}

// Re-Pack names each file missing from the cache. A feed that the previous package holds and the
// cache lost would vanish from the phone for no choice of the user's: that package stays. One
// the previous package lacks too (there is none, here) only costs its failure.
TEST_F(UpdateJobTest, RepackWithFilesMissingFromTheCache)
{
    server.Serve("/p.rss",
        Rss("P", {{server.Url("/e1.mp3"), "audio/mpeg"}, {server.Url("/e2.mp3"), "audio/mpeg"}}));
    server.Serve("/q.rss", Rss("Q", {}));
    server.Serve("/e1.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    server.Serve("/e2.mp3", TestData("tone-b.mp3"), "audio/mpeg");
    const std::vector<std::string> feeds = {server.Url("/q.rss"), server.Url("/p.rss")};
    for (const bool previousPackage : {true, false}) {
        SCOPED_TRACE(previousPackage);
        RecordingListener updateListener;
        ASSERT_TRUE(Run(Setup(feeds), updateListener).packageWritten);
        std::filesystem::remove(CacheFileName(feeds[0], CACHE_FEED));
        std::filesystem::remove(CacheFileName(server.Url("/e2.mp3"), CACHE_MP3));
        if (!previousPackage)
            std::filesystem::remove(Output());
        const std::string before = previousPackage ? ReadWholeFile(Output()) : std::string();

        UpdateJobSetup repack = Setup(feeds);
        repack.repack = true;
        RecordingListener listener;
        const UpdateJobResult result = Run(repack, listener);
        EXPECT_TRUE(result.anyFailed);
        std::vector<std::string> failures
            = {RepackMissingFeedText(feeds[0]), UpdateFailureText(server.Url("/e2.mp3"))};
        ASSERT_EQ(result.failures.size(), failures.size() + (previousPackage ? 1 : 0));
        EXPECT_EQ(result.failures[0].address, feeds[0]);
        EXPECT_EQ(result.failures[0].reason, "not in the download cache; run an update");
        if (previousPackage) {
            failures.push_back(RepackLosesFeedsText(1));
            EXPECT_FALSE(result.packageWritten);
            EXPECT_EQ(ReadWholeFile(Output()), before);
            EXPECT_EQ(listener.Events().back(),
                "finished failed " + UpdateNotWrittenText(Output(), RepackLosesFeedsText(1)));
        } else {
            EXPECT_TRUE(result.packageWritten);
            EXPECT_EQ(Unpack(Output()).records,
                (std::vector<std::string> {"0 " + feeds[1], "1 " + server.Url("/e1.mp3")}));
            EXPECT_EQ(listener.Events().back(),
                "finished failed " + UpdateFinalText(ReadWholeFile(Output()).size(), true));
        }
        EXPECT_EQ(listener.Failures(), failures);
    }
}

// A Cancel once the package is committed (here from the hook that marks the cache repackable,
// which runs after the commit) stops the prune, but the job ends with its new package: written,
// not cancelled, with its final text, and Repackable 1.
TEST_F(UpdateJobTest, ACancelAfterTheCommitStillReportsThePackageAsWritten)
{
    server.Serve("/p.rss", Rss("P", {}));
    std::filesystem::create_directories(std::filesystem::path(Output()).parent_path());
    std::ofstream(Output(), std::ios::binary) << "PREVIOUS PACKAGE";
    UpdateJobSetup setup = Setup({server.Url("/p.rss")});
    setup.settings.prune = 1;
    setup.pruneFeedUrls = setup.feedUrls;
    CUpdateJob* running = nullptr;
    int repackable = -1;
    setup.setRepackable = [&running, &repackable](int value) {
        repackable = value;
        if (value == 1)
            running->Cancel();
        return Result<void>();
    };
    RecordingListener listener;
    CUpdateJob job(std::move(setup), listener);
    running = &job;
    std::string error;
    ASSERT_TRUE(job.Start(error)) << error;
    job.Wait();
    const UpdateJobResult result = job.Result();
    EXPECT_TRUE(result.packageWritten);
    EXPECT_FALSE(result.cancelled);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.finalText, UpdateFinalText(ReadWholeFile(Output()).size(), false));
    EXPECT_EQ(Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/p.rss")}));
    EXPECT_EQ(repackable, 1);
}

// An enclosure that holds no decodable audio is a failed enclosure: never an empty AMR record.
TEST_F(UpdateJobTest, UndecodableEnclosureIsAFailedEnclosure)
{
    server.Serve("/p.rss",
        Rss("P",
            {{server.Url("/text.mp3"), "audio/mpeg"}, {server.Url("/tone.mp3"), "audio/mpeg"}}));
    server.Serve("/text.mp3", std::string(3000, 'x'), "audio/mpeg");
    server.Serve("/tone.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    UpdateJobSetup setup = Setup({server.Url("/p.rss")});
    setup.settings.podcastFormat = 1;
    RecordingListener listener;
    const UpdateJobResult result = Run(setup, listener);
    EXPECT_TRUE(result.anyFailed);
    const Unpacked unpacked = Unpack(Output());
    EXPECT_EQ(unpacked.records,
        (std::vector<std::string> {"0 " + server.Url("/p.rss"), "2 " + server.Url("/tone.mp3")}));
    EXPECT_EQ(listener.Failures(),
        (std::vector<std::string> {UpdateFailureText(server.Url("/text.mp3"))}));
    EXPECT_FALSE(FileExists(CacheFileName(server.Url("/text.mp3"), CACHE_AMR)));
    EXPECT_FALSE(FileExists(KeptAmrPath(
        CacheFileName(server.Url("/text.mp3"), CACHE_MP3), AmrSettingsFrom(setup.settings))));
}

// A package that cannot be written to its end (here: a file size limit, as a full disk would)
// ends the job like a failed feed, with a message naming the package; the previous package
// stays. The end must not claim "Finished." with a size, nor make Re-Pack available: the package
// the phone would get was never written.
TEST_F(UpdateJobTest, PackageWriteErrorEndsTheJobAndKeepsThePreviousPackage)
{
    temp.Write("out/corvane.mrf", "previous package");
    std::vector<std::string> feeds;
    for (int i = 0; i < 8; ++i) {
        const std::string path = "/" + std::to_string(i) + ".rss";
        server.Serve(path, Rss("Feed " + std::to_string(i), {}) + std::string(3000, ' '));
        feeds.push_back(server.Url(path));
    }
    UpdateJobSetup setup = Setup(feeds);
    std::mutex mutex;
    std::vector<int> repackable;
    setup.setRepackable = [&](int value) {
        std::lock_guard lock(mutex);
        repackable.push_back(value);
        return Result<void>();
    };

    // Each cache file stays below the limit; the package grows beyond it.
    RecordingListener listener;
    UpdateJobResult result;
    {
        FileSizeLimit limit(8000);
        ASSERT_TRUE(limit.Active());
        result = Run(setup, listener);
    }

    EXPECT_TRUE(result.finished);
    EXPECT_FALSE(result.packageWritten);
    EXPECT_TRUE(result.anyFailed);
    EXPECT_FALSE(result.packageError.empty());
    const auto failures = listener.Failures();
    ASSERT_FALSE(failures.empty());
    EXPECT_NE(failures.back().find(Output()), std::string::npos);
    const auto events = listener.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(),
        "finished failed The package " + Output() + " was not written: File too large");
    EXPECT_EQ(result.finalText, events.back().substr(std::string("finished failed ").size()));
    EXPECT_EQ(repackable, std::vector<int> {0});
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(temp.File("out")))
        ++entries;
    EXPECT_EQ(entries, 1);
}

// What follows the package's own name in a write error is the reason; a message about something
// else (a cache file that could not be read) is kept whole.
TEST(UpdateNotWrittenTextTest, NamesThePackageAndTheReason)
{
    EXPECT_EQ(UpdateNotWrittenText(
                  "/x/corvane.mrf", "cannot write package /x/corvane.mrf: File too large"),
        "The package /x/corvane.mrf was not written: File too large");
    EXPECT_EQ(UpdateNotWrittenText("/x/corvane.mrf",
                  "cannot pack /d/a.mp3 into /x/corvane.mrf: No space left on device"),
        "The package /x/corvane.mrf was not written: No space left on device");
    EXPECT_EQ(UpdateNotWrittenText("/x/corvane.mrf", "cannot read /d/a.mp3: Input/output error"),
        "The package /x/corvane.mrf was not written: cannot read /d/a.mp3: Input/output error");
}

// Audio that did not change is not moved again: the second update asks conditionally, gets 304
// and packs the cached MP3, so both packages are the same.
TEST_F(UpdateJobTest, UnchangedAudioIsNotDownloadedAgain)
{
    server.Serve("/p.rss", Rss("P", {{server.Url("/e.mp3"), "audio/mpeg"}}));
    server.ServeWithLastModified("/e.mp3", TestData("tone-a.mp3"), 1700000000, "audio/mpeg");
    RecordingListener first;
    ASSERT_FALSE(Run(Setup({server.Url("/p.rss")}), first).anyFailed);
    const std::string package = ReadWholeFile(Output());
    RecordingListener second;
    ASSERT_FALSE(Run(Setup({server.Url("/p.rss")}), second).anyFailed);
    EXPECT_EQ(ReadWholeFile(Output()), package);
    const auto requests = server.Requests("/e.mp3");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].headers.count("If-Modified-Since"), 0u);
    EXPECT_EQ(requests[1].headers.count("If-Modified-Since"), 1u);
}

// The default job fetches at most two documents at once from one host, and does use both.
// Serves each path after 300 ms and counts how many of its requests are answered at once.
class OverlapCounter {
public:
    void Serve(TestServer& server, const std::string& path, std::string body)
    {
        server.Handle(
            path, [this, &server, body](const httplib::Request&, httplib::Response& response) {
                {
                    std::lock_guard lock(mutex);
                    most = std::max(most, ++active);
                }
                server.Sleep(std::chrono::milliseconds(300));
                {
                    std::lock_guard lock(mutex);
                    --active;
                }
                response.set_content(body, "application/octet-stream");
            });
    }
    int Most() const
    {
        std::lock_guard lock(mutex);
        return most;
    }

private:
    mutable std::mutex mutex;
    int active = 0;
    int most = 0;
};

TEST_F(UpdateJobTest, OneHostGetsAtMostItsConnectionLimit)
{
    OverlapCounter counter;
    std::vector<std::string> feeds;
    for (int i = 0; i < DEFAULT_CONNECTIONS; ++i) {
        const std::string path = "/" + std::to_string(i) + ".rss";
        counter.Serve(server, path, Rss("Feed " + std::to_string(i), {}));
        feeds.push_back(server.Url(path));
    }
    RecordingListener listener;
    EXPECT_FALSE(Run(Setup(feeds), listener).anyFailed);
    EXPECT_EQ(counter.Most(), DEFAULT_CONNECTIONS_PER_HOST);
}

TEST_F(UpdateJobTest, OneFeedsEnclosuresDownloadSideBySide)
{
    OverlapCounter counter;
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < 4; ++i) {
        const std::string path = "/episode" + std::to_string(i) + ".mp3";
        counter.Serve(server, path, "audio " + std::to_string(i));
        items.emplace_back(server.Url(path), "audio/mpeg");
    }
    server.Serve("/feed.rss", Rss("Feed", items), "application/rss+xml");
    RecordingListener listener;
    UpdateJobSetup setup = Setup({server.Url("/feed.rss")});
    setup.connections = 3;
    const UpdateJobResult result = Run(setup, listener);
    EXPECT_FALSE(result.anyFailed);
    EXPECT_EQ(counter.Most(), 3);
    std::vector<std::string> expected {"0 " + server.Url("/feed.rss")};
    for (const auto& [url, type] : items)
        expected.push_back("1 " + url);
    EXPECT_EQ(Unpack(Output()).records, expected); // in item order, whatever finished first
}

// "Repackable" 0 is stored while the first download is on its way, and no download puts its
// file into the cache before that store is done: a crash in between must not leave Re-Pack
// available over a changed cache.
TEST_F(UpdateJobTest, TheClearedRepackableIsStoredBeforeTheCacheChanges)
{
    server.Serve("/p.rss", Rss("Old", {}));
    UpdateJobSetup setup = Setup({server.Url("/p.rss")});
    RecordingListener first;
    ASSERT_TRUE(Run(setup, first).packageWritten);
    const std::string cached = CacheFileName(server.Url("/p.rss"), CACHE_FEED);
    const std::string before = ReadWholeFile(cached);

    std::mutex mutex;
    std::condition_variable asked;
    bool requested = false;
    server.Handle("/p.rss", [&](const httplib::Request&, httplib::Response& response) {
        {
            std::lock_guard lock(mutex);
            requested = true;
        }
        asked.notify_all();
        response.set_content(Rss("New", {}), "application/rss+xml");
    });
    bool requestedDuringStore = false;
    std::string cacheAtStore;
    std::vector<int> repackable;
    setup.setRepackable = [&](int value) {
        repackable.push_back(value);
        if (value == 0) {
            std::unique_lock lock(mutex);
            requestedDuringStore
                = asked.wait_for(lock, std::chrono::seconds(10), [&] { return requested; });
            lock.unlock();
            // Time for the answer to arrive, and for a download that did not wait to land.
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            cacheAtStore = ReadWholeFile(cached);
        }
        return Result<void>();
    };
    RecordingListener second;
    ASSERT_TRUE(Run(setup, second).packageWritten);
    EXPECT_TRUE(requestedDuringStore);
    EXPECT_EQ(cacheAtStore, before);
    EXPECT_NE(ReadWholeFile(cached).find("New"), std::string::npos);
    EXPECT_EQ(repackable, (std::vector<int> {0, 1}));
}

// A "Repackable" that the settings file does not take is told, naming the file, instead of
// holding in memory only; the package is written, and no feed counts as failed for it.
TEST_F(UpdateJobTest, ARepackableThatCannotBeStoredIsTold)
{
    server.Serve("/p.rss", Rss("P", {}));
    UpdateJobSetup setup = Setup({server.Url("/p.rss")});
    const std::string message = "cannot write the settings file /c/Corvane.conf: the file or its "
                                "folder cannot be written";
    std::vector<int> tried;
    setup.setRepackable = [&tried, &message](int value) {
        tried.push_back(value);
        return Result<void>::Failure(message);
    };
    RecordingListener listener;
    const UpdateJobResult result = Run(setup, listener);
    EXPECT_TRUE(result.packageWritten);
    EXPECT_FALSE(result.anyFailed);
    EXPECT_EQ(result.finalText, UpdateFinalText(result.packageSize, false));
    EXPECT_EQ(tried, (std::vector<int> {0, 1}));
    EXPECT_EQ(listener.Failures(), (std::vector<std::string> {message, message}));
    EXPECT_EQ(listener.Reasons(),
        (std::vector<std::string>(2, "\"Podcast\"/\"Repackable\" was not stored")));
}
