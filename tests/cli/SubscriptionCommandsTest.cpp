// corvane-cli's subscription and settings commands, run as a program in a private home.
#include "support/TestHome.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <string>
#include <vector>

namespace {

struct CliRun {
    int code = -1;
    std::string out, err;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class SubscriptionCommandsTest : public TestHome {
protected:
    // Runs corvane-cli with the test home's environment (set by TestHome) and input on stdin.
    CliRun Cli(const std::vector<std::string>& arguments, const std::string& input = "")
    {
        std::string command = Quote(CORVANE_CLI_PATH);
        for (const std::string& argument : arguments)
            command += " " + Quote(argument);
        const std::string in = temp.Write("stdin.txt", input);
        command += " <" + Quote(in) + " >" + Quote(temp.File("stdout.txt")) + " 2>"
            + Quote(temp.File("stderr.txt"));
        CliRun run;
        const int status = std::system(command.c_str());
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadWholeFile(temp.File("stdout.txt"));
        run.err = ReadWholeFile(temp.File("stderr.txt"));
        return run;
    }

    std::string Opml(const std::string& body)
    {
        return "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>" + body
            + "</body></opml>";
    }
};

TEST_F(SubscriptionCommandsTest, AddListRemoveAndUndoAcrossRuns)
{
    EXPECT_EQ(Cli({ "list" }).out, "My Subscriptions\n");
    EXPECT_FALSE(FileExists(ChannelsPath()));

    const std::string opml = temp.Write("in.opml",
        Opml("<outline title=\"News\"><outline title=\"a\" "
             "xmlUrl=\"http://a/\"/></outline>"));
    ASSERT_EQ(Cli({ "import", opml, "--yes" }).code, 0);
    EXPECT_EQ(Cli({ "add", "http://b/", "--title", "b", "--group", "News" }).code, 0);
    EXPECT_EQ(Cli({ "add", "http://c/" }).code, 0);
    EXPECT_EQ(Cli({ "list" }).out,
        "My Subscriptions\n  News/\n    a  <http://a/>\n    b  <http://b/>\n  <http://c/>\n");

    const CliRun missingGroup = Cli({ "add", "http://d/", "--group", "Nope" });
    EXPECT_EQ(missingGroup.code, 1);
    EXPECT_NE(missingGroup.err.find("Nope"), std::string::npos);

    EXPECT_EQ(Cli({ "remove", "http://a/" }).code, 0);
    EXPECT_EQ(Cli({ "remove", "nothing like it" }).code, 1);
    EXPECT_EQ(
        Cli({ "list" }).out, "My Subscriptions\n  News/\n    b  <http://b/>\n  <http://c/>\n");

    // Four saves so far: each undo steps one back, the last one to no channels file at all.
    EXPECT_EQ(Cli({ "undo" }).code, 0);
    EXPECT_EQ(Cli({ "list" }).out,
        "My Subscriptions\n  News/\n    a  <http://a/>\n    b  <http://b/>\n  <http://c/>\n");
    EXPECT_EQ(Cli({ "undo" }).code, 0);
    EXPECT_EQ(Cli({ "undo" }).code, 0);
    EXPECT_EQ(Cli({ "list" }).out, "My Subscriptions\n  News/\n    a  <http://a/>\n");
    EXPECT_EQ(Cli({ "undo" }).code, 0);
    EXPECT_FALSE(FileExists(ChannelsPath()));
    const CliRun nothing = Cli({ "undo" });
    EXPECT_EQ(nothing.code, 1);
    EXPECT_NE(nothing.err.find("nothing to undo"), std::string::npos);
}

TEST_F(SubscriptionCommandsTest, ImportAsksAndSaysWhenNothingWasFound)
{
    EXPECT_EQ(Cli({ "add", "http://keep/" }).code, 0);
    const std::string before = ReadWholeFile(ChannelsPath());
    const std::string opml = temp.Write("in.opml", Opml("<outline title=\"Only\"/>"));

    const CliRun declined = Cli({ "import", opml }, "n\n");
    EXPECT_EQ(declined.code, 1);
    EXPECT_NE(declined.err.find("All current channels will be overwritten by imported ones, "
                                "continue?"),
        std::string::npos);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), before);
    EXPECT_EQ(Cli({ "import", opml }).code, 1); // no answer at all is no

    const std::string empty = temp.Write("empty.opml", Opml(""));
    const CliRun nothingFound = Cli({ "import", empty, "--yes" });
    EXPECT_EQ(nothingFound.code, 1);
    EXPECT_NE(nothingFound.err.find("No feed was found in the input file. Please check it."),
        std::string::npos);
    const CliRun missing = Cli({ "import", temp.File("missing.opml"), "--yes" });
    EXPECT_EQ(missing.code, 1);
    EXPECT_NE(missing.err.find("missing.opml"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), before);

    // One empty group counts as found and replaces the tree; being empty, it is not stored, so
    // the next run finds only the root.
    EXPECT_EQ(Cli({ "import", opml }, "yes\n").code, 0);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()).find("http://keep/"), std::string::npos);
    EXPECT_EQ(Cli({ "list" }).out, "My Subscriptions\n");

    const CliRun exported = Cli({ "export", temp.File("out.xml") });
    EXPECT_EQ(exported.code, 0);
    EXPECT_EQ(ReadWholeFile(temp.File("out.xml")), ReadWholeFile(ChannelsPath()));
    EXPECT_EQ(Cli({ "export", temp.File("no/folder/out.xml") }).code, 1);
}

TEST_F(SubscriptionCommandsTest, OptionsShowCheckAndSet)
{
    const CliRun all = Cli({ "options" });
    EXPECT_EQ(all.code, 0);
    EXPECT_NE(all.out.find("Podcast/Compression=7\n"), std::string::npos);
    EXPECT_NE(all.out.find("Path/FeedFile=" + temp.File("user/Documents/corvane.mrf") + "\n"),
        std::string::npos);
    EXPECT_FALSE(FileExists(SettingsPath()));

    EXPECT_EQ(Cli({ "options", "Podcast/MP3=0", "Podcast/Length=4294967295",
                      "Podcast/Download First One Only=1" })
                  .code,
        0);
    EXPECT_EQ(Cli({ "options", "Podcast/MP3", "Podcast/Length" }).out,
        "Podcast/MP3=0\nPodcast/Length=4294967295\n");

    // Anything out of range, not a number or unknown: usage error, and nothing written.
    for (const char* bad : { "Podcast/Volume=8", "Update/Hour=-1", "Podcast/Length=0",
             "Update/Minute=5x", "Podcast/Length=4294967296", "Path/FeedFile=" }) {
        const CliRun run = Cli({ "options", "Update/Hour=7", bad });
        EXPECT_EQ(run.code, 2) << bad;
        EXPECT_FALSE(run.err.empty()) << bad;
    }
    EXPECT_EQ(Cli({ "options", "Update/Hour" }).out, "Update/Hour=6\n");
    EXPECT_EQ(Cli({ "options", "Podcast/Nope=1" }).code, 2);
    EXPECT_EQ(Cli({ "options", "--help" }).code, 0);
}

} // namespace
