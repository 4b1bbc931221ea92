// Conversions are kept in the cache and packed again while the MP3 and the conversion settings
// stay the same.
#include "UpdateTestSupport.h"

#include "audio/Mp3ToAmr.h"
#include "update/CacheNames.h"

#include <algorithm>
#include <filesystem>

using namespace corvane;

namespace {

class KeptConversionTest : public UpdateFixture {
protected:
    void SetUp() override
    {
        UpdateFixture::SetUp();
        server.Serve("/p.rss",
            Rss("P",
                {{server.Url("/e1.mp3"), "audio/mpeg"}, {server.Url("/e2.mp3"), "audio/mpeg"}}));
        server.ServeWithLastModified("/e1.mp3", TestData("tone-a.mp3"), 1700000000, "audio/mpeg");
        server.ServeWithLastModified("/e2.mp3", TestData("tone-b.mp3"), 1700000000, "audio/mpeg");
    }

    UpdateJobSetup AmrSetup(bool repack = false) const
    {
        UpdateJobSetup setup = Setup({server.Url("/p.rss")});
        setup.repack = repack;
        setup.settings.podcastFormat = 1;
        return setup;
    }

    std::string Mp3(const std::string& path) const
    {
        return CacheFileName(server.Url(path), CACHE_MP3);
    }
    static std::string Kept(const std::string& mp3, const CorvaneSettings& settings)
    {
        return KeptAmrPath(mp3, AmrSettingsFrom(settings));
    }

    static bool Converted(const RecordingListener& listener)
    {
        const auto events = listener.Events();
        return std::any_of(events.begin(), events.end(),
            [](const std::string& event) { return event.rfind("status Converting ", 0) == 0; });
    }

    static std::filesystem::file_time_type Modified(const std::string& path)
    {
        return std::filesystem::last_write_time(path);
    }
};

// The second update gets 304 for both MP3s and packs the kept conversions: the same package,
// no conversion, the kept files untouched.
TEST_F(KeptConversionTest, SecondUpdatePacksTheKeptConversions)
{
    RecordingListener first;
    const UpdateJobResult firstResult = Run(AmrSetup(), first);
    ASSERT_TRUE(firstResult.packageWritten);
    EXPECT_FALSE(firstResult.anyFailed);
    EXPECT_EQ(firstResult.conversions, 2u);
    EXPECT_TRUE(Converted(first));
    const std::string package = ReadWholeFile(Output());
    const std::string kept = Kept(Mp3("/e1.mp3"), AmrSetup().settings);
    ASSERT_TRUE(FileExists(kept));
    EXPECT_TRUE(IsKeptAmrName(std::filesystem::path(kept).filename().string()));
    struct stat status { };
    ASSERT_EQ(::stat(kept.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    const auto keptTime = Modified(kept);

    // What was kept is what a conversion of the cached MP3 gives now.
    const std::string fresh = temp.File("fresh.amr");
    const AmrSettings amr = AmrSettingsFrom(AmrSetup().settings);
    ASSERT_EQ(ConvertMp3ToAmr(Mp3("/e1.mp3"), fresh, amr.mode, 0, amr.volumeIndex, amr.limitOn,
                  amr.lengthSeconds),
        0);
    EXPECT_TRUE(ReadWholeFile(kept) == ReadWholeFile(fresh));

    RecordingListener second;
    const UpdateJobResult secondResult = Run(AmrSetup(), second);
    ASSERT_TRUE(secondResult.packageWritten);
    EXPECT_FALSE(secondResult.anyFailed);
    EXPECT_EQ(secondResult.conversions, 0u);
    EXPECT_FALSE(Converted(second));
    EXPECT_TRUE(ReadWholeFile(Output()) == package);
    EXPECT_EQ(Modified(kept), keptTime);
    ASSERT_EQ(server.Requests("/e1.mp3").size(), 2u);
    EXPECT_EQ(server.Requests("/e1.mp3")[1].headers.count("If-Modified-Since"), 1u);
    // Each kept enclosure is announced once, as a download, and packed at once.
    const auto events = second.Events();
    EXPECT_EQ(
        std::count(events.begin(), events.end(), "status Downloading " + server.Url("/e1.mp3")), 1);
}

TEST_F(KeptConversionTest, RepackAfterTheUpdateConvertsNothing)
{
    RecordingListener update;
    ASSERT_TRUE(Run(AmrSetup(), update).packageWritten);
    const std::string package = ReadWholeFile(Output());
    const int hits = server.Hits("/p.rss") + server.Hits("/e1.mp3") + server.Hits("/e2.mp3");

    RecordingListener repack;
    const UpdateJobResult result = Run(AmrSetup(true), repack);
    ASSERT_TRUE(result.packageWritten);
    EXPECT_FALSE(result.anyFailed);
    EXPECT_EQ(result.conversions, 0u);
    EXPECT_FALSE(Converted(repack));
    EXPECT_TRUE(ReadWholeFile(Output()) == package);
    EXPECT_EQ(server.Hits("/p.rss") + server.Hits("/e1.mp3") + server.Hits("/e2.mp3"), hits);
}

// Any of the four conversion settings makes another conversion, which replaces the one of the
// settings before; the length does not count while the limit is off.
TEST_F(KeptConversionTest, ChangedSettingsConvertAgain)
{
    RecordingListener first;
    ASSERT_EQ(Run(AmrSetup(), first).conversions, 2u);
    const std::string firstKept = Kept(Mp3("/e1.mp3"), AmrSetup().settings);
    const std::string firstBytes = ReadWholeFile(firstKept);

    UpdateJobSetup louder = AmrSetup(true);
    louder.settings.volume = 6;
    RecordingListener second;
    const UpdateJobResult result = Run(louder, second);
    EXPECT_EQ(result.conversions, 2u);
    EXPECT_TRUE(Converted(second));
    const std::string louderKept = Kept(Mp3("/e1.mp3"), louder.settings);
    EXPECT_NE(louderKept, firstKept);
    EXPECT_TRUE(FileExists(louderKept));
    EXPECT_FALSE(FileExists(firstKept));
    EXPECT_FALSE(ReadWholeFile(louderKept) == firstBytes);

    UpdateJobSetup otherLength = louder;
    otherLength.settings.lengthLimit = 5; // the limit is off
    RecordingListener third;
    EXPECT_EQ(Run(otherLength, third).conversions, 0u);

    for (auto change : {+[](CorvaneSettings& s) { s.compression = 3; },
             +[](CorvaneSettings& s) { s.lengthLimitOn = 1; },
             +[](CorvaneSettings& s) { s.volume = 4; }}) {
        UpdateJobSetup changed = louder;
        change(changed.settings);
        RecordingListener listener;
        EXPECT_EQ(Run(changed, listener).conversions, 2u);
    }
    // Back at the first settings: the same bytes as the first time.
    EXPECT_TRUE(ReadWholeFile(firstKept) == firstBytes);
}

// A server that never answers 304 gives a new MP3 file at every update: each is converted, and
// only the conversion of the newest stays.
TEST_F(KeptConversionTest, OneConversionPerEpisodeStays)
{
    server.Serve("/e1.mp3", TestData("tone-a.mp3"), "audio/mpeg");
    server.Serve("/e2.mp3", TestData("tone-b.mp3"), "audio/mpeg");
    for (int run = 0; run < 3; ++run) {
        RecordingListener listener;
        EXPECT_EQ(Run(AmrSetup(), listener).conversions, 2u);
    }
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home + "/data")) {
        if (entry.path().extension() == ".amr")
            ++kept;
    }
    EXPECT_EQ(kept, 2);
    EXPECT_TRUE(FileExists(Kept(Mp3("/e1.mp3"), AmrSetup().settings)));
}

// A new version of an MP3 on the server replaces the cached file: it is converted again, the
// unchanged one is not.
TEST_F(KeptConversionTest, ChangedMp3ConvertsAgain)
{
    RecordingListener first;
    ASSERT_EQ(Run(AmrSetup(), first).conversions, 2u);
    const std::string oldKept = Kept(Mp3("/e1.mp3"), AmrSetup().settings);

    server.ServeWithLastModified("/e1.mp3", TestData("tone-b.mp3"), 1700000100, "audio/mpeg");
    RecordingListener second;
    const UpdateJobResult result = Run(AmrSetup(), second);
    EXPECT_FALSE(result.anyFailed);
    EXPECT_EQ(result.conversions, 1u);
    const std::string newKept = Kept(Mp3("/e1.mp3"), AmrSetup().settings);
    EXPECT_NE(newKept, oldKept);
    ASSERT_TRUE(FileExists(newKept));
    EXPECT_FALSE(FileExists(oldKept)); // made from a file that is gone
    const Unpacked unpacked = Unpack(Output());
    ASSERT_EQ(unpacked.data.size(), 3u);
    EXPECT_TRUE(unpacked.data[1] == ReadWholeFile(newKept));
    EXPECT_TRUE(unpacked.data[1] == unpacked.data[2]); // both now hold the same tone
}

// A conversion that fails leaves nothing at the kept name, and the next job tries again.
TEST_F(KeptConversionTest, FailedConversionKeepsNothing)
{
    server.Serve("/p.rss", Rss("P", {{server.Url("/text.mp3"), "audio/mpeg"}}));
    server.ServeWithLastModified("/text.mp3", std::string(3000, 'x'), 1700000000, "audio/mpeg");
    RecordingListener first;
    const UpdateJobResult result = Run(AmrSetup(), first);
    EXPECT_TRUE(result.anyFailed);
    EXPECT_EQ(result.conversions, 1u);
    EXPECT_FALSE(FileExists(Kept(Mp3("/text.mp3"), AmrSetup().settings)));
    for (const auto& entry : std::filesystem::directory_iterator(home + "/data"))
        EXPECT_NE(entry.path().extension(), ".amr") << entry.path();

    RecordingListener second;
    EXPECT_EQ(Run(AmrSetup(), second).conversions, 1u);
}

} // namespace
