// corvane-cli update and repack, run as a separate process against the loopback server.
#include "CliTestSupport.h"

#include "support/ScopedEnv.h"

class UpdateCliTest : public UpdateCliFixture { };

TEST_F(UpdateCliTest, UpdateExitCodesAndFinalTextLast)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}, {"Bad", server.Url("/bad.rss")}});

    EXPECT_EQ(Cli({"update", "--output", Output()}), 3);
    const std::string size = std::to_string(ReadWholeFile(Output()).size());
    EXPECT_EQ(LastLine(Stderr()), UpdateFinalText(std::stoull(size), true));
    EXPECT_NE(Stderr().find(UpdateFailureText(server.Url("/bad.rss"))), std::string::npos);
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

TEST_F(UpdateCliTest, CtrlCStopsAtOnceAndKeepsThePreviousPackage)
{
    temp.Write("out/corvane.mrf", "previous package");
    server.Serve("/hang.rss", Rss("Hang", {}));
    server.SetDelay("/hang.rss", std::chrono::seconds(30));
    Subscribe({{"Hang", server.Url("/hang.rss")}});

    CliProcess process({"update", "--output", Output()}, temp.File("stderr"));
    ASSERT_GT(process.Pid(), 0);
    for (int i = 0; i < 1000 && server.Hits("/hang.rss") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.Hits("/hang.rss"), 1);
    kill(process.Pid(), SIGINT);
    EXPECT_EQ(process.Wait(), 130);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    EXPECT_EQ(Stderr().find("Finished."), std::string::npos);
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
