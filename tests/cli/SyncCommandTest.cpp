// corvane-cli sync and update --sync, run as a separate process, onto a phone's storage laid out
// as gvfs lays out an MTP device, and into folders.
#include "CliTestSupport.h"

#include "../sync/SyncTestSupport.h"

#include <QDir>
#include <QString>

namespace {

const std::string kStorage = "Acme Phone X1 \u2013 Internal shared storage";

class SyncCommandTest : public UpdateCliFixture {
protected:
    void SetUp() override
    {
        UpdateCliFixture::SetUp();
        phoneStorage = runtime + "/gvfs/mtp:host=Acme_Phone_X1_0123ABC/Internal shared storage";
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(phoneStorage)));
        mounts = temp.Write("mounts", "/dev/sda1 / ext4 rw 0 0\n");
        options.environment = {"CORVANE_MOUNTS_FILE=" + mounts, "CORVANE_SENDTO_VOLUMES="};
        feed = synctest::Feed("Morning News", "http://news.example/feed",
            {{"One", "Tue, 05 Mar 2024 10:00:00 GMT", TestData("tone-a.mp3")},
                {"Two", "Wed, 06 Mar 2024 10:00:00 GMT", TestData("tone-b.mp3")}});
    }
    // The package where "Path"/"FeedFile" has it by default.
    void WriteDefaultPackage()
    {
        synctest::WritePackage(temp, temp.File("user/Documents/corvane.mrf"), {feed});
    }
    CliRun Sync(const std::vector<std::string>& arguments) { return RunCli(arguments, options); }

    std::string phoneStorage, mounts;
    CliRunOptions options;
    synctest::Feed feed;
};

TEST_F(SyncCommandTest, SyncsOntoAPhoneStorageByItsLabelAndThenWritesNothing)
{
    WriteDefaultPackage();
    const CliRun synced = Sync({"sync", kStorage});
    EXPECT_EQ(synced.exitCode, 0) << synced.err;
    EXPECT_EQ(
        synced.out.rfind(
            "Synced 2 episodes of 1 feed into " + phoneStorage + "/Podcasts: 4 files written (", 0),
        0u)
        << synced.out;
    EXPECT_EQ(
        synctest::ReadTags(phoneStorage + "/Podcasts/Morning News/2024-03-06 Two.mp3").at("TALB"),
        "Morning News");
    EXPECT_EQ(synctest::PlaylistPaths(ReadWholeFile(phoneStorage + "/Podcasts/All podcasts.m3u8")),
        (std::vector<std::string> {
            "Morning News/2024-03-06 Two.mp3", "Morning News/2024-03-05 One.mp3"}));

    const CliRun again = Sync({"sync", kStorage});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(
        again.out.find(": 0 files written (0.0 MB), 4 unchanged, 0 removed.\n"), std::string::npos)
        << again.out;

    // Into a folder path, under a folder name of one's choice, with the feed's page.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(temp.File("stick"))));
    const CliRun stick = Sync({"sync", "--folder", "Car", "--with-texts", temp.File("stick")});
    EXPECT_EQ(stick.exitCode, 0) << stick.err;
    EXPECT_TRUE(FileExists(temp.File("stick/Car/Morning News/Morning News.html")));
    EXPECT_TRUE(FileExists(temp.File("stick/Car/Morning News.m3u8")));
}

TEST_F(SyncCommandTest, FailuresSayWhyAndEndWithStatusOne)
{
    const CliRun noPackage = Sync({"sync", kStorage});
    EXPECT_EQ(noPackage.exitCode, 1);
    EXPECT_NE(noPackage.err.find("no package to sync at '" + temp.File("user/Documents/corvane.mrf")
                  + "'; run 'corvane-cli update' first"),
        std::string::npos)
        << noPackage.err;

    // A file that is no package says where it breaks, and nothing is written.
    const std::string broken = temp.Write("broken.mrf", "no package");
    const CliRun notAPackage = Sync({"sync", "--package", broken, kStorage});
    EXPECT_EQ(notAPackage.exitCode, 1);
    EXPECT_NE(notAPackage.err.find("Cannot read the package: " + broken), std::string::npos)
        << notAPackage.err;
    EXPECT_FALSE(FileExists(phoneStorage + "/Podcasts"));

    WriteDefaultPackage();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(home + "/SendTo")));
    temp.Write("home/SendTo/mail.desktop", "[Desktop Entry]\nName=Mail It\nExec=mailer %f\n");
    const CliRun program = Sync({"sync", "Mail It"});
    EXPECT_EQ(program.exitCode, 1);
    EXPECT_NE(program.err.find("'Mail It' is a program"), std::string::npos) << program.err;

    const CliRun unknown = Sync({"sync", "Pixel"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("'" + kStorage + "'"), std::string::npos) << unknown.err;

    // Our folder's name taken by a file: nothing is written, the reason is named.
    temp.Write("stick/Podcasts", "a file");
    const CliRun blocked = Sync({"sync", temp.File("stick")});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_NE(blocked.err.find(temp.File("stick/Podcasts")), std::string::npos) << blocked.err;
    EXPECT_EQ(ReadWholeFile(temp.File("stick/Podcasts")), "a file");

    EXPECT_EQ(Sync({"sync"}).exitCode, 2);
    EXPECT_EQ(Sync({"sync", "a", "b"}).exitCode, 2);
    EXPECT_EQ(Sync({"sync", "--bogus", kStorage}).exitCode, 2);
    EXPECT_EQ(Sync({"sync", "--package=", kStorage}).exitCode, 2);
    for (const char* folder : {"a/b", "a:b", "..", "", "trailing."}) {
        const CliRun badFolder = Sync({"sync", "--folder", folder, kStorage});
        EXPECT_EQ(badFolder.exitCode, 1) << folder;
        EXPECT_NE(badFolder.err.find("FAT32"), std::string::npos) << badFolder.err;
    }
}

TEST_F(SyncCommandTest, UpdateSyncsTheEpisodesOfTheWrittenPackage)
{
    server.Serve("/tone.mp3", TestData("tone-a.mp3"));
    server.Serve("/pod.rss", Rss("Pod", {{server.Url("/tone.mp3"), "audio/mpeg"}}));
    Subscribe({{"Pod", server.Url("/pod.rss")}});
    ASSERT_EQ(RunCli({"options", "Podcast/On=1"}, options).exitCode, 0);

    const CliRun updated = Sync({"update", "--output", Output(), "--sync", kStorage});
    EXPECT_EQ(updated.exitCode, 0) << updated.err;
    EXPECT_NE(
        updated.out.find("Synced 1 episode of 1 feed into " + phoneStorage), std::string::npos)
        << updated.out;
    // In the package's format: the AMR conversion, as the Podcast settings have it by default.
    EXPECT_EQ(ReadWholeFile(phoneStorage + "/Podcasts/Pod/Pod 1.amr").rfind("#!AMR\n", 0), 0u);

    // An unknown target is named before anything is fetched.
    const int hits = server.Hits("/pod.rss");
    const CliRun unknown = Sync({"update", "--output", Output(), "--sync", "Pixel"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(server.Hits("/pod.rss"), hits);

    // Without a written package nothing is synced.
    const CliRun failed = Sync(
        {"update", "--feed", server.Url("/gone.rss"), "--output", Output(), "--sync", kStorage});
    EXPECT_EQ(failed.exitCode, 1);
    EXPECT_NE(failed.err.find("not synced"), std::string::npos) << failed.err;
}

} // namespace
