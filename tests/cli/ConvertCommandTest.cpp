// corvane-cli convert, run as a child process.
#include "audio/AudioTestSupport.h"
#include "support/CliRunner.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <unistd.h>

namespace {

// Runs corvane-cli with the arguments; gives the exit code and what went to standard error.
int Cli(const std::vector<std::string>& arguments, std::string* errors = nullptr)
{
    const CliRun run = RunCli(arguments);
    if (errors)
        *errors = run.err;
    return run.exitCode;
}

// A stereo tone of seconds as dir/in.mp3; empty when sox or lame failed.
std::string ToneMp3(const TempDir& dir, const char* seconds)
{
    const std::string wav = dir.File("in.wav");
    const std::string mp3 = dir.File("in.mp3");
    if (!RunQuiet("sox -n -r 44100 -c 2 " + ShellQuote(wav) + " synth " + seconds + " sine 440")
        || !RunQuiet("lame --quiet -b 128 " + ShellQuote(wav) + " " + ShellQuote(mp3)))
        return {};
    return mp3;
}

} // namespace

TEST(ConvertCommand, WritesTheFileWithTheOptions)
{
    TempDir dir;
    const std::string mp3 = ToneMp3(dir, "2.5");
    ASSERT_FALSE(mp3.empty());
    const std::string amr = dir.File("out.amr");

    EXPECT_EQ(Cli({"convert", mp3, amr}), 0);
    EXPECT_EQ(ReadWholeFile(amr).size(), 6u + 125u * 13u); // mode 0 by default

    EXPECT_EQ(Cli({"convert", mp3, amr, "--mode", "7", "--limit", "2", "--volume", "3"}), 0);
    EXPECT_EQ(ReadWholeFile(amr).size(), 6u + 100u * 32u);
    EXPECT_EQ(Cli({"convert", "--dtx", "--mode=5", mp3, amr}), 0);
    EXPECT_EQ(static_cast<unsigned char>(ReadWholeFile(amr).at(6)), (5 << 3) | 4);
}

TEST(ConvertCommand, FailuresNameTheFile)
{
    TempDir dir;
    const std::string page = dir.Write("page.mp3", "<html><body>Not Found</body></html>");
    std::string errors;
    EXPECT_EQ(Cli({"convert", page, dir.File("o.amr")}, &errors), 1);
    EXPECT_NE(errors.find(page), std::string::npos) << errors;
    EXPECT_FALSE(FileExists(dir.File("o.amr")));

    EXPECT_EQ(Cli({"convert", dir.File("none.mp3"), dir.File("o.amr")}, &errors), 1);
    EXPECT_NE(errors.find("none.mp3"), std::string::npos) << errors;
}

// OUT naming the MP3 itself, by another spelling, a symbolic link or a hard link, would replace
// the MP3 with its own conversion: refused, naming both, and the MP3 stays as it was.
TEST(ConvertCommand, AnOutputThatIsTheInputIsRefused)
{
    TempDir dir;
    const std::string mp3 = ToneMp3(dir, "0.5");
    ASSERT_FALSE(mp3.empty());
    const std::string original = ReadWholeFile(mp3);
    ASSERT_EQ(::symlink(mp3.c_str(), dir.File("link.amr").c_str()), 0);
    ASSERT_EQ(::link(mp3.c_str(), dir.File("hard.amr").c_str()), 0);
    for (const std::string& out :
        {mp3, dir.Path() + "/./in.mp3", dir.File("link.amr"), dir.File("hard.amr")}) {
        std::string errors;
        EXPECT_EQ(Cli({"convert", mp3, out}, &errors), 1) << out;
        EXPECT_NE(errors.find("is the MP3 file itself"), std::string::npos) << errors;
        EXPECT_NE(errors.find(out), std::string::npos) << errors;
        EXPECT_EQ(ReadWholeFile(mp3), original) << out;
    }
}

TEST(ConvertCommand, WrongUsage)
{
    EXPECT_EQ(Cli({"convert"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "c"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "--mode", "8"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "--mode", "-1"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "--volume", "x"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "--limit", "1.5"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "--limit"}), 2);
    EXPECT_EQ(Cli({"convert", "a.mp3", "b.amr", "--loud"}), 2);
    EXPECT_EQ(Cli({"convert", "--help"}), 0);
}
