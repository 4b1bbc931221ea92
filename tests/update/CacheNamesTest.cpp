#include "update/CacheNames.h"

#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

class CacheNames : public ::testing::Test {
protected:
    TempDir home;
    ScopedEnv corvaneHome {"CORVANE_HOME", home.Path()};
    std::string Data() const { return home.Path() + "/data/"; }
};

TEST_F(CacheNames, PunctuationBecomesUnderscoreAndKindChoosesTheExtension)
{
    EXPECT_EQ(CacheFileName("http://host/a-b.rss?x=1", 0), Data() + "host_a_b_rss_x_1.xml");
    EXPECT_EQ(CacheFileName("http://host/a-b.rss?x=1", 1), Data() + "host_a_b_rss_x_1.mp3");
    EXPECT_EQ(CacheFileName("http://host/a-b.rss?x=1", 2), Data() + "host_a_b_rss_x_1.amr");
    EXPECT_EQ(CacheFileName("http://host/a-b.rss?x=1", 3), Data() + "host_a_b_rss_x_1.xml");
    EXPECT_EQ(CacheFileName("http://host/a-b.rss?x=1", -1), Data() + "host_a_b_rss_x_1.xml");
    EXPECT_EQ(CacheFileNamePart("http://host/a-b.rss?x=1", 1), "host_a_b_rss_x_1.mp3");
}

TEST_F(CacheNames, BlanksAroundTheAddressDoNotCount)
{
    const std::string plain = CacheFileName("http://host/feed", 0);
    EXPECT_EQ(CacheFileName("  \t http://host/feed \r\n", 0), plain);
    // Blanks inside stay blanks.
    EXPECT_EQ(CacheFileNamePart("http://host/a b", 0), "host_a b.xml");
}

TEST_F(CacheNames, OnlyALeadingLowerCaseHttpSchemeIsRemoved)
{
    EXPECT_EQ(CacheFileNamePart("https://host/f", 0), "https___host_f.xml");
    EXPECT_EQ(CacheFileNamePart("HTTP://host/f", 0), "HTTP___host_f.xml");
    EXPECT_EQ(CacheFileNamePart("xhttp://host/f", 0), "xhttp___host_f.xml");
    EXPECT_EQ(CacheFileNamePart("http://http://h", 0), "http___h.xml");
}

TEST_F(CacheNames, AddressesDifferingInPunctuationShareAFile)
{
    EXPECT_EQ(CacheFileName("http://host/a.b", 0), CacheFileName("http://host/a-b", 0));
}

TEST_F(CacheNames, EveryByteValueIsTreatedAsDescribed)
{
    // In two halves, so that no name reaches the length at which it is shortened.
    for (int start : {1, 128}) {
        std::string address = "a";
        for (int byte = start; byte < start + 127 && byte < 256; ++byte)
            address.push_back(static_cast<char>(byte));
        address += "z";
        const std::string name = CacheFileNamePart(address, 0);
        ASSERT_EQ(name.size(), address.size() + 4);
        for (std::size_t i = 1; i + 1 < address.size(); ++i) {
            const int byte = static_cast<unsigned char>(address[i]);
            const bool punctuation = (byte >= 33 && byte <= 47) || (byte >= 58 && byte <= 64)
                || (byte >= 91 && byte <= 96) || (byte >= 123 && byte <= 127);
            const char expected = punctuation ? '_' : static_cast<char>(byte);
            EXPECT_EQ(name[i], expected) << "byte " << byte;
        }
    }
    // Non-ASCII text is copied as it is.
    EXPECT_EQ(CacheFileNamePart("http://h\xC3\xA9.example/\xE2\x82\xAC", 0),
        "h\xC3\xA9_example_\xE2\x82\xAC.xml");
}

TEST_F(CacheNames, TextAfterAZeroByteIsNoPartOfTheAddress)
{
    EXPECT_EQ(CacheFileNamePart(std::string("http://a/b\0/../../etc", 21), 0), "a_b.xml");
}

TEST_F(CacheNames, LongNamesAreShortenedTo250KeepingTheExtension)
{
    const std::size_t room = 260 - Data().size() - 4; // address bytes that give exactly 260
    const std::string exact = CacheFileName(std::string(room, 'x'), 0);
    EXPECT_EQ(exact.size(), 260u);
    EXPECT_EQ(exact, Data() + std::string(room, 'x') + ".xml");
    for (int kind : {0, 1, 2}) {
        const std::string shortened = CacheFileName(std::string(room + 1, 'y'), kind);
        const char* extension = kind == 1 ? ".mp3" : kind == 2 ? ".amr" : ".xml";
        EXPECT_EQ(shortened, Data() + std::string(250 - 4 - Data().size(), 'y') + extension);
        const std::string longer = CacheFileName(std::string(5000, 'y'), kind);
        EXPECT_EQ(longer, shortened);
    }
}

TEST(CacheNamesFolder, AVeryLongFolderNeverPushesTheFileOutOfIt)
{
    TempDir base;
    const std::string home
        = base.Path() + "/" + std::string(120, 'd') + "/" + std::string(120, 'e');
    ScopedEnv corvaneHome("CORVANE_HOME", home);
    const std::string data = home + "/data/";
    ASSERT_GT(data.size() + 4, 250u);
    const std::string name = CacheFileName("http://host/feed", 1);
    EXPECT_EQ(name.substr(0, data.size()), data);
    EXPECT_EQ(name.substr(data.size()), "h.mp3");
}

TEST(CacheNamesFolder, ProgramFolderComesFromTheEnvironmentAndIsCreated)
{
    TempDir base;
    {
        ScopedEnv corvaneHome("CORVANE_HOME", base.Path() + "/own");
        EXPECT_EQ(GetProgramFolder(), base.Path() + "/own/");
        EXPECT_TRUE(std::filesystem::is_directory(base.Path() + "/own"));
        EXPECT_EQ(GetChannelsFilePath(), base.Path() + "/own/Corvane.Cha");
        EXPECT_EQ(GetDataFolder(), base.Path() + "/own/data/");
        EXPECT_FALSE(std::filesystem::exists(base.Path() + "/own/data"));
        EXPECT_TRUE(CreateDataFolder());
        EXPECT_TRUE(std::filesystem::is_directory(base.Path() + "/own/data"));
    }
    ScopedEnv noHome("CORVANE_HOME", std::nullopt);
    ScopedEnv userHome("HOME", base.Path() + "/user");
    {
        ScopedEnv xdg("XDG_DATA_HOME", base.Path() + "/xdg/");
        EXPECT_EQ(GetProgramFolder(), base.Path() + "/xdg/Corvane/");
    }
    {
        // A relative XDG_DATA_HOME is invalid and ignored.
        ScopedEnv xdg("XDG_DATA_HOME", "relative");
        EXPECT_EQ(GetProgramFolder(), base.Path() + "/user/.local/share/Corvane/");
    }
    ScopedEnv xdg("XDG_DATA_HOME", std::nullopt);
    EXPECT_EQ(GetProgramFolder(), base.Path() + "/user/.local/share/Corvane/");
    EXPECT_TRUE(std::filesystem::is_directory(base.Path() + "/user/.local/share/Corvane"));
}

TEST(CacheNamesFolder, NamePartCreatesNoFolder)
{
    TempDir base;
    ScopedEnv corvaneHome("CORVANE_HOME", base.Path() + "/never");
    EXPECT_EQ(CacheFileNamePart("http://a/b", 2), "a_b.amr");
    EXPECT_FALSE(std::filesystem::exists(base.Path() + "/never"));
}

mode_t ModeOf(const std::string& path)
{
    struct stat status { };
    lstat(path.c_str(), &status);
    return status.st_mode;
}

// The kept conversion's name: the MP3's name, "~a", a digest of the MP3's version and the
// settings, ".amr".
TEST_F(CacheNames, KeptConversionNameFollowsTheMp3AndTheSettings)
{
    const std::string mp3 = CacheFileName("http://host/e.mp3", CACHE_MP3);
    ASSERT_EQ(mkdir(Data().c_str(), 0700), 0);
    EXPECT_EQ(KeptAmrPath(mp3, {}), ""); // not there yet
    {
        std::ofstream(mp3, std::ios::binary) << "first";
    }
    const AmrSettings settings {0, 4, 0, 1200};
    const std::string kept = KeptAmrPath(mp3, settings);
    ASSERT_EQ(kept.size(), (Data() + "host_e_mp3~a0123456789abcdef.amr").size()) << kept;
    EXPECT_EQ(kept.rfind(Data() + "host_e_mp3~a", 0), 0u) << kept;
    EXPECT_TRUE(IsKeptAmrName(kept.substr(Data().size())));
    EXPECT_EQ(KeptAmrPath(mp3, settings), kept);

    // Every setting counts; the length only with the limit on.
    EXPECT_NE(KeptAmrPath(mp3, {1, 4, 0, 1200}), kept);
    EXPECT_NE(KeptAmrPath(mp3, {0, 5, 0, 1200}), kept);
    EXPECT_NE(KeptAmrPath(mp3, {0, 4, 1, 1200}), kept);
    EXPECT_EQ(KeptAmrPath(mp3, {0, 4, 0, 60}), kept);
    EXPECT_NE(KeptAmrPath(mp3, {0, 4, 1, 60}), KeptAmrPath(mp3, {0, 4, 1, 1200}));
    EXPECT_EQ(KeptAmrPath(mp3, {0, 4, 2, 60}), KeptAmrPath(mp3, {0, 4, 1, 60}));

    // Another version: a new time to the nanosecond, or a new file put in its place.
    struct stat status { };
    ASSERT_EQ(::stat(mp3.c_str(), &status), 0);
    timespec times[2] = {status.st_atim, status.st_mtim};
    times[1].tv_nsec = (times[1].tv_nsec + 1) % 1000000000;
    ASSERT_EQ(utimensat(AT_FDCWD, mp3.c_str(), times, 0), 0);
    const std::string touched = KeptAmrPath(mp3, settings);
    EXPECT_NE(touched, kept);
    const std::string other = Data() + "other";
    {
        std::ofstream(other, std::ios::binary) << "first";
    }
    ASSERT_EQ(utimensat(AT_FDCWD, other.c_str(), times, 0), 0);
    ASSERT_EQ(std::rename(other.c_str(), mp3.c_str()), 0);
    EXPECT_NE(KeptAmrPath(mp3, settings), touched);
}

TEST_F(CacheNames, KeptConversionNamesNeverMeetOtherCacheNames)
{
    const std::string address = "http://host/e.mp3";
    for (int kind : {CACHE_FEED, CACHE_MP3, CACHE_AMR}) {
        for (int variant = 0; variant < 4; ++variant)
            EXPECT_FALSE(IsKeptAmrName(CacheFileNameVariant(address, kind, variant)))
                << kind << " " << variant;
    }
    EXPECT_FALSE(IsKeptAmrName("x~a0123456789abcde.amr")); // 15 digits
    EXPECT_FALSE(IsKeptAmrName("x~a0123456789abcdeF.amr"));
    EXPECT_FALSE(IsKeptAmrName("~a0123456789abcdef.amr")); // no name before it
    EXPECT_TRUE(IsKeptAmrName("x~a0123456789abcdef.amr"));
}

// The kept conversions of one MP3 are told from those of any other, also of its variants; cut
// names are never claimed for it.
TEST_F(CacheNames, KeptConversionsOfOneMp3)
{
    const std::string mp3 = CacheFileName("http://host/e.mp3", CACHE_MP3);
    EXPECT_TRUE(IsWholeKeptAmrNameOf("host_e_mp3~a0123456789abcdef.amr", mp3));
    EXPECT_FALSE(IsWholeKeptAmrNameOf("host_e_mp3.amr", mp3));
    EXPECT_FALSE(IsWholeKeptAmrNameOf("host_e_mp3x~a0123456789abcdef.amr", mp3));
    EXPECT_FALSE(IsWholeKeptAmrNameOf("host_e_mp3~0123456789abcdef~a0123456789abcdef.amr", mp3));
    const std::string variant = CacheFileNameVariant("http://host/e.mp3", CACHE_MP3, 1);
    const std::string variantStem
        = variant.substr(Data().size(), variant.size() - Data().size() - 4);
    EXPECT_TRUE(IsWholeKeptAmrNameOf(variantStem + "~a0123456789abcdef.amr", variant));
    EXPECT_FALSE(IsWholeKeptAmrNameOf(variantStem + "~a0123456789abcdef.amr", mp3));

    const std::string longMp3 = CacheFileName("http://host/" + std::string(300, 'n'), CACHE_MP3);
    const std::string longStem = longMp3.substr(Data().size(), longMp3.size() - Data().size() - 4);
    EXPECT_FALSE(IsWholeKeptAmrNameOf(longStem + "~a0123456789abcdef.amr", longMp3));
}

// A long MP3 name: the kept name is cut to 250 bytes, keeping "~a", the digest and ".amr".
TEST_F(CacheNames, LongKeptConversionNamesAreShortenedKeepingTheDigest)
{
    ASSERT_EQ(mkdir(Data().c_str(), 0700), 0);
    const std::string mp3 = CacheFileName("http://host/" + std::string(300, 'n'), CACHE_MP3);
    ASSERT_EQ(mp3.size(), 250u);
    {
        std::ofstream(mp3, std::ios::binary) << "audio";
    }
    const std::string kept = KeptAmrPath(mp3, {});
    EXPECT_EQ(kept.size(), 250u);
    EXPECT_EQ(kept.rfind(Data() + "host_nnn", 0), 0u);
    EXPECT_TRUE(IsKeptAmrName(kept.substr(Data().size())));

    const std::string shortMp3 = CacheFileName("http://host/" + std::string(200, 's'), CACHE_MP3);
    {
        std::ofstream(shortMp3, std::ios::binary) << "audio";
    }
    const std::string shortKept = KeptAmrPath(shortMp3, {});
    const std::size_t whole = shortMp3.size() - 4 + 22; // "~a" + 16 digits + ".amr"
    EXPECT_EQ(shortKept.size(), whole > 260 ? 250u : whole);
    EXPECT_TRUE(IsKeptAmrName(shortKept.substr(Data().size())));
}

class PrivateTemp : public ::testing::Test {
protected:
    TempDir tmp;
    ScopedEnv tmpdir {"TMPDIR", tmp.Path()};
    ScopedEnv runtime {"XDG_RUNTIME_DIR", std::nullopt};
    std::string Usual() const { return tmp.Path() + "/corvane-" + std::to_string(getuid()); }

    // A private folder of ours, other than the usual one, inside TMPDIR.
    void ExpectPrivateFallback(const std::string& folder)
    {
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.back(), '/');
        EXPECT_NE(folder, Usual() + "/");
        EXPECT_EQ(folder.rfind(Usual() + "-", 0), 0u) << folder;
        const std::string path = folder.substr(0, folder.size() - 1);
        EXPECT_TRUE(S_ISDIR(ModeOf(path)));
        EXPECT_EQ(ModeOf(path) & 0777, 0700u);
        // The same folder for every caller of this process.
        EXPECT_EQ(GetPrivateTempFolder(), folder);
    }
};

TEST_F(PrivateTemp, MadeWithMode0700)
{
    EXPECT_EQ(GetPrivateTempFolder(), Usual() + "/");
    EXPECT_EQ(ModeOf(Usual()) & 0777, 0700u);
    EXPECT_EQ(GetPrivateTempFolder(), Usual() + "/"); // found again, not made anew
}

TEST_F(PrivateTemp, AnOpenFolderUnderTheUsualNameIsRefused)
{
    ASSERT_EQ(mkdir(Usual().c_str(), 0700), 0);
    chmod(Usual().c_str(), 0777);
    ExpectPrivateFallback(GetPrivateTempFolder());
    EXPECT_EQ(ModeOf(Usual()) & 0777, 0777u); // left alone, not repaired
}

TEST_F(PrivateTemp, ALinkUnderTheUsualNameIsRefused)
{
    TempDir elsewhere; // private, ours: only the link itself is wrong
    chmod(elsewhere.Path().c_str(), 0700);
    ASSERT_EQ(symlink(elsewhere.Path().c_str(), Usual().c_str()), 0);
    ExpectPrivateFallback(GetPrivateTempFolder());
}

TEST_F(PrivateTemp, AFolderOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    ASSERT_EQ(mkdir(Usual().c_str(), 0700), 0);
    ASSERT_EQ(chown(Usual().c_str(), 65534, 65534), 0);
    ExpectPrivateFallback(GetPrivateTempFolder());
}

TEST_F(PrivateTemp, RuntimeFolderIsUsedOnlyWhenPrivate)
{
    TempDir runtimeFolder;
    chmod(runtimeFolder.Path().c_str(), 0700);
    {
        ScopedEnv set("XDG_RUNTIME_DIR", runtimeFolder.Path());
        EXPECT_EQ(GetPrivateTempFolder(), runtimeFolder.Path() + "/corvane/");
        EXPECT_EQ(ModeOf(runtimeFolder.Path() + "/corvane") & 0777, 0700u);
    }
    chmod(runtimeFolder.Path().c_str(), 0755);
    ScopedEnv set("XDG_RUNTIME_DIR", runtimeFolder.Path());
    EXPECT_EQ(GetPrivateTempFolder(), Usual() + "/");
}

TEST_F(PrivateTemp, EachProgramFolderHasABackupFolderOfItsOwn)
{
    TempDir programs;
    std::string first, second;
    {
        ScopedEnv home("CORVANE_HOME", programs.Path() + "/R");
        first = GetBackupFolder();
    }
    {
        ScopedEnv home("CORVANE_HOME", programs.Path() + "/D");
        second = GetBackupFolder();
    }
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(first.rfind(Usual() + "/backups-", 0), 0u) << first;
    EXPECT_EQ(first.size(), Usual().size() + std::string("/backups-").size() + 16 + 1) << first;
    EXPECT_EQ(first.back(), '/');
    EXPECT_EQ(ModeOf(first.substr(0, first.size() - 1)) & 0777, 0700u);

    // Another spelling of the same folder, a trailing '/' or a link, shares its backups.
    ASSERT_EQ(symlink((programs.Path() + "/R").c_str(), (programs.Path() + "/link").c_str()), 0);
    for (const char* spelling : {"/R/", "/link", "/./R"}) {
        ScopedEnv home("CORVANE_HOME", programs.Path() + spelling);
        EXPECT_EQ(GetBackupFolder(), first) << spelling;
    }

    // A backup folder that stands open to others is refused, not used or repaired.
    chmod(first.c_str(), 0755);
    ScopedEnv home("CORVANE_HOME", programs.Path() + "/R");
    EXPECT_EQ(GetBackupFolder(), "");
    EXPECT_EQ(ModeOf(first.substr(0, first.size() - 1)) & 0777, 0755u);
}

} // namespace
