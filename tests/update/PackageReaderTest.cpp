#include "update/PackageReader.h"

#include "support/TempDir.h"
#include "platform/Paths.h"
#include "update/Package.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <vector>

namespace {

std::string Le32(std::uint32_t value)
{
    return { static_cast<char>(value), static_cast<char>(value >> 8),
        static_cast<char>(value >> 16), static_cast<char>(value >> 24) };
}

std::string Record(const std::string& asciiName, std::uint32_t type, const std::string& data)
{
    std::string name;
    for (char c : asciiName) {
        name.push_back(c);
        name.push_back('\0');
    }
    return Le32(static_cast<std::uint32_t>(name.size())) + name + Le32(type)
        + Le32(static_cast<std::uint32_t>(data.size())) + data;
}

const std::string channels
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<opml version=\"1.0\"/>\r\n";
const std::string feed = "<rss version=\"2.0\"><channel/></rss>";
const std::string audio = std::string("ID3\x04\0\0", 6) + "frames";

// A package with the channel list and three records, written by the writer.
std::string WriteSamplePackage(const TempDir& dir)
{
    const std::string path = dir.File("sample.mrf");
    std::string error;
    auto package = CPackageFile::Create(path, error);
    EXPECT_TRUE(package) << error;
    WritePackageMagic(*package);
    WriteChannelsSection(*package, 1, dir.Write("Corvane.Cha", channels));
    WritePackageRecord(*package, "http://h/feed.rss", RECORD_FEED, dir.Write("f.xml", feed));
    WritePackageRecord(*package, "http://h/\xC3\xA9p.mp3", RECORD_MP3, dir.Write("a.mp3", audio));
    WritePackageRecord(*package, "http://h/e.amr", RECORD_AMR, dir.Write("e.amr", ""));
    EXPECT_TRUE(package->Commit()) << package->ErrorText();
    return path;
}

TEST(PackageReader, ReadsWhatTheWriterWrote)
{
    TempDir dir;
    CPackageReader reader;
    ASSERT_TRUE(reader.Open(WriteSamplePackage(dir))) << reader.Error();
    EXPECT_TRUE(reader.Error().empty());
    EXPECT_TRUE(reader.MagicOk());
    EXPECT_EQ(reader.SyncFlag(), 1u);
    ASSERT_TRUE(reader.ChannelsOffset());
    EXPECT_EQ(*reader.ChannelsOffset(), 12u);
    EXPECT_EQ(reader.ReadBytes(12, reader.ChannelsLength()), channels);

    const auto& records = reader.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].offset, 12u + channels.size());
    EXPECT_EQ(records[0].type, RECORD_FEED);
    EXPECT_EQ(records[0].name, "http://h/feed.rss");
    EXPECT_EQ(records[0].dataOffset, records[0].offset + 4 + 34 + 8);
    EXPECT_EQ(reader.ReadBytes(records[0].dataOffset, records[0].dataLength), feed);
    EXPECT_EQ(records[1].offset, records[0].dataOffset + feed.size());
    EXPECT_EQ(records[1].name, "http://h/\xC3\xA9p.mp3");
    EXPECT_EQ(reader.ReadBytes(records[1].dataOffset, records[1].dataLength), audio);
    EXPECT_EQ(records[2].type, RECORD_AMR);
    EXPECT_EQ(records[2].dataLength, 0u);
    EXPECT_EQ(records[2].dataOffset, reader.FileSize());

    // Copy out by offset, and a visit that stops early.
    ASSERT_TRUE(reader.CopyTo(records[1].dataOffset, records[1].dataLength, dir.File("copy")));
    EXPECT_EQ(ReadWholeFile(dir.File("copy")), audio);
    int calls = 0;
    EXPECT_FALSE(reader.Visit(0, 10, [&](const char*, std::size_t) { return ++calls > 5; }));
    EXPECT_EQ(calls, 1);
}

TEST(PackageReader, HeadOnlyPackagesAreValid)
{
    TempDir dir;
    CPackageReader reader;
    ASSERT_TRUE(reader.Open(dir.Write("p", Le32(PACKAGE_MAGIC) + Le32(0)))) << reader.Error();
    EXPECT_FALSE(reader.ChannelsOffset());
    EXPECT_TRUE(reader.Records().empty());
    ASSERT_TRUE(reader.Open(dir.Write("q", Le32(PACKAGE_MAGIC) + Le32(1) + Le32(0))));
    EXPECT_EQ(reader.ChannelsOffset(), 12u);
    EXPECT_EQ(reader.ChannelsLength(), 0u);
}

// Cutting a package anywhere either leaves a shorter valid package (at a record's end) or an
// error that names the offset of the field that breaks.
TEST(PackageReader, CutPackagesNameTheOffsetWhereTheyBreak)
{
    TempDir dir;
    const std::string whole = ReadWholeFile(WriteSamplePackage(dir));
    CPackageReader full;
    ASSERT_TRUE(full.Open(dir.File("sample.mrf")));
    std::vector<std::uint64_t> ends; // where a valid package may end
    ends.push_back(12 + channels.size());
    for (const PackageRecord& record : full.Records())
        ends.push_back(record.dataOffset + record.dataLength);

    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
        const std::string path = dir.Write("cut.mrf", whole.substr(0, cut));
        CPackageReader reader;
        const bool ok = reader.Open(path);
        const bool boundary = std::find(ends.begin(), ends.end(), cut) != ends.end();
        EXPECT_EQ(ok, boundary) << "cut at " << cut << ": " << reader.Error();
        if (ok)
            continue;
        // The field that breaks: the one whose bytes the cut falls into, or the length that
        // announces more than is left.
        std::uint64_t expected = 0;
        if (cut >= 4)
            expected = cut < 8 ? 4 : 8;
        if (cut >= 12) {
            expected = 8; // the channel list runs past the end
            for (std::size_t i = 0; i < full.Records().size(); ++i) {
                const PackageRecord& record = full.Records()[i];
                if (cut < record.offset)
                    break;
                const std::uint64_t typeAt = record.dataOffset - 8;
                if (cut < typeAt)
                    expected = record.offset; // N or the name
                else if (cut < typeAt + 4)
                    expected = typeAt;
                else
                    expected = typeAt + 4; // D, or the data D announces
            }
        }
        EXPECT_NE(reader.Error().find(path + ": at offset " + std::to_string(expected) + ":"),
            std::string::npos)
            << "cut at " << cut << ": " << reader.Error();
        EXPECT_LE(reader.Records().size(), full.Records().size());
    }
}

TEST(PackageReader, MalformedFieldsAreNamed)
{
    TempDir dir;
    struct Case {
        std::string bytes;
        std::string message;
        std::size_t recordsBefore;
    };
    const std::string head = Le32(PACKAGE_MAGIC) + Le32(0);
    const Case cases[] = {
        { "", "at offset 0: cut short", 0 },
        { Le32(0x12345678) + Le32(0), "at offset 0: bad magic number 0x12345678", 0 },
        { Le32(PACKAGE_MAGIC) + Le32(2), "at offset 4: synchronize flag 2", 0 },
        { Le32(PACKAGE_MAGIC) + Le32(1) + Le32(5) + "abcd", "at offset 8: channel list length 5",
            0 },
        { head + Le32(3) + "abc" + Le32(0) + Le32(0), "at offset 8: odd name length 3", 0 },
        { head + Record("a", 0, "x") + Record("b", 3, "y"), "at offset 29: unknown record type 3",
            1 },
        { head + Record("a", 0, "x") + Le32(0xFFFFFFFE), "at offset 23: name length 4294967294",
            1 },
        { head + Le32(0) + Le32(1) + Le32(0xFFFFFFFF), "at offset 16: data length 4294967295", 0 },
    };
    for (const Case& item : cases) {
        CPackageReader reader;
        const std::string path = dir.Write("bad.mrf", item.bytes);
        EXPECT_FALSE(reader.Open(path));
        EXPECT_NE(reader.Error().find(path + ": " + item.message), std::string::npos)
            << reader.Error();
        EXPECT_EQ(reader.Records().size(), item.recordsBefore) << item.message;
    }
    CPackageReader reader;
    EXPECT_FALSE(reader.Open(dir.File("absent.mrf")));
    EXPECT_NE(reader.Error().find("absent.mrf"), std::string::npos);
    EXPECT_FALSE(reader.Open(dir.Path()));
}

TEST(PackageReader, LoneSurrogatesInNamesBecomeReplacementCharacters)
{
    EXPECT_EQ(Utf16LeToUtf8(std::string("a\0\x00\xD8"
                                        "b\0",
                  6)),
        "a\xEF\xBF\xBD"
        "b");
    EXPECT_EQ(Utf16LeToUtf8(std::string("\x00\xDC", 2)), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16LeToUtf8(std::string("\x3D\xD8\x00\xDE", 4)), "\xF0\x9F\x98\x80");
}

// corvane-cli inspect and extract, run as a user would.
struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

CliResult RunCli(const TempDir& dir, const std::vector<std::string>& arguments)
{
    std::string command = Quote(CORVANE_CLI_PATH);
    for (const std::string& argument : arguments)
        command += " " + Quote(argument);
    command
        += " >" + Quote(dir.File("cli.out")) + " 2>" + Quote(dir.File("cli.err")) + " </dev/null";
    const int status = std::system(command.c_str());
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = ReadWholeFile(dir.File("cli.out"));
    result.err = ReadWholeFile(dir.File("cli.err"));
    return result;
}

TEST(PackageCli, InspectShowsTheHeadAndEachRecord)
{
    TempDir dir;
    const std::string path = WriteSamplePackage(dir);
    const CliResult text = RunCli(dir, { "inspect", path });
    EXPECT_EQ(text.exitCode, 0) << text.err;
    EXPECT_NE(text.out.find("channel list of " + std::to_string(channels.size()) + " bytes"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("feed " + std::string(10 - 2, ' ') + "35  http://h/feed.rss\n"),
        std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("amr           0  http://h/e.amr\n"), std::string::npos) << text.out;

    const CliResult json = RunCli(dir, { "inspect", "--json", path });
    EXPECT_EQ(json.exitCode, 0) << json.err;
    const std::size_t first = 12 + channels.size();
    const std::size_t second = first + 4 + 34 + 8 + feed.size();
    const std::size_t third = second + 4 + 30 + 8 + audio.size();
    EXPECT_EQ(json.out,
        "{\"sync\": 1, \"channels\": " + std::to_string(channels.size())
            + ", \"records\": [{\"offset\": " + std::to_string(first)
            + ", \"type\": 0, \"name\": \"http://h/feed.rss\", \"length\": 35}, "
              "{\"offset\": "
            + std::to_string(second)
            + ", \"type\": 1, \"name\": \"http://h/\xC3\xA9p.mp3\", \"length\": 12}, "
              "{\"offset\": "
            + std::to_string(third)
            + ", \"type\": 2, \"name\": \"http://h/e.amr\", \"length\": 0}]}\n");

    const CliResult bare
        = RunCli(dir, { "inspect", "--json", dir.Write("bare", Le32(PACKAGE_MAGIC) + Le32(0)) });
    EXPECT_EQ(bare.out, "{\"sync\": 0, \"channels\": null, \"records\": []}\n");
}

TEST(PackageCli, InspectOfACutPackageFailsNamingFileAndOffset)
{
    TempDir dir;
    const std::string whole = ReadWholeFile(WriteSamplePackage(dir));
    // Three bytes short of the audio's end: the last record (40 bytes, no data) and 3 more.
    const std::string path = dir.Write("cut.mrf", whole.substr(0, whole.size() - 43));
    const CliResult json = RunCli(dir, { "inspect", path, "--json" });
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_TRUE(json.out.empty()) << json.out;
    EXPECT_NE(json.err.find(path + ": at offset "), std::string::npos) << json.err;
    const CliResult text = RunCli(dir, { "inspect", path });
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_NE(text.out.find("http://h/feed.rss"), std::string::npos) << text.out;
    EXPECT_NE(text.err.find("runs past the end"), std::string::npos) << text.err;
    EXPECT_EQ(RunCli(dir, { "inspect", dir.File("absent") }).exitCode, 1);
}

TEST(PackageCli, UsageAndHelp)
{
    TempDir dir;
    EXPECT_EQ(RunCli(dir, { "inspect" }).exitCode, 2);
    EXPECT_EQ(RunCli(dir, { "inspect", "a", "b" }).exitCode, 2);
    EXPECT_EQ(RunCli(dir, { "inspect", "a", "--bogus" }).exitCode, 2);
    EXPECT_EQ(RunCli(dir, { "extract", "a" }).exitCode, 2);
    const CliResult inspectHelp = RunCli(dir, { "inspect", "--help" });
    EXPECT_EQ(inspectHelp.exitCode, 0);
    EXPECT_NE(inspectHelp.out.find("usage: corvane-cli inspect"), std::string::npos);
    const CliResult extractHelp = RunCli(dir, { "extract", "--help" });
    EXPECT_EQ(extractHelp.exitCode, 0);
    EXPECT_NE(extractHelp.out.find("usage: corvane-cli extract"), std::string::npos);
}

TEST(PackageCli, ExtractWritesRecordsUnderTheirCacheNames)
{
    TempDir dir;
    const std::string path = WriteSamplePackage(dir);
    const std::string target = dir.File("out/nested");
    const CliResult result = RunCli(dir, { "--home", dir.File("home"), "extract", path, target });
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(ReadWholeFile(target + "/Corvane.Cha"), channels);
    EXPECT_EQ(ReadWholeFile(target + "/h_feed_rss.xml"), feed);
    EXPECT_EQ(ReadWholeFile(target + "/h_\xC3\xA9p_mp3.mp3"), audio);
    EXPECT_TRUE(FileExists(target + "/h_e_amr.amr"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(target), {}), 4);
    EXPECT_FALSE(FileExists(dir.File("home"))); // naming files creates no program folder
}

TEST(PackageCli, ExtractKeepsNamesInsideTheFolderAndReportsABreak)
{
    TempDir dir;
    // Hostile names: a path up and out, and a terminal escape.
    const std::string bytes = Le32(PACKAGE_MAGIC) + Le32(0) + Record("../../evil", 0, "e")
        + Record("/etc/x\x1b[2J", 1, "m") + Record("cut", 0, "") + Le32(9);
    const std::string path = dir.Write("hostile.mrf", bytes);
    const CliResult result = RunCli(dir, { "extract", path, dir.File("out") });
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(path + ": at offset"), std::string::npos) << result.err;
    EXPECT_EQ(ReadWholeFile(dir.File("out/______evil.xml")), "e");
    EXPECT_EQ(ReadWholeFile(dir.File("out/_etc_x\x1b_2J.mp3")), "m");
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
    EXPECT_FALSE(FileExists(dir.Path() + "/../evil.xml"));

    const CliResult notPackage
        = RunCli(dir, { "extract", dir.Write("x", "not a package"), dir.File("o2") });
    EXPECT_EQ(notPackage.exitCode, 1);
    EXPECT_NE(notPackage.err.find("bad magic"), std::string::npos);
    EXPECT_FALSE(FileExists(dir.File("o2")));
}

} // namespace
