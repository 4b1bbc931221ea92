#include "update/PackageReader.h"

#include "update/PackageTestSupport.h"

#include "platform/Paths.h"
#include "support/TempDir.h"
#include "update/Package.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

using namespace corvane;

namespace {

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
        {"", "at offset 0: cut short", 0},
        {Le32(0x12345678) + Le32(0), "at offset 0: bad magic number 0x12345678", 0},
        {Le32(PACKAGE_MAGIC) + Le32(2), "at offset 4: synchronize flag 2", 0},
        {Le32(PACKAGE_MAGIC) + Le32(1) + Le32(5) + "abcd", "at offset 8: channel list length 5", 0},
        {head + Le32(3) + "abc" + Le32(0) + Le32(0), "at offset 8: odd name length 3", 0},
        {head + Record("a", 0, "x") + Record("b", 3, "y"), "at offset 29: unknown record type 3",
            1},
        {head + Record("a", 0, "x") + Le32(0xFFFFFFFE), "at offset 23: name length 4294967294", 1},
        {head + Le32(0) + Le32(1) + Le32(0xFFFFFFFF), "at offset 16: data length 4294967295", 0},
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
} // namespace
