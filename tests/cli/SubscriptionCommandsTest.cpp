// corvane-cli's subscription and settings commands, run as a program in a private home.
#include "support/CliRunner.h"
#include "support/TempDir.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

class SubscriptionCommandsTest : public TestHome {
protected:
    // Runs corvane-cli with the test home's environment (set by TestHome) and input on stdin.
    // A run that would hang is ended after a minute, and one that would fill the disk stops at
    // 20 MB of output.
    CliRun Cli(const std::vector<std::string>& arguments, const std::string& input = "")
    {
        CliRunOptions options;
        options.input = input;
        options.outputCap = 20'480'000;
        return RunCli(arguments, options);
    }

    std::string Opml(const std::string& body)
    {
        return "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body>" + body
            + "</body></opml>";
    }

    // A FIFO and a folder at path, one after the other: give each to check, then remove it.
    template <typename Check> void WithFifoAndFolder(const std::string& path, Check check)
    {
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        check("FIFO");
        std::filesystem::remove(path);
        std::filesystem::create_directories(path);
        check("directory");
        std::filesystem::remove(path);
    }
};

bool IsFifo(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

TEST_F(SubscriptionCommandsTest, AddListRemoveAndUndoAcrossRuns)
{
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n");
    EXPECT_FALSE(FileExists(ChannelsPath()));

    const std::string opml = temp.Write("in.opml",
        Opml("<outline title=\"News\"><outline title=\"a\" "
             "xmlUrl=\"http://a/\"/></outline>"));
    ASSERT_EQ(Cli({"import", opml, "--yes"}).exitCode, 0);
    EXPECT_EQ(
        Cli({"add", "--no-fetch", "http://b/", "--title", "b", "--group", "News"}).exitCode, 0);
    EXPECT_EQ(Cli({"add", "--no-fetch", "http://c/"}).exitCode, 0);
    EXPECT_EQ(Cli({"list"}).out,
        "My Subscriptions\n  News/\n    a  <http://a/>\n    b  <http://b/>\n  <http://c/>\n");

    const CliRun missingGroup = Cli({"add", "http://d/", "--group", "Nope"});
    EXPECT_EQ(missingGroup.exitCode, 1);
    EXPECT_NE(missingGroup.err.find("Nope"), std::string::npos);

    EXPECT_EQ(Cli({"remove", "http://a/"}).exitCode, 0);
    EXPECT_EQ(Cli({"remove", "nothing like it"}).exitCode, 1);
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n  News/\n    b  <http://b/>\n  <http://c/>\n");

    // Four saves so far: each undo steps one back, the last one to no channels file at all.
    EXPECT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_EQ(Cli({"list"}).out,
        "My Subscriptions\n  News/\n    a  <http://a/>\n    b  <http://b/>\n  <http://c/>\n");
    EXPECT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n  News/\n    a  <http://a/>\n");
    EXPECT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_FALSE(FileExists(ChannelsPath()));
    const CliRun nothing = Cli({"undo"});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.err.find("nothing to undo"), std::string::npos);
}

// Backups and the undo depth belong to one program folder: an import in another one neither
// takes R's backup numbers nor leaves R an empty "no file" backup that would delete its list.
TEST_F(SubscriptionCommandsTest, UndoStaysWithinItsProgramFolder)
{
    const std::string r = temp.File("R"), d = temp.File("D");
    setenv("CORVANE_HOME", r.c_str(), 1);
    ASSERT_EQ(Cli({"add", "--no-fetch", "http://first/"}).exitCode, 0);
    ASSERT_EQ(Cli({"add", "--no-fetch", "http://second/"}).exitCode, 0);

    setenv("CORVANE_HOME", d.c_str(), 1);
    const std::string opml = temp.Write("in.opml", Opml("<outline xmlUrl=\"http://d/\"/>"));
    ASSERT_EQ(Cli({"import", opml, "--yes"}).exitCode, 0);

    setenv("CORVANE_HOME", r.c_str(), 1);
    const CliRun undone = Cli({"undo"});
    EXPECT_EQ(undone.exitCode, 0) << undone.err;
    EXPECT_TRUE(FileExists(r + "/Corvane.Cha"));
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n  <http://first/>\n");

    // D's one step takes D back to no channels file, and then it has nothing more to undo.
    setenv("CORVANE_HOME", d.c_str(), 1);
    EXPECT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_FALSE(FileExists(d + "/Corvane.Cha"));
    EXPECT_EQ(Cli({"undo"}).exitCode, 1);
    setenv("CORVANE_HOME", r.c_str(), 1);
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n  <http://first/>\n");
}

TEST_F(SubscriptionCommandsTest, ImportAsksAndSaysWhenNothingWasFound)
{
    EXPECT_EQ(Cli({"add", "--no-fetch", "http://keep/"}).exitCode, 0);
    const std::string before = ReadWholeFile(ChannelsPath());
    const std::string opml = temp.Write("in.opml", Opml("<outline title=\"Only\"/>"));

    const CliRun declined = Cli({"import", opml}, "n\n");
    EXPECT_EQ(declined.exitCode, 1);
    EXPECT_NE(declined.err.find("All current channels will be overwritten by imported ones, "
                                "continue?"),
        std::string::npos);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), before);
    EXPECT_EQ(Cli({"import", opml}).exitCode, 1); // no answer at all is no

    const std::string empty = temp.Write("empty.opml", Opml(""));
    const CliRun nothingFound = Cli({"import", empty, "--yes"});
    EXPECT_EQ(nothingFound.exitCode, 1);
    EXPECT_NE(nothingFound.err.find("No feed was found in the input file. Please check it."),
        std::string::npos);
    const CliRun missing = Cli({"import", temp.File("missing.opml"), "--yes"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("missing.opml"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()), before);

    // One empty group counts as found and replaces the tree; being empty, it is not stored, so
    // the next run finds only the root.
    EXPECT_EQ(Cli({"import", opml}, "yes\n").exitCode, 0);
    EXPECT_EQ(ReadWholeFile(ChannelsPath()).find("http://keep/"), std::string::npos);
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n");

    const CliRun exported = Cli({"export", temp.File("out.xml")});
    EXPECT_EQ(exported.exitCode, 0);
    EXPECT_EQ(ReadWholeFile(temp.File("out.xml")), ReadWholeFile(ChannelsPath()));
    EXPECT_EQ(Cli({"export", temp.File("no/folder/out.xml")}).exitCode, 1);
}

TEST_F(SubscriptionCommandsTest, ImportMergeAddsWhatIsNewAndSaysHowMany)
{
    EXPECT_EQ(Cli({"add", "--no-fetch", "http://keep/", "--title", "Keep"}).exitCode, 0);
    const std::string opml = temp.Write("more.opml",
        Opml("<outline text=\"Talk\"><outline text=\"New\" xmlUrl=\"http://new/\"/>"
             "<outline text=\"Keep again\" xmlUrl=\"http://keep/\"/></outline>"));
    // Nothing is removed, so nothing is asked.
    const CliRun merged = Cli({"import", "--merge", opml});
    EXPECT_EQ(merged.exitCode, 0) << merged.err;
    EXPECT_EQ(merged.out, "Added 1 feed, skipped 1 already subscribed.\n");
    EXPECT_EQ(Cli({"list"}).out,
        "My Subscriptions\n  Keep  <http://keep/>\n  Talk/\n    New  <http://new/>\n");
    // One save: one undo returns to the tree before the merge.
    EXPECT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n  Keep  <http://keep/>\n");

    const CliRun nothing = Cli({"import", "--merge", temp.Write("e.opml", Opml(""))});
    EXPECT_EQ(nothing.exitCode, 1);
    EXPECT_NE(nothing.err.find("No feed was found in the input file. Please check it."),
        std::string::npos);
    EXPECT_EQ(Cli({"import", "--merge", opml, "extra"}).exitCode, 2);
    EXPECT_EQ(Cli({"import", "--merge"}).exitCode, 2);
}

TEST_F(SubscriptionCommandsTest, ExportFormatOpml2)
{
    EXPECT_EQ(Cli({"add", "--no-fetch", "http://a/", "--title", "A"}).exitCode, 0);
    const CliRun exported = Cli({"export", "--format", "opml2", temp.File("two.opml")});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    const std::string text = ReadWholeFile(temp.File("two.opml"));
    EXPECT_NE(text.find("<opml version=\"2.0\">"), std::string::npos);
    EXPECT_NE(text.find("<outline text=\"A\" title=\"A\" type=\"rss\" xmlUrl=\"http://a/\"/>"),
        std::string::npos)
        << text;
    EXPECT_EQ(Cli({"export", "--format", "opml", temp.File("one.xml")}).exitCode, 0);
    EXPECT_EQ(ReadWholeFile(temp.File("one.xml")), ReadWholeFile(ChannelsPath()));
    // "-" is standard output, in either format, and no file named "-" appears.
    const CliRun toOutput = Cli({"export", "-"});
    EXPECT_EQ(toOutput.exitCode, 0) << toOutput.err;
    EXPECT_EQ(toOutput.out, ReadWholeFile(ChannelsPath()));
    const CliRun twoToOutput = Cli({"export", "--format", "opml2", "-"});
    EXPECT_EQ(twoToOutput.exitCode, 0) << twoToOutput.err;
    EXPECT_EQ(twoToOutput.out.substr(0, twoToOutput.out.find("<dateCreated>")),
        text.substr(0, text.find("<dateCreated>")));
    EXPECT_FALSE(FileExists("-"));
    const CliRun bad = Cli({"export", "--format", "json", temp.File("x")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown export format 'json'"), std::string::npos);
    EXPECT_FALSE(FileExists(temp.File("x")));
}

TEST_F(SubscriptionCommandsTest, ImportOfAFifoOrAFolderEndsAtOnceAndKeepsTheTree)
{
    EXPECT_EQ(Cli({"add", "--no-fetch", "http://keep/"}).exitCode, 0);
    const std::string before = ReadWholeFile(ChannelsPath());
    WithFifoAndFolder(temp.File("in.opml"), [&](const char* kind) {
        const CliRun run = Cli({"import", temp.File("in.opml"), "--yes"});
        EXPECT_EQ(run.exitCode, 1) << kind;
        EXPECT_NE(run.err.find(temp.File("in.opml") + ": not a regular file"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("No feed was found in the input file."), std::string::npos);
        EXPECT_EQ(ReadWholeFile(ChannelsPath()), before) << kind;
    });
    EXPECT_EQ(Cli({"list"}).out, "My Subscriptions\n  <http://keep/>\n");
}

TEST_F(SubscriptionCommandsTest, ChannelsFileThatIsAFifoOrAFolderIsRefusedAndLeftAlone)
{
    std::filesystem::create_directories(home);
    WithFifoAndFolder(ChannelsPath(), [&](const char* kind) {
        for (const std::vector<std::string>& arguments :
            {std::vector<std::string> {"list"}, {"add", "--no-fetch", "http://new/"}}) {
            const CliRun run = Cli(arguments);
            EXPECT_EQ(run.exitCode, 1) << kind << " " << arguments[0];
            EXPECT_NE(run.err.find(ChannelsPath() + ": not a regular file"), std::string::npos)
                << run.err;
            EXPECT_EQ(run.out, "") << kind;
        }
        EXPECT_EQ(IsFifo(ChannelsPath()), std::string(kind) == "FIFO");
        EXPECT_FALSE(FileExists(BackupFile(1))) << kind;
    });
}

TEST_F(SubscriptionCommandsTest, ListOfAVeryDeepTreeShowsDepthsAsNumbers)
{
    // 99,999 groups, each inside the one before, and a feed in the innermost.
    constexpr int depth = 100000;
    std::string body;
    for (int level = 1; level < depth; ++level)
        body += "<outline title=\"g" + std::to_string(level) + "\">";
    body += "<outline title=\"deepest\" xmlUrl=\"http://deep/\"/>";
    for (int level = 1; level < depth; ++level)
        body += "</outline>";
    std::filesystem::create_directories(home);
    temp.Write("home/Corvane.Cha", Opml(body));

    const CliRun run = Cli({"list"});
    ASSERT_EQ(run.exitCode, 0) << run.err.substr(0, 500);
    EXPECT_LT(run.out.size(), 10u * 1000 * 1000);
    // Shallow levels keep two spaces a level; past 32 the depth is a number.
    EXPECT_EQ(run.out.rfind("My Subscriptions\n  g1/\n    g2/\n      g3/\n", 0), 0u);
    EXPECT_NE(run.out.find("\n" + std::string(64, ' ') + "g32/\n" + std::string(64, ' ')
                  + "[depth 33] g33/\n"),
        std::string::npos);
    const std::string last = std::string(64, ' ') + "[depth 100000] deepest  <http://deep/>\n";
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last);
}

TEST_F(SubscriptionCommandsTest, OptionsShowCheckAndSet)
{
    const CliRun all = Cli({"options"});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_NE(all.out.find("Podcast/Compression=7\n"), std::string::npos);
    EXPECT_NE(all.out.find("Update/Connections=64\nUpdate/Floor Rate=1024\n"), std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find(
                  "Podcast/Download First One Only=0\nPodcast/Newest=0\nPodcast/Any MP3 Type=0\n"),
        std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("Path/FeedFile=" + temp.File("user/Documents/corvane.mrf") + "\n"),
        std::string::npos);
    EXPECT_FALSE(FileExists(SettingsPath()));

    EXPECT_EQ(Cli({"options", "Podcast/MP3=0", "Podcast/Length=4294967295",
                      "Podcast/Download First One Only=1"})
                  .exitCode,
        0);
    EXPECT_EQ(Cli({"options", "Podcast/MP3", "Podcast/Length"}).out,
        "Podcast/MP3=0\nPodcast/Length=4294967295\n");
    EXPECT_EQ(Cli({"options", "Podcast/Newest=25", "Podcast/Newest"}).out, "Podcast/Newest=25\n");

    // Anything out of range, not a number or unknown: usage error, and nothing written.
    for (const char* bad : {"Podcast/Volume=8", "Update/Hour=-1", "Podcast/Length=0",
             "Update/Minute=5x", "Podcast/Length=4294967296",
             "Path/FeedFile=", "Podcast/Newest=1001", "Podcast/Newest=-1"}) {
        const CliRun run = Cli({"options", "Update/Hour=7", bad});
        EXPECT_EQ(run.exitCode, 2) << bad;
        EXPECT_FALSE(run.err.empty()) << bad;
    }
    EXPECT_EQ(Cli({"options", "Update/Hour"}).out, "Update/Hour=6\n");
    EXPECT_EQ(Cli({"options", "Podcast/Nope=1"}).exitCode, 2);
    EXPECT_EQ(Cli({"options", "--help"}).exitCode, 0);
}

TEST_F(SubscriptionCommandsTest, OptionsSayWhyTheSettingsCannotBeWritten)
{
    std::filesystem::create_directories(SettingsPath()); // a folder where the file belongs
    const CliRun run = Cli({"options", "Update/Hour=7"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("cannot write the settings file " + SettingsPath()
                  + ": the file or its folder cannot be written"),
        std::string::npos)
        << run.err;
}

// --home names a set-up of its own: its settings do not leak into the default folder's or back.
TEST_F(SubscriptionCommandsTest, EachHomeKeepsItsOwnSettings)
{
    const std::string other = temp.File("other home");
    ASSERT_EQ(Cli({"options", "Podcast/Length=5"}).exitCode, 0);
    ASSERT_EQ(Cli({"--home", other, "options", "Podcast/Length=9"}).exitCode, 0);
    EXPECT_EQ(Cli({"options", "Podcast/Length"}).out, "Podcast/Length=5\n");
    EXPECT_EQ(Cli({"--home", other, "options", "Podcast/Length"}).out, "Podcast/Length=9\n");
    EXPECT_TRUE(FileExists(other + "/Corvane.conf"));
    EXPECT_FALSE(FileExists(config + "/Corvane/Corvane.conf"));
}

// A hand-edited file: a time outside the day is shown as stored and marked, since the scheduled
// update then never runs; a flag shows as the program reads it.
TEST_F(SubscriptionCommandsTest, OptionsMarkATimeOutsideTheDay)
{
    temp.Write(
        "home/Corvane.conf", "[Update]\nScheduled=1\nHour=25\nMinute=30\n[Podcast]\nLimit=5\n");
    const CliRun all = Cli({"options"});
    EXPECT_EQ(all.exitCode, 0);
    EXPECT_NE(all.out.find("Update/Hour=25 (invalid: 0 to 23; the scheduled update never runs)\n"),
        std::string::npos)
        << all.out;
    EXPECT_NE(all.out.find("Update/Minute=30\n"), std::string::npos) << all.out;
    EXPECT_EQ(Cli({"options", "Podcast/Limit"}).out, "Podcast/Limit=1\n");

    // Setting a valid hour clears the mark.
    EXPECT_EQ(Cli({"options", "Update/Hour=7"}).exitCode, 0);
    EXPECT_EQ(Cli({"options", "Update/Hour"}).out, "Update/Hour=7\n");
}

} // namespace
