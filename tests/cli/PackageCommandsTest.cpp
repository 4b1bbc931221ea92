// corvane-cli inspect and extract, run as a user would.
#include "support/CliRunner.h"
#include "support/TempDir.h"
#include "update/PackageTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace corvane;

namespace {

TEST(PackageCli, InspectShowsTheHeadAndEachRecord)
{
    TempDir dir;
    const std::string path = WriteSamplePackage(dir);
    const CliRun text = RunCli({"inspect", path});
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("channel list of " + std::to_string(channels.size()) + " bytes"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("feed " + std::string(10 - 2, ' ') + "35  http://h/feed.rss\n"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("amr           0  http://h/e.amr\n"), std::string::npos) << text.out;

    const CliRun json = RunCli({"inspect", "--json", path});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const std::size_t first = 12 + channels.size();
    const std::size_t second = first + 4 + 34 + 8 + feed.size();
    const std::size_t third = second + 4 + 30 + 8 + audio.size();
    // One line, written by QJsonDocument: keys in order, no spaces.
    EXPECT_EQ(json.out,
        "{\"channels\":" + std::to_string(channels.size())
            + ",\"records\":[{\"address\":\"http://h/feed.rss\",\"offset\":" + std::to_string(first)
            + ",\"size\":35,\"type\":\"feed\"},{\"address\":\"http://h/\xC3\xA9p.mp3\",\"offset\":"
            + std::to_string(second)
            + ",\"size\":12,\"type\":\"mp3\"},{\"address\":\"http://h/e.amr\",\"offset\":"
            + std::to_string(third) + ",\"size\":0,\"type\":\"amr\"}],\"sync\":1}\n");

    const CliRun bare
        = RunCli({"inspect", "--json", dir.Write("bare", Le32(PACKAGE_MAGIC) + Le32(0))});
    EXPECT_EQ(bare.out, "{\"channels\":null,\"records\":[],\"sync\":0}\n");
}

TEST(PackageCli, InspectOfACutPackageFailsNamingFileAndOffset)
{
    TempDir dir;
    const std::string whole = ReadWholeFile(WriteSamplePackage(dir));
    // Three bytes short of the audio's end: the last record (40 bytes, no data) and 3 more.
    const std::string path = dir.Write("cut.mrf", whole.substr(0, whole.size() - 43));
    const CliRun json = RunCli({"inspect", path, "--json"});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_TRUE(json.out.empty()) << json.out;
    EXPECT_NE(json.err.find(path + ": at offset "), std::string::npos) << json.err;
    const CliRun text = RunCli({"inspect", path});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.out.find("http://h/feed.rss"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("runs past the end"), std::string::npos) << text.err;
    EXPECT_EQ(RunCli({"inspect", dir.File("absent")}).exitCode, 1);
}

TEST(PackageCli, UsageAndHelp)
{
    TempDir dir;
    EXPECT_EQ(RunCli({"inspect"}).exitCode, 2);
    EXPECT_EQ(RunCli({"inspect", "a", "b"}).exitCode, 2);
    EXPECT_EQ(RunCli({"inspect", "a", "--bogus"}).exitCode, 2);
    EXPECT_EQ(RunCli({"extract", "a"}).exitCode, 2);
    const CliRun inspectHelp = RunCli({"inspect", "--help"});
    EXPECT_EQ(inspectHelp.exitCode, 0);
    EXPECT_NE(inspectHelp.out.find("usage: corvane-cli inspect"), std::string::npos);
    const CliRun extractHelp = RunCli({"extract", "--help"});
    EXPECT_EQ(extractHelp.exitCode, 0);
    EXPECT_NE(extractHelp.out.find("usage: corvane-cli extract"), std::string::npos);
}

TEST(PackageCli, ExtractWritesRecordsUnderTheirCacheNames)
{
    TempDir dir;
    const std::string path = WriteSamplePackage(dir);
    const std::string target = dir.File("out/nested");
    const CliRun result = RunCli({"--home", dir.File("home"), "extract", path, target});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadWholeFile(target + "/Corvane.Cha"), channels);
    EXPECT_EQ(ReadWholeFile(target + "/h_feed_rss.xml"), feed);
    EXPECT_EQ(ReadWholeFile(target + "/h_\xC3\xA9p_mp3.mp3"), audio);
    EXPECT_TRUE(FileExists(target + "/h_e_amr.amr"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target), {}), 4);
    EXPECT_FALSE(FileExists(dir.File("home"))); // naming files creates no program folder
}

TEST(PackageCli, ExtractGivesRecordsThatShareAFileNameNamesOfTheirOwn)
{
    TempDir dir;
    const std::pair<std::string, std::string> records[] = {
        {"/a/b.mp3", "_a_b_mp3.mp3"},
        {"/a_b.mp3", "_a_b_mp3 (2).mp3"},
        {"x.mp3", "x_mp3.mp3"},
        {"x-mp3", "x_mp3 (2).mp3"},
        {"x_mp3", "x_mp3 (3).mp3"},
        {"/a/b.mp3", "_a_b_mp3 (3).mp3"}, // an exact duplicate
        {"", "unnamed.mp3"}, // not the hidden ".mp3"
        {"unnamed", "unnamed (2).mp3"},
    };
    std::string bytes = Le32(PACKAGE_MAGIC) + Le32(0);
    for (std::size_t i = 0; i < std::size(records); ++i)
        bytes += Record(records[i].first, RECORD_MP3, "data " + std::to_string(i));
    const std::string path = dir.Write("shared.mrf", bytes);

    const CliRun result
        = RunCli({"--home", dir.File("home"), "extract", "--quiet", path, dir.File("out")});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    for (std::size_t i = 0; i < std::size(records); ++i) {
        EXPECT_EQ(ReadWholeFile(dir.File("out/" + records[i].second)), "data " + std::to_string(i))
            << records[i].second;
        // Each name given anew is told; the first holders of their names are not.
        const bool renamed = records[i].second.find(" (") != std::string::npos || i >= 6;
        EXPECT_EQ(
            result.err.find("is written as " + records[i].second) != std::string::npos, renamed)
            << result.err;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("out")), {}),
        static_cast<std::ptrdiff_t>(std::size(records)));

    // A second run into the same folder gives the same names: nothing piles up.
    EXPECT_EQ(
        RunCli({"--home", dir.File("home"), "extract", "--quiet", path, dir.File("out")}).exitCode,
        0);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("out")), {}),
        static_cast<std::ptrdiff_t>(std::size(records)));
}

TEST(PackageCli, ExtractKeepsNamesInsideTheFolderAndReportsABreak)
{
    TempDir dir;
    // Hostile names: a path up and out, and a terminal escape.
    const std::string bytes = Le32(PACKAGE_MAGIC) + Le32(0) + Record("../../evil", 0, "e")
        + Record("/etc/x\x1b[2J", 1, "m") + Record("cut", 0, "") + Le32(9);
    const std::string path = dir.Write("hostile.mrf", bytes);
    const CliRun result = RunCli({"extract", path, dir.File("out")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(path + ": at offset"), std::string::npos) << result.err;
    EXPECT_EQ(ReadWholeFile(dir.File("out/______evil.xml")), "e");
    EXPECT_EQ(ReadWholeFile(dir.File("out/_etc_x\x1b_2J.mp3")), "m");
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
    EXPECT_FALSE(FileExists(dir.Path() + "/../evil.xml"));

    const CliRun notPackage = RunCli({"extract", dir.Write("x", "not a package"), dir.File("o2")});
    EXPECT_EQ(notPackage.exitCode, 1);
    EXPECT_NE(notPackage.err.find("bad magic"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("o2")));
}

} // namespace
