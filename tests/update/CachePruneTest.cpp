// Pruning the download cache against the tree and the settings.
#include "UpdateTestSupport.h"

#include "net/WebAccess.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"
#include "update/CachePrune.h"
#include "update/ScheduledUpdate.h"

#include <algorithm>
#include <filesystem>
#include <set>

using namespace corvane;

namespace {

class CachePruneTest : public UpdateFixture {
protected:
    // Two podcasts: A with two episodes, B with one; every answer may be 304 the second time.
    void SetUp() override
    {
        UpdateFixture::SetUp();
        server.Serve("/a.rss",
            Rss("A",
                {{server.Url("/a1.mp3"), "audio/mpeg"}, {server.Url("/a2.mp3"), "audio/mpeg"}}));
        server.Serve("/b.rss", Rss("B", {{server.Url("/b1.mp3"), "audio/mpeg"}}));
        for (const char* path : {"/a1.mp3", "/b1.mp3"})
            server.ServeWithLastModified(path, TestData("tone-a.mp3"), 1700000000, "audio/mpeg");
        server.ServeWithLastModified("/a2.mp3", TestData("tone-b.mp3"), 1700000000, "audio/mpeg");
    }

    std::vector<std::string> Feeds() const { return {server.Url("/a.rss"), server.Url("/b.rss")}; }

    UpdateJobSetup AmrSetup(std::vector<std::string> feeds, bool repack = false) const
    {
        UpdateJobSetup setup = Setup(std::move(feeds));
        setup.repack = repack;
        setup.settings.podcastFormat = 1;
        return setup;
    }

    // Runs the job; it must write the package.
    UpdateJobResult Written(const UpdateJobSetup& setup)
    {
        RecordingListener listener;
        const UpdateJobResult result = Run(setup, listener);
        EXPECT_TRUE(result.packageWritten) << result.packageError;
        return result;
    }

    std::string Data() const { return home + "/data/"; }
    std::string Feed(const std::string& path) const
    {
        return CacheFileName(server.Url(path), CACHE_FEED);
    }
    std::string Mp3(const std::string& path) const
    {
        return CacheFileName(server.Url(path), CACHE_MP3);
    }
    std::string KeptOf(const std::string& path, const CorvaneSettings& settings) const
    {
        return KeptAmrPath(Mp3(path), AmrSettingsFrom(settings));
    }

    // The names in the data folder.
    std::set<std::string> Files() const
    {
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Data()))
            names.insert(entry.path().filename().string());
        return names;
    }
    std::string NameOf(const std::string& path) const { return path.substr(Data().size()); }

    // A feed document of address that an update fetched: the index names its origin.
    std::string WriteFetchedFeed(const std::string& address)
    {
        CCacheIndex index(Data());
        const std::string path = index.ClaimForDownload(address, CACHE_FEED).path;
        std::string error;
        EXPECT_TRUE(index.SaveIfChanged(error)) << error;
        temp.Write(path.substr(temp.Path().size() + 1), "<rss/>");
        return path;
    }

    static std::uint64_t SizeOf(const std::string& path)
    {
        return std::filesystem::file_size(path);
    }
};

// B left the tree; the cache also holds a conversion under the old name, partial downloads,
// files that are no cache files and files of the user's that only look like cache files (the
// index never named them). Exactly B's files, the old conversion and the partial download
// nobody needs go.
TEST_F(CachePruneTest, RemovesExactlyTheUnreferencedFiles)
{
    const UpdateJobSetup update = AmrSetup(Feeds());
    Written(update);
    const std::string oldStyle = CacheFileName(server.Url("/a1.mp3"), CACHE_AMR);
    const std::string partialKept = Data() + PARTIAL_DOWNLOAD_PREFIX + NameOf(Mp3("/a1.mp3"));
    const std::string partialGone = Data() + PARTIAL_DOWNLOAD_PREFIX + NameOf(Mp3("/b1.mp3"));
    for (const std::string& path : {oldStyle, partialKept, partialKept + ".meta", partialGone,
             partialGone + ".meta", Data() + "notes.txt", Data() + "my-list.xml",
             Data() + ".corvane-download-AbC123", Data() + "README", Data() + "notes.xml",
             Data() + "My favourite song.mp3", Data() + "ringtone.amr"})
        temp.Write(path.substr(temp.Path().size() + 1), "x");
    std::filesystem::create_directory(Data() + "folder.mp3");
    std::filesystem::create_symlink(Mp3("/b1.mp3"), Data() + "link.mp3");

    const std::set<std::string> before = Files();
    const std::vector<std::string> gone = {Feed("/b.rss"), Mp3("/b1.mp3"),
        KeptOf("/b1.mp3", update.settings), oldStyle, partialGone, partialGone + ".meta"};
    std::uint64_t bytes = 0;
    for (const std::string& path : gone)
        bytes += SizeOf(path);

    const PruneResult result = PruneCache({server.Url("/a.rss")}, update.settings);
    EXPECT_TRUE(result.errors.empty()) << result.errors.front();
    EXPECT_FALSE(result.stopped);
    std::vector<std::string> expected = gone;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(result.removed, expected);
    EXPECT_EQ(result.files, gone.size());
    EXPECT_EQ(result.bytes, bytes);

    std::set<std::string> left = before;
    for (const std::string& path : gone)
        left.erase(NameOf(path));
    EXPECT_EQ(Files(), left);
    for (const std::string& path : {Feed("/a.rss"), Mp3("/a1.mp3"), Mp3("/a2.mp3"),
             KeptOf("/a1.mp3", update.settings), KeptOf("/a2.mp3", update.settings), partialKept,
             partialKept + ".meta", CCacheIndex::IndexPathIn(Data())})
        EXPECT_TRUE(FileExists(path)) << path;

    // The index forgets what went and keeps the rest.
    const CCacheIndex index(Data());
    EXPECT_EQ(index.OriginOf(NameOf(Feed("/b.rss"))), "");
    EXPECT_EQ(index.OriginOf(NameOf(Mp3("/b1.mp3"))), "");
    EXPECT_EQ(index.OriginOf(NameOf(Feed("/a.rss"))), server.Url("/a.rss"));
    EXPECT_EQ(index.OriginOf(NameOf(Mp3("/a2.mp3"))), server.Url("/a2.mp3"));
    EXPECT_EQ(index.FileNames().size(), 3u);

    // Nothing more to do the second time.
    const PruneResult again = PruneCache({server.Url("/a.rss")}, update.settings);
    EXPECT_EQ(again.files, 0u);
    EXPECT_EQ(PruneSummaryText(again), "Removed 0 files, 0 bytes freed.");
}

// Conversions left by other settings (a job killed before it cleared them, or a switch to MP3
// which converts nothing) and under the old names go; a Re-Pack afterwards packs the package of
// before, byte for byte, and converts nothing.
TEST_F(CachePruneTest, RepackAfterPruningPacksTheSamePackage)
{
    const UpdateJobSetup update = AmrSetup(Feeds());
    Written(update);
    const std::string package = ReadWholeFile(Output());
    const std::string a1 = NameOf(Mp3("/a1.mp3"));
    const std::string leftover = Data() + a1.substr(0, a1.size() - 4) + "~a0123456789abcdef.amr";
    const std::string oldStyle = CacheFileName(server.Url("/a1.mp3"), CACHE_AMR);
    for (const std::string& path : {leftover, oldStyle})
        temp.Write(path.substr(temp.Path().size() + 1), "#!AMR\n");

    PruneResult result = PruneCache(Feeds(), update.settings);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(result.removed, (std::vector<std::string> {oldStyle, leftover}));
    UpdateJobResult repack = Written(AmrSetup(Feeds(), true));
    EXPECT_FALSE(repack.anyFailed);
    EXPECT_EQ(repack.conversions, 0u);
    EXPECT_TRUE(ReadWholeFile(Output()) == package);

    // Louder, then MP3s as they are: the louder conversions stay until pruned.
    UpdateJobSetup louder = AmrSetup(Feeds(), true);
    louder.settings.volume = 6;
    EXPECT_EQ(Written(louder).conversions, 3u);
    UpdateJobSetup asMp3 = AmrSetup(Feeds(), true);
    asMp3.settings.podcastFormat = 0;
    EXPECT_EQ(Written(asMp3).conversions, 0u);
    const std::string mp3Package = ReadWholeFile(Output());
    result = PruneCache(Feeds(), asMp3.settings);
    EXPECT_EQ(result.files, 3u);
    for (const std::string& path : result.removed)
        EXPECT_TRUE(IsKeptAmrName(NameOf(path))) << path;
    repack = Written(asMp3);
    EXPECT_FALSE(repack.anyFailed);
    EXPECT_TRUE(ReadWholeFile(Output()) == mp3Package);
}

// An episode the settings no longer take (here: only the first item) loses its MP3 and its
// conversion; with MP3s kept as they are, every conversion goes; with podcasts off, every MP3.
TEST_F(CachePruneTest, EpisodesAndFormsTheSettingsNoLongerTakeGo)
{
    const UpdateJobSetup update = AmrSetup(Feeds());
    Written(update);

    CorvaneSettings firstOnly = update.settings;
    firstOnly.firstItemOnly = 1;
    const std::vector<std::string> second = {Mp3("/a2.mp3"), KeptOf("/a2.mp3", update.settings)};
    PruneResult result = PruneCache(Feeds(), firstOnly);
    EXPECT_EQ(result.removed, second);
    UpdateJobSetup repack = AmrSetup(Feeds(), true);
    repack.settings = firstOnly;
    const UpdateJobResult repacked = Written(repack);
    EXPECT_FALSE(repacked.anyFailed);
    EXPECT_EQ(repacked.conversions, 0u);
    EXPECT_EQ(Unpack(Output()).records,
        (std::vector<std::string> {"0 " + server.Url("/a.rss"), "2 " + server.Url("/a1.mp3"),
            "0 " + server.Url("/b.rss"), "2 " + server.Url("/b1.mp3")}));

    CorvaneSettings mp3 = firstOnly;
    mp3.podcastFormat = 0;
    result = PruneCache(Feeds(), mp3);
    EXPECT_EQ(result.files, 2u);
    for (const std::string& path : result.removed)
        EXPECT_TRUE(IsKeptAmrName(NameOf(path))) << path;

    CorvaneSettings off = mp3;
    off.podcastOn = 0;
    result = PruneCache(Feeds(), off);
    EXPECT_EQ(result.removed, (std::vector<std::string> {Mp3("/a1.mp3"), Mp3("/b1.mp3")}));
    EXPECT_EQ(Files(),
        (std::set<std::string> {
            NameOf(Feed("/a.rss")), NameOf(Feed("/b.rss")), ".corvane-cache-index"}));
}

TEST_F(CachePruneTest, DryRunRemovesNothing)
{
    const UpdateJobSetup update = AmrSetup(Feeds());
    Written(update);
    const std::set<std::string> before = Files();
    const std::string index = ReadWholeFile(CCacheIndex::IndexPathIn(Data()));
    PruneOptions dryRun;
    dryRun.dryRun = true;
    const PruneResult listed = PruneCache({server.Url("/b.rss")}, update.settings, dryRun);
    EXPECT_EQ(listed.files, 5u); // A's document, two MP3s, two conversions
    EXPECT_EQ(Files(), before);
    EXPECT_EQ(ReadWholeFile(CCacheIndex::IndexPathIn(Data())), index);
    EXPECT_EQ(PruneCache({server.Url("/b.rss")}, update.settings).removed, listed.removed);
}

// A stop that comes before every needed file is known removes nothing.
TEST_F(CachePruneTest, StopBeforeTheSearchEndsRemovesNothing)
{
    Written(AmrSetup(Feeds()));
    const std::set<std::string> before = Files();
    std::stop_source stop;
    stop.request_stop();
    PruneOptions options;
    options.stop = stop.get_token();
    const PruneResult result = PruneCache({}, CorvaneSettings {}, options);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.files, 0u);
    EXPECT_EQ(Files(), before);
}

TEST_F(CachePruneTest, NoCacheNothingToDo)
{
    const PruneResult result = PruneCache(Feeds(), CorvaneSettings {});
    EXPECT_EQ(result.files, 0u);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_FALSE(FileExists(Data()));
}

// A file that cannot be removed is named in an error; the others still go.
TEST_F(CachePruneTest, FileThatCannotBeRemovedIsNamed)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root removes files from a read-only folder";
    Written(AmrSetup(Feeds()));
    ASSERT_EQ(::chmod(Data().c_str(), 0500), 0);
    const PruneResult result = PruneCache({server.Url("/a.rss")}, CorvaneSettings {});
    ::chmod(Data().c_str(), 0700);
    ASSERT_FALSE(result.errors.empty());
    EXPECT_NE(result.errors.front().find(Data()), std::string::npos) << result.errors.front();
    EXPECT_EQ(result.files, 0u);
}

TEST(PruneTextTest, SizesAndCounts)
{
    EXPECT_EQ(ByteCountText(0), "0 bytes");
    EXPECT_EQ(ByteCountText(1), "1 byte");
    EXPECT_EQ(ByteCountText(1023), "1023 bytes");
    EXPECT_EQ(ByteCountText(1536), "1.5 KB");
    EXPECT_EQ(ByteCountText(1048575), "1.0 MB");
    EXPECT_EQ(ByteCountText(356724326), "340.2 MB");
    EXPECT_EQ(ByteCountText(3ULL << 40), "3.0 TB");
    PruneResult result;
    result.files = 12;
    result.bytes = 356724326;
    EXPECT_EQ(PruneSummaryText(result), "Removed 12 files, 340.2 MB freed.");
    EXPECT_EQ(PruneSummaryText(result, true), "Would remove 12 files, 340.2 MB.");
    result.files = 1;
    result.bytes = 10;
    EXPECT_EQ(PruneSummaryText(result), "Removed 1 file, 10 bytes freed.");
}

// "Update"/"Prune" on: a completed full update prunes against the whole tree, so a Marked update
// of A keeps B's files and drops only what nobody needs; with it off, nothing goes.
class PruneAfterUpdateTest : public CachePruneTest {
protected:
    UpdateJobResult RunMarked(int prune, const std::vector<std::string>& marked, bool whole = true)
    {
        settings = AmrSetup({}).settings;
        settings.outputPath = Output();
        settings.prune = prune;
        UpdateHooks hooks;
        hooks.readSettings = [this] { return settings; };
        hooks.collectAllFeeds = [this] { return Feeds(); };
        hooks.treeWhole = [whole] { return whole; };
        hooks.setRepackable = [](int) { return Result<void>(); };
        hooks.channelsPath = ChannelsPath();
        CUpdateController controller(std::move(hooks));
        UpdateRequest request;
        request.feedUrls = marked;
        RecordingListener listener;
        EXPECT_EQ(controller.StartUpdate(request, listener), StartResult::Started);
        controller.WaitManual();
        return controller.ManualResult();
    }
    CorvaneSettings settings;
};

TEST_F(PruneAfterUpdateTest, MarkedUpdateKeepsTheOtherFeedsFiles)
{
    ASSERT_TRUE(RunMarked(0, Feeds()).packageWritten);
    const std::string stale = WriteFetchedFeed(server.Url("/gone.rss"));
    const std::set<std::string> full = Files();

    // Off, or on with a tree that is not the whole channels file: nothing is pruned.
    UpdateJobResult result = RunMarked(0, {server.Url("/a.rss")});
    EXPECT_FALSE(result.pruned);
    EXPECT_EQ(Files(), full);
    result = RunMarked(1, {server.Url("/a.rss")}, false);
    EXPECT_FALSE(result.pruned);
    EXPECT_EQ(Files(), full);

    result = RunMarked(1, {server.Url("/a.rss")});
    ASSERT_TRUE(result.packageWritten);
    EXPECT_TRUE(result.pruned);
    EXPECT_EQ(result.prunedFiles, 1u);
    EXPECT_TRUE(result.pruneErrors.empty());
    std::set<std::string> left = full;
    left.erase(NameOf(stale));
    EXPECT_EQ(Files(), left);
    EXPECT_TRUE(FileExists(Mp3("/b1.mp3")));
    EXPECT_TRUE(FileExists(KeptOf("/b1.mp3", settings)));
}

// Feeds of the job that are not in the tree count as well: what was just fetched stays.
TEST_F(PruneAfterUpdateTest, FeedsOfTheJobOutsideTheTreeStay)
{
    server.Serve("/c.rss", Rss("C", {}));
    const UpdateJobResult result = RunMarked(1, {server.Url("/c.rss")});
    ASSERT_TRUE(result.pruned);
    EXPECT_EQ(result.prunedFiles, 0u);
    EXPECT_TRUE(FileExists(Feed("/c.rss")));
}

// Re-Pack and a job without the whole tree never prune.
TEST_F(PruneAfterUpdateTest, RepackAndJobsWithoutTheTreeDoNotPrune)
{
    ASSERT_TRUE(RunMarked(0, Feeds()).packageWritten);
    const std::string stale = WriteFetchedFeed(server.Url("/gone.rss"));

    UpdateJobSetup repack = AmrSetup(Feeds(), true);
    repack.settings.prune = 1;
    repack.pruneFeedUrls = Feeds();
    EXPECT_FALSE(Written(repack).pruned);
    UpdateJobSetup update = AmrSetup({server.Url("/a.rss")});
    update.settings.prune = 1; // no feed list: the tree is unknown
    EXPECT_FALSE(Written(update).pruned);
    EXPECT_TRUE(FileExists(stale));

    update.pruneFeedUrls = Feeds();
    const UpdateJobResult pruned = Written(update);
    EXPECT_TRUE(pruned.pruned);
    EXPECT_FALSE(FileExists(stale));
}

} // namespace

// A feed's own choices count as the update counts them: B's episode stays while its feed takes
// podcasts, though they are off globally; A keeps only its newest (the first, both undated).
TEST_F(CachePruneTest, EachFeedsChoicesDecideWhatStays)
{
    UpdateJobSetup update = Setup(Feeds());
    Written(update);
    CorvaneSettings global = update.settings;
    global.podcastOn = 0;
    PruneOptions options;
    options.dryRun = true;
    options.feedOptions = [this](const std::string& address) {
        return address == server.Url("/b.rss") ? FeedOptions {true, std::nullopt, {}}
                                               : FeedOptions {true, 1, {}};
    };
    const PruneResult withChoices = PruneCache(Feeds(), global, options);
    EXPECT_EQ(withChoices.removed, (std::vector<std::string> {Mp3("/a2.mp3")}));
    options.feedOptions = nullptr;
    EXPECT_EQ(PruneCache(Feeds(), global, options).files, 3u); // every MP3 without choices
}
