// corvane-cli update and repack, run as a separate process against the loopback server.
#include "UpdateTestSupport.h"

#include "subscriptions/Subscriptions.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// A started corvane-cli whose standard error goes to a file.
class CliProcess {
public:
    CliProcess(std::vector<std::string> arguments, const std::string& stderrPath)
    {
        arguments.insert(arguments.begin(), CORVANE_CLI_PATH);
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(
            &actions, STDERR_FILENO, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid, CORVANE_CLI_PATH, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CliProcess()
    {
        if (pid > 0 && !exited) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // The exit code, or -1 after 60 s (then the process is killed) or on a signal.
    int Wait()
    {
        for (int i = 0; i < 6000; ++i) {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t Pid() const { return pid; }

private:
    pid_t pid = -1;
    bool exited = false;
};

std::string LastLine(const std::string& text)
{
    std::string trimmed = text;
    while (!trimmed.empty() && trimmed.back() == '\n')
        trimmed.pop_back();
    return trimmed.substr(trimmed.rfind('\n') == std::string::npos ? 0 : trimmed.rfind('\n') + 1);
}

} // namespace

class UpdateCliTest : public UpdateFixture {
protected:
    // Writes the channels file with one feed per (title, address).
    void Subscribe(const std::vector<std::pair<std::string, std::string>>& feeds)
    {
        CSubscriptions subscriptions;
        subscriptions.Load();
        for (const auto& [title, url] : feeds)
            ASSERT_TRUE(subscriptions.NewFeed(subscriptions.Root(), title, url, "", "").changed);
    }
    int Cli(std::vector<std::string> arguments)
    {
        CliProcess process(std::move(arguments), home.File("stderr"));
        return process.Wait();
    }
    std::string Stderr() const { return ReadWholeFile(home.File("stderr")); }
};

TEST_F(UpdateCliTest, UpdateExitCodesAndFinalTextLast)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({ { "Good", server.Url("/good.rss") }, { "Bad", server.Url("/bad.rss") } });

    EXPECT_EQ(Cli({ "update", "--output", Output() }), 3);
    const std::string size = std::to_string(ReadWholeFile(Output()).size());
    EXPECT_EQ(LastLine(Stderr()), UpdateFinalText(std::stoull(size), true));
    EXPECT_NE(Stderr().find(UpdateFailureText(server.Url("/bad.rss"))), std::string::npos);
    EXPECT_EQ(
        Unpack(Output()).records, (std::vector<std::string> { "0 " + server.Url("/good.rss") }));

    EXPECT_EQ(Cli({ "update", "--marked", "Good", "--output", Output() }), 0);
    EXPECT_EQ(LastLine(Stderr()), UpdateFinalText(ReadWholeFile(Output()).size(), false));
    EXPECT_EQ(Cli({ "update", "--feed", server.Url("/good.rss"), "--output", Output() }), 0);

    EXPECT_EQ(Cli({ "update", "--marked", "Nothing by this name", "--output", Output() }), 1);
    EXPECT_NE(Stderr().find("Nothing by this name"), std::string::npos);
    EXPECT_EQ(Cli({ "update", "--output", home.File("no folder/p.mrf") }), 1);
    EXPECT_NE(Stderr().find("no folder"), std::string::npos) << Stderr();
    EXPECT_EQ(Cli({ "update", "--bogus" }), 2);
    EXPECT_EQ(Cli({ "update", "--help" }), 0);
}

TEST_F(UpdateCliTest, RepackOnlyAfterACompletedUpdate)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({ { "Good", server.Url("/good.rss") } });
    EXPECT_EQ(Cli({ "repack", "--output", Output() }), 1);
    EXPECT_NE(Stderr().find("Repackable"), std::string::npos) << Stderr();
    EXPECT_FALSE(FileExists(Output()));

    EXPECT_EQ(Cli({ "update", "--output", Output() }), 0);
    const int hits = server.Hits("/good.rss");
    EXPECT_EQ(Cli({ "repack", "--output", home.File("out/again.mrf") }), 0);
    EXPECT_EQ(server.Hits("/good.rss"), hits);
    EXPECT_EQ(ReadWholeFile(home.File("out/again.mrf")), ReadWholeFile(Output()));
}

TEST_F(UpdateCliTest, CtrlCStopsAtOnceAndKeepsThePreviousPackage)
{
    home.Write("out/corvane.mrf", "previous package");
    server.Serve("/hang.rss", Rss("Hang", {}));
    server.SetDelay("/hang.rss", std::chrono::seconds(30));
    Subscribe({ { "Hang", server.Url("/hang.rss") } });

    CliProcess process({ "update", "--output", Output() }, home.File("stderr"));
    ASSERT_GT(process.Pid(), 0);
    for (int i = 0; i < 1000 && server.Hits("/hang.rss") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.Hits("/hang.rss"), 1);
    kill(process.Pid(), SIGINT);
    EXPECT_EQ(process.Wait(), 130);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
    EXPECT_EQ(Stderr().find("Finished."), std::string::npos);
}
