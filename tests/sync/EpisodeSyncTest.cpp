// Syncs of a package into a folder: names, tags read back with mutagen, playlists, the second
// sync that writes nothing, removals of only our own files, a phone that refuses renames, a
// full card (a small tmpfs), and a stop between files.
#include "SyncTestSupport.h"

#include "sync/EpisodeSync.h"
#include "sync/SyncManifest.h"

#include "support/TestHome.h"

#include <QDir>
#include <QDirIterator>

#include <cerrno>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;
using namespace synctest;

namespace {

std::string TestAudio(const std::string& name)
{
    return ReadWholeFile(std::string(CORVANE_TEST_DATA_DIR) + "/update/" + name);
}

// Every file below folder as "relative path size", sorted.
std::vector<std::string> Listing(const std::string& folder)
{
    std::vector<std::string> files;
    QDirIterator it(QString::fromStdString(folder), QDir::Files | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        files.push_back(
            QDir(QString::fromStdString(folder)).relativeFilePath(info.filePath()).toStdString()
            + " " + std::to_string(info.size()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct timespec ModifiedAt(const std::string& path)
{
    struct stat status { };
    ::stat(path.c_str(), &status);
    return status.st_mtim;
}

class EpisodeSyncTest : public TestHome {
protected:
    void SetUp() override
    {
        TestHome::SetUp();
        ::mkdir(temp.File("device").c_str(), 0755);
        news.title = "Morning News";
        news.url = "http://news.example/feed";
        news.author = "desk@news.example (Ann Editor)";
        news.episodes = {{"First: take 1", "Tue, 05 Mar 2024 10:00:00 GMT", TestAudio("tone-a.mp3"),
                             RECORD_MP3, "<p>Hello <b>world</b></p><script>track()</script>"},
            {"Second?", "Wed, 06 Mar 2024 10:00:00 GMT", TestAudio("tone-b.mp3")}};
        talk.title = "Tech/Talk";
        talk.url = "http://talk.example/rss";
        talk.episodes = {{"Talk", "", "#!AMR\n" + std::string(500, '\x3c'), RECORD_AMR}};
    }

    SyncResult Sync(const std::vector<Feed>& feeds, SyncSetup setup = SyncSetup())
    {
        WritePackage(temp, Package(), feeds);
        setup.packagePath = Package();
        setup.targetFolder = QString::fromStdString(Device());
        return SyncEpisodes(setup);
    }
    std::string Package() const { return temp.File("corvane.mrf"); }
    std::string Device() const { return temp.File("device"); }
    std::string Synced(const std::string& path) const { return Device() + "/Podcasts/" + path; }

    Feed news, talk;
};

TEST_F(EpisodeSyncTest, WritesNamedTaggedEpisodesAndPlaylists)
{
    const SyncResult result = Sync({news, talk});
    ASSERT_TRUE(result.complete) << result.error.toStdString();
    EXPECT_EQ(result.episodes, 3u);
    EXPECT_EQ(result.feeds, 2u);
    EXPECT_EQ(result.written, 6u); // three episodes, three playlists
    const std::string first = "Morning News/2024-03-05 First_ take 1.mp3";
    const std::string second = "Morning News/2024-03-06 Second_.mp3";
    const std::string amr = "Tech_Talk/Talk.amr";

    const std::map<std::string, std::string> tags = ReadTags(Synced(first));
    EXPECT_EQ(tags.at("version"), "2.3");
    EXPECT_EQ(tags.at("TIT2"), "First: take 1");
    EXPECT_EQ(tags.at("TALB"), "Morning News");
    EXPECT_EQ(tags.at("TPE1"), "Ann Editor");
    EXPECT_EQ(tags.at("TDRC"), "2024-03-05");
    EXPECT_EQ(tags.at("TRCK"), "1");
    EXPECT_EQ(tags.at("TCON"), "Podcast");
    EXPECT_EQ(tags.at("COMM"), "Hello world");
    EXPECT_EQ(ReadTags(Synced(second)).at("TRCK"), "2");
    // The package keeps the audio as fetched; the AMR goes as it is.
    EXPECT_TRUE(ReadTags(temp.File("source2")).empty());
    EXPECT_NE(ReadWholeFile(Synced(first)).find(TestAudio("tone-a.mp3").substr(1000, 2000)),
        std::string::npos);
    EXPECT_EQ(ReadWholeFile(Synced(amr)), talk.episodes[0].audio);

    const std::string feedList = ReadWholeFile(Synced("Morning News.m3u8"));
    EXPECT_EQ(feedList.rfind("#EXTM3U\n", 0), 0u);
    EXPECT_EQ(PlaylistPaths(feedList), (std::vector<std::string> {second, first}));
    EXPECT_EQ(PlaylistPaths(ReadWholeFile(Synced("All podcasts.m3u8"))),
        (std::vector<std::string> {second, first, amr}));
    for (const std::string& path : PlaylistPaths(ReadWholeFile(Synced("All podcasts.m3u8"))))
        EXPECT_TRUE(FileExists(Synced(path))) << path;

    // Nothing changed: nothing is written, not even the manifest.
    const auto before = ModifiedAt(Synced(first));
    const auto manifestBefore = ModifiedAt(Synced(SYNC_MANIFEST_NAME));
    const std::vector<std::string> listing = Listing(Device());
    const SyncResult again = Sync({news, talk});
    ASSERT_TRUE(again.complete) << again.error.toStdString();
    EXPECT_EQ(again.written, 0u);
    EXPECT_EQ(again.unchanged, 6u);
    EXPECT_EQ(Listing(Device()), listing);
    EXPECT_EQ(ModifiedAt(Synced(first)).tv_nsec, before.tv_nsec);
    EXPECT_EQ(ModifiedAt(Synced(SYNC_MANIFEST_NAME)).tv_nsec, manifestBefore.tv_nsec);

    // A changed description is a changed tag: that file alone is written again.
    news.episodes[1].description = "Now with notes";
    const SyncResult retagged = Sync({news, talk});
    EXPECT_EQ(retagged.written, 1u);
    EXPECT_EQ(ReadTags(Synced(second)).at("COMM"), "Now with notes");
}

TEST_F(EpisodeSyncTest, RemovesOnlyItsOwnFilesThatTheUpdateDropped)
{
    ASSERT_TRUE(Sync({news, talk}).complete);
    temp.Write("device/Podcasts/Morning News/my notes.txt", "mine");
    temp.Write("device/Podcasts/Tech_Talk/keep.mp3", "mine too");
    temp.Write("device/Music.mp3", "not ours");
    const std::string second = Synced("Morning News/2024-03-06 Second_.mp3");
    const std::string secondBytes = ReadWholeFile(second);

    news.episodes.erase(news.episodes.begin());
    const SyncResult dropped = Sync({news, talk});
    ASSERT_TRUE(dropped.complete) << dropped.error.toStdString();
    EXPECT_EQ(dropped.removed, 1u);
    EXPECT_FALSE(FileExists(Synced("Morning News/2024-03-05 First_ take 1.mp3")));
    EXPECT_EQ(ReadWholeFile(second).size(), secondBytes.size() - 0); // still there, retagged
    EXPECT_EQ(ReadTags(second).at("TRCK"), "1");

    // The whole feed goes: its episode and playlist go, the folder stays for the user's file.
    // A file of ours that the user replaced (its size changed) is no longer ours: it stays.
    temp.Write("device/Podcasts/Morning News/2024-03-06 Second_.mp3", "edited by hand");
    const SyncResult gone = Sync({talk});
    ASSERT_TRUE(gone.complete) << gone.error.toStdString();
    EXPECT_EQ(ReadWholeFile(second), "edited by hand");
    EXPECT_FALSE(FileExists(Synced("Morning News.m3u8")));
    EXPECT_EQ(ReadWholeFile(Synced("Morning News/my notes.txt")), "mine");
    EXPECT_EQ(ReadWholeFile(Synced("Tech_Talk/keep.mp3")), "mine too");
    EXPECT_EQ(ReadWholeFile(temp.File("device/Music.mp3")), "not ours");
    EXPECT_TRUE(FileExists(Synced("Tech_Talk/Talk.amr")));

    // A feed folder that held only our files goes with them.
    ::unlink(Synced("Tech_Talk/keep.mp3").c_str());
    ASSERT_TRUE(Sync({}).complete);
    EXPECT_FALSE(QDir(QString::fromStdString(Synced("Tech_Talk"))).exists());
    EXPECT_FALSE(FileExists(Synced("All podcasts.m3u8")));
}

TEST_F(EpisodeSyncTest, NamesThatCollideAfterMakingThemSafeStayApart)
{
    const std::string day = "Tue, 05 Mar 2024 10:00:00 GMT";
    const std::string audio = TestAudio("tone-b.mp3");
    Feed same {"Same", "http://a.example/rss",
        {{"A/B", day, audio}, {"A:B", day, audio}, {"a_b", day, audio}}};
    Feed twin {"SAME", "http://b.example/rss", {{"Other", "", audio}}};
    temp.Write("device/Podcasts/Same/2024-03-05 a_b.MP3", "foreign");

    const SyncResult result = Sync({same, twin});
    ASSERT_TRUE(result.complete) << result.error.toStdString();
    for (const char* name : {"Same/2024-03-05 A_B (2).mp3", "Same/2024-03-05 A_B (3).mp3",
             "Same/2024-03-05 a_b (4).mp3", "SAME (2)/Other.mp3", "Same.m3u8", "SAME (2).m3u8"})
        EXPECT_TRUE(FileExists(Synced(name))) << name;
    EXPECT_EQ(ReadWholeFile(Synced("Same/2024-03-05 a_b.MP3")), "foreign");
    EXPECT_EQ(ReadTags(Synced("Same/2024-03-05 A_B (3).mp3")).at("TIT2"), "A:B");
    // The same package names them the same way again.
    EXPECT_EQ(Sync({same, twin}).written, 0u);
}

TEST_F(EpisodeSyncTest, APhoneThatRefusesRenamesGetsEachFileWrittenWhole)
{
    SyncSetup setup;
    int renames = 0;
    setup.copySteps.rename = [&renames](const char*, const char*) {
        ++renames;
        errno = EOPNOTSUPP;
        return -1;
    };
    const SyncResult result = Sync({news, talk}, setup);
    ASSERT_TRUE(result.complete) << result.error.toStdString();
    EXPECT_EQ(renames, 8); // six files, the manifest before and after them
    const SyncManifest manifest = SyncManifest::Read(Synced(SYNC_MANIFEST_NAME));
    ASSERT_EQ(manifest.entries.size(), 6u);
    for (const auto& [path, entry] : manifest.entries) {
        EXPECT_FALSE(entry.pending) << path;
        EXPECT_EQ(ReadWholeFile(Synced(path)).size(), entry.size) << path;
    }
    EXPECT_EQ(Listing(Device()).size(), 7u); // no temporary left beside them
    EXPECT_EQ(Sync({news, talk}, setup).written, 0u);
}

TEST_F(EpisodeSyncTest, AStopBetweenFilesLeavesWholeFilesAndTheNextSyncWritesTheRest)
{
    std::stop_source stop;
    SyncSetup setup;
    setup.stop = stop.get_token();
    setup.progress = [&stop](const SyncProgress& progress) {
        if (progress.filesDone == 1)
            stop.request_stop();
    };
    const SyncResult stopped = Sync({news, talk}, setup);
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.complete);
    EXPECT_EQ(stopped.written, 2u); // the file under way when asked is finished
    EXPECT_EQ(ReadTags(Synced("Morning News/2024-03-05 First_ take 1.mp3")).at("TRCK"), "1");

    const SyncResult rest = Sync({news, talk});
    ASSERT_TRUE(rest.complete) << rest.error.toStdString();
    EXPECT_EQ(rest.written, 4u);
    EXPECT_EQ(rest.unchanged, 2u);
}

TEST_F(EpisodeSyncTest, PagesListTheFeedsTextsWithoutScriptsOrRemoteImages)
{
    Feed texts("Daily <Texts>", "http://t.example/rss");
    texts.articles = {"Rain & sun"};
    SyncSetup setup;
    setup.withTexts = true;
    const SyncResult result = Sync({news, texts}, setup);
    ASSERT_TRUE(result.complete) << result.error.toStdString();
    const std::string page = ReadWholeFile(Synced("Morning News/Morning News.html"));
    EXPECT_NE(page.find("<h2>First: take 1</h2>\n<p class=\"date\">2024-03-05</p>\n"
                        "<p>Hello world</p>\n<p><a href=\"2024-03-05%20First_%20take%201.mp3\">"),
        std::string::npos)
        << page;
    EXPECT_EQ(page.find("track()"), std::string::npos);
    // A feed of texts alone gets its folder and page, and no playlist.
    const std::string textPage = ReadWholeFile(Synced("Daily _Texts_/Daily _Texts_.html"));
    EXPECT_NE(textPage.find("<h1>Daily &lt;Texts&gt;</h1>"), std::string::npos) << textPage;
    EXPECT_NE(textPage.find("<p>Read Rain &amp; sun</p>"), std::string::npos) << textPage;
    EXPECT_FALSE(FileExists(Synced("Daily _Texts_.m3u8")));
    for (const std::string& html : {page, textPage}) {
        EXPECT_EQ(html.find("<script"), std::string::npos);
        EXPECT_EQ(html.find("<img"), std::string::npos);
        EXPECT_EQ(html.find("http://"), std::string::npos);
    }
}

// Runs work in a child with a tmpfs of size bytes mounted on folder (a mount namespace of its
// own, so nothing outside sees it); the child writes what it found into report. False when the
// system allows no such mount (the test is then skipped).
bool OnSmallTmpfs(
    const std::string& folder, const std::string& size, const std::function<void()>& work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            ::_exit(77);
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            ::_exit(77);
        work();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(EpisodeSyncTest, AFullCardStopsTheSyncWithAClearMessageAndNothingHalfWritten)
{
    Feed big {"Big", "http://big.example/rss", {}};
    for (int i = 0; i < 3; ++i)
        big.episodes.push_back(
            {"Piece " + std::to_string(i), "", std::string(300000, 'a' + i), RECORD_AMR});
    WritePackage(temp, Package(), {big});
    const std::string report = temp.File("report");
    const bool ran = OnSmallTmpfs(Device(), "512k", [&] {
        SyncSetup setup;
        setup.packagePath = Package();
        setup.targetFolder = QString::fromStdString(Device());
        std::string text = SyncEpisodes(setup).error.toStdString() + "\n";
        for (const std::string& line : Listing(Device()))
            text += line + "\n";
        // A device that says it has room and then fills: the file under way goes entirely.
        setup.freeSpace = [](const std::string&) { return std::optional<std::uint64_t>(1 << 30); };
        const SyncResult filled = SyncEpisodes(setup);
        text += "--\n" + filled.error.toStdString() + "\n" + std::to_string(filled.written) + "\n";
        for (const std::string& line : Listing(Device()))
            text += line + "\n";
        temp.Write("report", text);
    });
    if (!ran)
        GTEST_SKIP() << "no tmpfs can be mounted here";
    const std::string text = ReadWholeFile(report);
    EXPECT_EQ(text.rfind("The episodes do not fit into " + Device()
                      + "/Podcasts: they need 1.9 MB, "
                        "and 0.5 MB are free there. Nothing was changed.\n--\n",
                  0),
        0u)
        << text;
    const std::string afterFill = text.substr(text.find("--\n") + 3);
    EXPECT_NE(afterFill.find("No space left on device"), std::string::npos) << afterFill;
    // One whole episode and the manifest, which names it; no partial file, no temporary.
    EXPECT_NE(afterFill.find("\n1\nPodcasts/.corvane-sync "), std::string::npos) << afterFill;
    EXPECT_NE(afterFill.find("Podcasts/Big/Piece 0.amr 300000\n"), std::string::npos) << afterFill;
    EXPECT_NE(afterFill.find("Piece 1.amr: No space left on device\n1\n"), std::string::npos);
    EXPECT_EQ(afterFill.find("Piece 1.amr "), std::string::npos) << afterFill;
    EXPECT_EQ(afterFill.find("Piece 2"), std::string::npos) << afterFill;
}

} // namespace
