// corvane-cli update and repack, run as a separate process against the loopback server.
#include "CliTestSupport.h"

#include "support/ScopedEnv.h"
#include "update/CacheNames.h"
#include "update/FolderLock.h"
#include "update/LastRun.h"

#include <cstdlib>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

class UpdateCliTest : public UpdateCliFixture { };

TEST_F(UpdateCliTest, UpdateExitCodesAndFinalTextLast)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}, {"Bad", server.Url("/bad.rss")}});

    EXPECT_EQ(Cli({"update", "--output", Output()}), 3);
    const std::string size = std::to_string(ReadWholeFile(Output()).size());
    EXPECT_EQ(LastLine(Stderr()), UpdateFinalText(std::stoull(size), true));
    // The described message, then why on the next line. Not a terminal: no progress line.
    EXPECT_NE(Stderr().find("Error: " + UpdateFailureText(server.Url("/bad.rss"))
                  + "\n  Reason: HTTP status 404\n"),
        std::string::npos)
        << Stderr();
    EXPECT_EQ(Stderr().find('\r'), std::string::npos);
    EXPECT_EQ(
        Unpack(Output()).records, (std::vector<std::string> {"0 " + server.Url("/good.rss")}));

    EXPECT_EQ(Cli({"update", "--marked", "Good", "--output", Output()}), 0);
    EXPECT_EQ(LastLine(Stderr()), UpdateFinalText(ReadWholeFile(Output()).size(), false));
    EXPECT_EQ(Cli({"update", "--feed", server.Url("/good.rss"), "--output", Output()}), 0);

    EXPECT_EQ(Cli({"update", "--marked", "Nothing by this name", "--output", Output()}), 1);
    EXPECT_NE(Stderr().find("Nothing by this name"), std::string::npos);
    EXPECT_EQ(Cli({"update", "--output", temp.File("no folder/p.mrf")}), 1);
    EXPECT_NE(Stderr().find("no folder"), std::string::npos) << Stderr();
    EXPECT_EQ(Cli({"update", "--bogus"}), 2);
    EXPECT_EQ(Cli({"update", "--connections", "0"}), 2);
    EXPECT_NE(Stderr().find("--connections"), std::string::npos);
    EXPECT_EQ(Cli({"update", "--connections", "1", "--output", Output()}), 3);
    EXPECT_EQ(Cli({"update", "--help"}), 0);
}

// A fresh account has no documents folder yet: the first update makes it for the default
// package path. Any other package path in a missing folder is refused, naming the folder.
TEST_F(UpdateCliTest, TheFirstUpdateOfAFreshAccountMakesTheDocumentsFolder)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    const std::string user = temp.File("fresh user");
    ASSERT_EQ(::mkdir(user.c_str(), 0700), 0);
    ScopedEnv userHome("HOME", user);
    ScopedEnv documents("XDG_DOCUMENTS_DIR", std::nullopt);

    EXPECT_EQ(Cli({"update"}), 0) << Stderr();
    EXPECT_EQ(Unpack(user + "/Documents/corvane.mrf").records,
        (std::vector<std::string> {"0 " + server.Url("/good.rss")}));

    const std::string missing = temp.File("missing folder");
    EXPECT_EQ(Cli({"update", "--output", missing + "/corvane.mrf"}), 1);
    EXPECT_NE(Stderr().find("the folder " + missing + " does not exist"), std::string::npos)
        << Stderr();
    EXPECT_FALSE(FileExists(missing));
}

// The package is renamed over its path: one of the program's own files there would be lost.
TEST_F(UpdateCliTest, APackagePathNamingOneOfTheProgramsFilesIsRefused)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    ASSERT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    ASSERT_EQ(RunCli({"options", "Update/Prune=0"}).exitCode, 0); // the settings file stands
    const std::string feed = CacheFileName(server.Url("/good.rss"), CACHE_FEED);
    ASSERT_EQ(::symlink(ChannelsPath().c_str(), temp.File("link.mrf").c_str()), 0);
    ASSERT_EQ(::link(SettingsFilePath().c_str(), temp.File("hard.mrf").c_str()), 0);
    const std::pair<std::string, std::string> cases[] = {
        {ChannelsPath(), "it is the channels file"},
        {temp.File("link.mrf"), "it is the channels file"},
        {home + "/./data/../Corvane.Cha", "it is the channels file"},
        {SettingsFilePath(), "it is the settings file"},
        {temp.File("hard.mrf"), "it is the settings file"},
        {FolderLockPath(), "it is the lock of the program folder"},
        {LastRunPath(), "it is the record of the last update"},
        {feed, "it is a file in the download cache"},
        {home + "/data/new.mrf", "it is a file in the download cache"},
    };
    for (const auto& [path, what] : cases) {
        SCOPED_TRACE(path);
        const bool existed = FileExists(path);
        const std::string before = existed ? ReadWholeFile(path) : std::string();
        EXPECT_EQ(Cli({"update", "--output", path}), 1);
        EXPECT_NE(
            Stderr().find("cannot write the package " + path + ": " + what), std::string::npos)
            << Stderr();
        EXPECT_EQ(FileExists(path), existed);
        if (existed) {
            EXPECT_EQ(ReadWholeFile(path), before);
        }
    }
    EXPECT_EQ(Cli({"update", "--output", home + "/corvane.mrf"}), 0) << Stderr();
}

TEST_F(UpdateCliTest, RepackOnlyAfterACompletedUpdate)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    EXPECT_EQ(Cli({"repack", "--output", Output()}), 1);
    EXPECT_NE(Stderr().find("Repackable"), std::string::npos) << Stderr();
    EXPECT_FALSE(FileExists(Output()));

    EXPECT_EQ(Cli({"update", "--output", Output()}), 0);
    const int hits = server.Hits("/good.rss");
    EXPECT_EQ(Cli({"repack", "--output", temp.File("out/again.mrf")}), 0);
    EXPECT_EQ(server.Hits("/good.rss"), hits);
    EXPECT_EQ(ReadWholeFile(temp.File("out/again.mrf")), ReadWholeFile(Output()));
}

// An offline morning: every feed fails. The phone keeps yesterday's package instead of an empty
// one, and Re-Pack stays possible since the cache changed in nothing.
TEST_F(UpdateCliTest, AnUpdateThatFetchedNothingKeepsThePreviousPackage)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    ASSERT_EQ(Cli({"update", "--output", Output()}), 0);
    const std::string before = ReadWholeFile(Output());

    EXPECT_EQ(Cli({"update", "--feed", server.Url("/gone.rss"), "--output", Output()}), 1);
    EXPECT_EQ(LastLine(Stderr()), UpdateNothingFetchedText());
    EXPECT_NE(Stderr().find("Reason: HTTP status 404"), std::string::npos) << Stderr();
    EXPECT_EQ(ReadWholeFile(Output()), before);
    EXPECT_EQ(Cli({"repack", "--output", temp.File("again.mrf")}), 0) << Stderr();
    EXPECT_EQ(ReadWholeFile(temp.File("again.mrf")), before);
}

// The timer's update on a computer whose network is not up: it tries again until the limit,
// keeps the previous package and says once why; Ctrl-C ends the wait at once.
TEST_F(UpdateCliTest, WaitingForTheNetworkTriesAgainThenGivesUp)
{
    temp.Write("out/corvane.mrf", "previous package");
    const int port = TestServer().Port(); // nothing listens there any more
    Subscribe({{"Off", "http://127.0.0.1:" + std::to_string(port) + "/f.rss"}});
    setenv("CORVANE_NETWORK_RETRY_MS", "50", 1);
    setenv("CORVANE_NETWORK_WAIT_MS", "1000", 1);
    EXPECT_EQ(Cli({"update", "--wait-for-network", "--output", Output()}), 1);
    EXPECT_EQ(LastLine(Stderr()), "No network for 1 second; the previous package was kept.");
    EXPECT_NE(Stderr().find("No network; trying again in 50 milliseconds.\n"), std::string::npos)
        << Stderr();
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");

    setenv("CORVANE_NETWORK_RETRY_MS", "600000", 1);
    setenv("CORVANE_NETWORK_WAIT_MS", "7200000", 1);
    CliProcess process({"update", "--wait-for-network", "--output", Output()}, temp.File("err"));
    for (int i = 0;
         i < 1000 && ReadWholeFile(temp.File("err")).find("trying again") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(process.Pid(), SIGINT);
    EXPECT_EQ(process.Wait(), 130);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    unsetenv("CORVANE_NETWORK_RETRY_MS");
    unsetenv("CORVANE_NETWORK_WAIT_MS");
}

// Ctrl-C, SIGTERM and a hang-up each end an update that waits for a server.
TEST_F(UpdateCliTest, CtrlCStopsAtOnceAndKeepsThePreviousPackage)
{
    temp.Write("out/corvane.mrf", "previous package");
    server.Serve("/hang.rss", Rss("Hang", {}));
    server.SetDelay("/hang.rss", std::chrono::seconds(30));
    Subscribe({{"Hang", server.Url("/hang.rss")}});

    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int hits = server.Hits("/hang.rss");
        CliProcess process({"update", "--output", Output()}, temp.File("stderr"));
        ASSERT_GT(process.Pid(), 0);
        for (int i = 0; i < 1000 && server.Hits("/hang.rss") == hits; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_EQ(server.Hits("/hang.rss"), hits + 1) << signal;
        kill(process.Pid(), signal);
        EXPECT_EQ(process.Wait(), 130) << signal;
        EXPECT_EQ(ReadWholeFile(Output()), "previous package");
        EXPECT_EQ(Stderr().find("Finished."), std::string::npos);
    }
}

// A package that cannot be written fails the command: the last line says so, naming the file
// and the reason, and Re-Pack stays unavailable.
TEST_F(UpdateCliTest, PackageWriteErrorFailsTheUpdateAndLeavesRepackableClear)
{
    temp.Write("out/corvane.mrf", "previous package");
    std::vector<std::pair<std::string, std::string>> feeds;
    for (int i = 0; i < 8; ++i) {
        const std::string path = "/" + std::to_string(i) + ".rss";
        server.Serve(path, Rss("Feed " + std::to_string(i), {}) + std::string(3000, ' '));
        feeds.emplace_back("Feed " + std::to_string(i), server.Url(path));
    }
    Subscribe(feeds);
    CSubscriptions before;
    before.Load();
    before.SetRepackable(1);

    std::unique_ptr<CliProcess> process;
    {
        // The child inherits the limit; this process is back to its own at once.
        FileSizeLimit limit(8000);
        ASSERT_TRUE(limit.Active());
        process = std::make_unique<CliProcess>(
            std::vector<std::string> {"update", "--output", Output()}, temp.File("stderr"));
    }
    ASSERT_GT(process->Pid(), 0);
    EXPECT_EQ(process->Wait(), 1);
    EXPECT_EQ(LastLine(Stderr()), "The package " + Output() + " was not written: File too large")
        << Stderr();
    EXPECT_EQ(Stderr().find("Finished."), std::string::npos);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    EXPECT_EQ(LoadSettings().repackable, 0);
}

namespace {

// The controller side of a pseudo-terminal, whose other side a child opens by its name.
class PseudoTerminal {
public:
    PseudoTerminal()
        : master(posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0)
            name = ptsname(master);
    }
    ~PseudoTerminal()
    {
        if (master >= 0)
            close(master);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& Name() const { return name; }
    // Everything written so far (the child has ended: the reads end when nothing is left).
    std::string Drain() const
    {
        std::string text;
        pollfd ready {master, POLLIN, 0};
        char buffer[4096];
        while (poll(&ready, 1, 200) == 1 && (ready.revents & POLLIN)) {
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    int master;
    std::string name;
};

} // namespace

// On a terminal the running downloads show on one line rewritten in place, which is cleared
// before the next printed line.
TEST_F(UpdateCliTest, ATerminalShowsTheRunningDownloadsOnOneLine)
{
    server.ServeSlow(
        "/audio/episode.mp3", std::string(64 * 1024, 'a'), 4096, std::chrono::milliseconds(80));
    server.Serve("/slow.rss", Rss("Slow", {{server.Url("/audio/episode.mp3"), "audio/mpeg"}}));
    Subscribe({{"Slow", server.Url("/slow.rss")}});
    ASSERT_EQ(Cli({"options", "Podcast/MP3=0"}), 0); // pack the audio as it came
    PseudoTerminal terminal;
    ASSERT_FALSE(terminal.Name().empty());
    CliProcess update({"update", "--output", Output()}, terminal.Name());
    ASSERT_EQ(update.Wait(), 0);
    const std::string shown = terminal.Drain();
    EXPECT_NE(shown.find("\r\033[Kepisode.mp3 "), std::string::npos) << shown;
    EXPECT_NE(shown.find(" of 0.1 MB ("), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\033[K(1/1 feeds)"), std::string::npos) << shown;
    EXPECT_NE(
        shown.find(UpdateFinalText(ReadWholeFile(Output()).size(), false)), std::string::npos);
}

// A FIFO where the settings file or the cache index belongs is refused as the readers refuse
// one, naming it: without a writer, opening it would block list, update and clean for good (the
// time limit turns such a hang into a failure here). Nothing of the cache is removed.
TEST_F(UpdateCliTest, AFifoAtTheSettingsFileOrTheCacheIndexIsRefused)
{
    server.Serve("/f.rss", Rss("F", {}));
    Subscribe({{"F", server.Url("/f.rss")}});
    temp.Write("home/data/kept.xml", "<rss/>");
    const std::string settings = home + "/Corvane.conf";
    const std::string index = home + "/data/.corvane-cache-index";
    struct Case {
        std::string fifo;
        std::vector<std::string> command;
        int exitCode;
    } cases[] = {
        {settings, {"list"}, 1},
        {settings, {"update", "--output", Output()}, 1},
        {settings, {"clean"}, 1},
        {index, {"update", "--output", Output()}, 1},
        {index, {"repack", "--output", Output()}, 1},
        {index, {"clean"}, 1},
    };
    for (const Case& c : cases) {
        ::unlink(settings.c_str());
        ::unlink(index.c_str());
        ASSERT_EQ(::mkfifo(c.fifo.c_str(), 0600), 0);
        if (c.command.front() == "repack") {
            CSubscriptions subscriptions;
            subscriptions.Load();
            ASSERT_TRUE(subscriptions.SetRepackable(1)) << c.fifo;
        }
        CliRunOptions options;
        options.timeLimit = std::chrono::seconds(20);
        const CliRun run = RunCli(c.command, options);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.command.front() << " " << c.fifo << "\n"
                                            << run.err;
        EXPECT_NE(run.err.find(c.fifo), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("not a regular file (a FIFO)"), std::string::npos) << run.err;
        EXPECT_TRUE(FileExists(home + "/data/kept.xml")) << c.command.front();
    }
    EXPECT_FALSE(FileExists(Output()));
}

// A document that is no feed fails its feed with the reason and leaves no record; a feed with a
// fault the reader gets past near its end keeps its record. Re-Pack packs no such document
// either, since none is kept in the cache.
TEST_F(UpdateCliTest, ADocumentThatIsNoFeedFailsItsFeedWithTheReason)
{
    server.Serve("/good.rss", Rss("Good", {}));
    server.Serve("/faulty.rss", "<rss><channel><title>Faulty</title>&nbsp;</channel></rss>");
    server.Serve(
        "/page", "<!DOCTYPE html><html><head><title>Site</title></head></html>", "text/html");
    server.Serve("/text", "maintenance", "text/plain");
    server.Serve("/opml", "<opml version=\"1.0\"><body/></opml>", "text/xml");
    server.Serve("/broken", "<<", "text/xml");
    Subscribe({{"Good", server.Url("/good.rss")}, {"Page", server.Url("/page")},
        {"Faulty", server.Url("/faulty.rss")}, {"Text", server.Url("/text")},
        {"Opml", server.Url("/opml")}, {"Broken", server.Url("/broken")}});
    const std::vector<std::string> kept
        = {"0 " + server.Url("/good.rss"), "0 " + server.Url("/faulty.rss")};

    EXPECT_EQ(Cli({"update", "--output", Output()}), 3);
    EXPECT_EQ(LastLine(Stderr()), UpdateFinalText(ReadWholeFile(Output()).size(), true));
    const std::pair<const char*, const char*> failures[] = {
        {"/page", "the document is an HTML page, not a feed"},
        {"/text", "the document is text, not a feed"},
        {"/opml", "the document is XML with the root element <opml>, neither RSS nor Atom"},
        {"/broken", "the document does not parse as XML (not well-formed"},
    };
    for (const auto& [path, reason] : failures)
        EXPECT_NE(Stderr().find(
                      "Error: " + UpdateFailureText(server.Url(path)) + "\n  Reason: " + reason),
            std::string::npos)
            << path << "\n"
            << Stderr();
    EXPECT_EQ(Unpack(Output()).records, kept);

    EXPECT_EQ(Cli({"repack", "--output", Output()}), 3);
    EXPECT_EQ(Unpack(Output()).records, kept);
}
