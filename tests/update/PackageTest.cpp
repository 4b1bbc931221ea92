#include "update/Package.h"
#include "update/PackageReader.h"

#include "support/TempDir.h"
#include "update/EmbedReference.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

std::string Le32(std::uint32_t value)
{
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
        static_cast<char>(value >> 24)};
}

// Writes a package at dir/out.mrf with body between the magic and Commit; returns its bytes.
std::string BuildPackage(const TempDir& dir, const std::function<void(CPackageFile&)>& body)
{
    std::string error;
    auto package = CPackageFile::Create(dir.File("out.mrf"), error);
    EXPECT_TRUE(package) << error;
    if (!package)
        return {};
    EXPECT_TRUE(WritePackageMagic(*package));
    body(*package);
    EXPECT_TRUE(package->Commit()) << package->ErrorText();
    return ReadWholeFile(dir.File("out.mrf"));
}

// The data EmbedFile writes for document, read back through the package reader.
std::string EmbeddedData(const TempDir& dir, const std::string& document)
{
    const std::string source = dir.Write("doc.xml", document);
    BuildPackage(dir, [&](CPackageFile& package) {
        EXPECT_TRUE(WriteChannelsSection(package, 0, ""));
        EXPECT_TRUE(WritePackageRecord(package, "http://host/feed", RECORD_FEED, source));
    });
    CPackageReader reader;
    EXPECT_TRUE(reader.Open(dir.File("out.mrf"))) << reader.Error();
    if (reader.Records().size() != 1)
        return "<no record>";
    const PackageRecord& record = reader.Records().front();
    return reader.ReadBytes(record.dataOffset, record.dataLength).value_or("<unreadable>");
}

class PieceSize {
public:
    explicit PieceSize(std::size_t bytes) { SetEmbedPieceSizeForTesting(bytes); }
    ~PieceSize() { SetEmbedPieceSizeForTesting(0); }
};

TEST(PackageHead, SyncOffIsEightBytesAndRecordsStartAtEight)
{
    TempDir dir;
    const std::string bytes = BuildPackage(dir, [&](CPackageFile& package) {
        EXPECT_TRUE(WriteChannelsSection(package, 0, dir.Write("Corvane.Cha", "ignored")));
    });
    EXPECT_EQ(bytes, std::string("\x0A\x56\x01\x00\x00\x00\x00\x00", 8));
}

TEST(PackageHead, SyncOnCarriesTheChannelsFileUnchanged)
{
    TempDir dir;
    // CR LF line ends and a zero byte: the channel list is never altered.
    std::string channels(1000, 'c');
    channels.replace(10, 2, "\r\n");
    channels[500] = '\0';
    channels.replace(600, 9, "<!DOCTYPE");
    const std::string path = dir.Write("Corvane.Cha", channels);
    const std::string bytes = BuildPackage(dir, [&](CPackageFile& package) {
        EXPECT_TRUE(WriteChannelsSection(package, 7, path)); // any nonzero flag is 1
        EXPECT_EQ(package.Size(), 4u + 1008u);
        EXPECT_TRUE(WritePackageRecord(package, "a", RECORD_FEED, dir.Write("a", "x")));
    });
    ASSERT_GE(bytes.size(), 1012u);
    EXPECT_EQ(bytes.substr(4, 8), std::string("\x01\x00\x00\x00\xE8\x03\x00\x00", 8));
    EXPECT_EQ(bytes.substr(12, 1000), channels);
    EXPECT_EQ(bytes.substr(1012, 4), Le32(2)); // the first record begins at 12 + 1000
}

TEST(PackageHead, MissingOrEmptyChannelsFileGivesLengthZero)
{
    TempDir dir;
    for (const std::string& path : {dir.File("absent.Cha"), dir.Write("empty.Cha", "")}) {
        const std::string bytes = BuildPackage(dir,
            [&](CPackageFile& package) { EXPECT_TRUE(WriteChannelsSection(package, 1, path)); });
        EXPECT_EQ(bytes.substr(4), std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8)) << path;
    }
}

TEST(PackageRecordName, TenAsciiCharactersGiveTwentyBytes)
{
    TempDir dir;
    const std::string bytes = BuildPackage(dir, [&](CPackageFile& package) {
        WriteChannelsSection(package, 0, "");
        EXPECT_TRUE(WritePackageRecord(package, "http://a.b", RECORD_MP3, dir.Write("s", "abc")));
    });
    const std::string expected = Le32(20) + std::string("h\0t\0t\0p\0:\0/\0/\0a\0.\0b\0", 20)
        + Le32(RECORD_MP3) + Le32(3) + "abc";
    EXPECT_EQ(bytes.substr(8), expected);
}

TEST(PackageRecordName, Utf8BecomesUtf16LittleEndian)
{
    EXPECT_EQ(Utf8ToUtf16Le(""), "");
    EXPECT_EQ(Utf8ToUtf16Le("\xC3\xA9"), std::string("\xE9\x00", 2)); // U+00E9
    EXPECT_EQ(Utf8ToUtf16Le("\xE2\x82\xAC"), std::string("\xAC\x20", 2)); // U+20AC
    EXPECT_EQ(Utf8ToUtf16Le("\xF0\x9F\x98\x80"), std::string("\x3D\xD8\x00\xDE", 4)); // U+1F600
    EXPECT_EQ(Utf8ToUtf16Le("\xF4\x8F\xBF\xBF"), std::string("\xFF\xDB\xFF\xDF", 4)); // U+10FFFF
    // N counts code units: one character above U+FFFF is two of them.
    EXPECT_EQ(Utf8ToUtf16Le("a\xF0\x9F\x98\x80z").size(), 8u);
}

TEST(PackageRecordName, InvalidUtf8BecomesReplacementCharacters)
{
    const std::string fffd("\xFD\xFF", 2);
    EXPECT_EQ(Utf8ToUtf16Le("\xFF"), fffd);
    EXPECT_EQ(
        Utf8ToUtf16Le("a\x80z"), "a" + std::string(1, '\0') + fffd + "z" + std::string(1, '\0'));
    EXPECT_EQ(Utf8ToUtf16Le("\xE2\x82"), fffd); // cut sequence: one U+FFFD
    EXPECT_EQ(Utf8ToUtf16Le("\xE2\x82"
                            "a"),
        fffd + std::string("a\0", 2));
    EXPECT_EQ(Utf8ToUtf16Le("\xC0\xAF"), fffd + fffd); // overlong '/'
    EXPECT_EQ(Utf8ToUtf16Le("\xED\xA0\x80"), fffd + fffd + fffd); // encoded surrogate
    EXPECT_EQ(Utf8ToUtf16Le("\xF4\x90\x80\x80"), fffd + fffd + fffd + fffd); // above U+10FFFF
}

TEST(PackageRecordName, ValidUtf8SurvivesTheRoundTrip)
{
    const std::string text
        = "http://h\xC3\xA9.example/\xE2\x82\xAC/\xF0\x9F\x98\x80?q=\xE4\xB8\xAD";
    EXPECT_EQ(Utf16LeToUtf8(Utf8ToUtf16Le(text)), text);
}

TEST(EmbedFile, DoctypeWithInternalSubsetAndDefaultNamespaceAreRemoved)
{
    TempDir dir;
    const std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                 "<!DOCTYPE rss [\r\n"
                                 "  <!ENTITY copy \"&#169;\">\r\n"
                                 "]>\r\n"
                                 "<rss version=\"2.0\" xmlns=\"http://backend.example/rss2\">\r\n"
                                 "<channel><title>T &copy;</title></channel></rss>\r\n";
    const std::string expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                 "\r\n"
                                 "<rss version=\"2.0\" >\r\n"
                                 "<channel><title>T &copy;</title></channel></rss>\r\n";
    EXPECT_EQ(EmbeddedData(dir, document), expected);
}

TEST(EmbedFile, DocumentsThatStayUnchanged)
{
    TempDir dir;
    const std::string cases[] = {
        // a declaration at the very first byte stays
        "<!DOCTYPE rss [<!ENTITY a \"b\">]>\n<rss version=\"2.0\"/>\n",
        // no '>' closes the declaration at depth 0
        "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [<!ENTITY a \"b\"\n<rss/>\n",
        // only prefixed namespace declarations
        "<?xml version=\"1.0\"?>\n<rss xmlns:atom=\"http://a\" xmlns:itunes=\"http://i\"/>\n",
        // a default namespace at byte 0, and one without its closing quote
        "xmlns=\"http://a\" <rss/>",
        "<rss xmlns=\"http://a/>\n",
        // lower-case doctype: the search is case-sensitive
        "<?xml?>\n<!doctype rss>\n<rss/>",
        "",
    };
    for (const std::string& document : cases)
        EXPECT_EQ(EmbeddedData(dir, document), document) << document;
}

TEST(EmbedFile, LeadingDoctypeStaysWhileTheNamespaceGoes)
{
    TempDir dir;
    EXPECT_EQ(EmbeddedData(dir, "<!DOCTYPE rss>\n<rss xmlns=\"http://a\" v=\"2\"/>"),
        "<!DOCTYPE rss>\n<rss  v=\"2\"/>");
    // Only the first default namespace goes.
    EXPECT_EQ(EmbeddedData(dir, "<a xmlns=\"1\"><b xmlns=\"2\"/></a>"), "<a ><b xmlns=\"2\"/></a>");
}

TEST(EmbedFile, NamespaceSearchRunsOverTheTextWithoutTheDeclaration)
{
    TempDir dir;
    // "xml" stands before the declaration and "ns=" after it: once the declaration is gone
    // they make one attribute, which goes too.
    EXPECT_EQ(EmbeddedData(dir, "<a xml<!DOCTYPE q [<!ENTITY e 'x'>]>ns=\"v\" b/>"), "<a  b/>");
    // A default namespace inside the internal subset went with the declaration; the first one
    // after it is the one removed.
    EXPECT_EQ(EmbeddedData(dir, "<?x?><!DOCTYPE q [<!ATTLIST r xmlns=\"u\">]><r xmlns=\"w\"/>"),
        "<?x?><r />");
}

TEST(EmbedFile, EarlyZeroByteKeepsAudioUnchanged)
{
    TempDir dir;
    std::string audio("ID3\x03\x00\x00\x00\x00\x00\x21", 10);
    audio += "junk <!DOCTYPE x> and xmlns=\"y\" after the zero byte";
    audio += std::string("\xFF\xFB\x90\x00", 4);
    EXPECT_EQ(EmbeddedData(dir, audio), audio);
    const std::string amr("#!AMR\n\x3C\x00\x01<!DOCTYPE a>xmlns=\"b\"", 29);
    EXPECT_EQ(EmbeddedData(dir, amr), amr);
}

TEST(EmbedFile, ARemovalEndsTheDataAtTheFirstZeroByte)
{
    TempDir dir;
    const std::string tail = std::string("\0tail <!DOCTYPE b> xmlns=\"c\"\0more", 34);
    // Either removal cuts the document at the zero byte, at any piece size, and D says so.
    const std::pair<std::string, std::string> cases[] = {
        {"<?x?><!DOCTYPE a><r/>", "<?x?><r/>"},
        {"<r xmlns=\"u\" v=\"1\"/>", "<r  v=\"1\"/>"},
        {"<?x?><!DOCTYPE a [<!ENTITY e 'v'>]><r xmlns=\"u\"/>", "<?x?><r />"},
    };
    for (const auto& [text, expected] : cases) {
        for (std::size_t piece : {0u, 1u, 5u}) {
            PieceSize size(piece);
            EXPECT_EQ(EmbeddedData(dir, text + tail), expected) << text << " piece " << piece;
        }
    }
    // Without a removal the zero byte and all after it stay.
    EXPECT_EQ(EmbeddedData(dir, "<r/>" + tail), "<r/>" + tail);
}

TEST(EmbedFile, MatchesThePlainAlgorithmWhereverPiecesBreak)
{
    TempDir dir;
    const std::string tokens[] = {"<!DOCTYPE", "<!DOC", "TYPE", "xmlns=\"", "xmlns", "=\"",
        "xmlns:a=\"", "<", ">", "\"", "a", " ", "\n", std::string(1, '\0'), "<!", "x"};
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        std::string document;
        const int count = static_cast<int>(random() % 24);
        for (int i = 0; i < count; ++i)
            document += tokens[random() % std::size(tokens)];
        const std::string expected = ReferenceEmbedData(document);
        for (std::size_t piece : {1u, 2u, 3u, 7u}) {
            PieceSize size(piece);
            ASSERT_EQ(EmbeddedData(dir, document), expected)
                << "piece " << piece << ", document: " << document;
        }
    }
}

TEST(EmbedFile, LargeDocumentsAcrossTheDefaultPieceBoundary)
{
    TempDir dir;
    // The declaration straddles the first 1 MiB boundary and the namespace sits far beyond it.
    const std::size_t boundary = 1 << 20;
    std::string document = "<?xml version=\"1.0\"?>\n";
    document += std::string(boundary - 4 - document.size(), ' ');
    document += "<!DOCTYPE rss [<!ENTITY e \"v\">]>\n<rss ";
    document += std::string(boundary, 'p');
    document += " xmlns=\"http://ns\">tail</rss>";
    const std::string expected = ReferenceEmbedData(document);
    ASSERT_LT(expected.size(), document.size());
    EXPECT_EQ(EmbeddedData(dir, document), expected);

    // Audio of a few pieces is copied whole, by the kernel and by the piece loop alike.
    std::string audio(3 * boundary + 12345, '\0');
    std::mt19937 random(7);
    for (std::size_t i = 1; i < audio.size(); ++i)
        audio[i] = static_cast<char>(random());
    EXPECT_EQ(EmbeddedData(dir, audio), audio);
    PieceSize size(4096);
    EXPECT_EQ(EmbeddedData(dir, audio), audio);
}

TEST(PackageRecordSource, EmptyGivesZeroLengthMissingGivesNoRecord)
{
    TempDir dir;
    const std::string empty = dir.Write("empty.mp3", "");
    mkfifo(dir.File("fifo").c_str(), 0600);
    std::filesystem::create_directory(dir.File("folder"));
    const std::string bytes = BuildPackage(dir, [&](CPackageFile& package) {
        WriteChannelsSection(package, 0, "");
        bool missing = true;
        EXPECT_TRUE(WritePackageRecord(package, "e", RECORD_MP3, empty, &missing));
        EXPECT_FALSE(missing);
        for (const char* name : {"absent", "fifo", "folder"}) {
            // A FIFO must neither block nor be read: it would hang the job.
            missing = false;
            EXPECT_TRUE(WritePackageRecord(package, name, RECORD_FEED, dir.File(name), &missing));
            EXPECT_TRUE(missing) << name;
        }
    });
    EXPECT_EQ(bytes.substr(8), Le32(2) + std::string("e\0", 2) + Le32(RECORD_MP3) + Le32(0));
}

TEST(PackageRecordSource, EmbedFileAloneWritesZeroForAMissingSource)
{
    TempDir dir;
    const std::string bytes = BuildPackage(dir, [&](CPackageFile& package) {
        bool missing = false;
        EXPECT_TRUE(EmbedFile(package, dir.File("absent"), &missing));
        EXPECT_TRUE(missing);
    });
    EXPECT_EQ(bytes.substr(4), Le32(0));
}

TEST(PackageLifecycle, NotAtTheFinalPathUntilCommit)
{
    TempDir dir;
    const std::string finalPath = dir.File("corvane.mrf");
    std::string error;
    auto package = CPackageFile::Create(finalPath, error);
    ASSERT_TRUE(package) << error;
    EXPECT_TRUE(WritePackageMagic(*package));
    EXPECT_FALSE(FileExists(finalPath));
    EXPECT_EQ(package->FinalPath(), finalPath);
    ASSERT_TRUE(package->Commit());
    EXPECT_EQ(ReadWholeFile(finalPath), Le32(PACKAGE_MAGIC));
    struct stat status { };
    ASSERT_EQ(stat(finalPath.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    EXPECT_FALSE(package->Write("x", 1)); // nothing after Commit
    package.reset();
    // Only the package is left in the folder: no temporary file behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
    EXPECT_EQ(ReadWholeFile(finalPath), Le32(PACKAGE_MAGIC));
}

TEST(PackageLifecycle, DiscardedPackageLeavesThePreviousOne)
{
    TempDir dir;
    const std::string finalPath = dir.Write("corvane.mrf", "previous package");
    {
        std::string error;
        auto package = CPackageFile::Create(finalPath, error);
        ASSERT_TRUE(package) << error;
        WritePackageMagic(*package);
        WriteChannelsSection(*package, 0, "");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
    } // cancelled: destroyed without Commit
    EXPECT_EQ(ReadWholeFile(finalPath), "previous package");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(PackageLifecycle, CreateFailuresNameThePath)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(CPackageFile::Create(dir.File("no/such/folder/p.mrf"), error));
    EXPECT_NE(error.find("no/such/folder/p.mrf"), std::string::npos) << error;
    error.clear();
    std::filesystem::create_directory(dir.File("folder"));
    EXPECT_FALSE(CPackageFile::Create(dir.File("folder"), error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
    EXPECT_FALSE(CPackageFile::Create("", error));
}

// Writes a package of the magic alone at path and commits it.
bool CommitMagicAt(const std::string& path, std::string& error)
{
    auto package = CPackageFile::Create(path, error);
    if (!package)
        return false;
    WritePackageMagic(*package);
    if (!package->Commit())
        error = package->ErrorText();
    return error.empty();
}

bool IsLink(const std::string& path)
{
    struct stat status { };
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

TEST(PackageLifecycle, ALinkAtThePackagePathStaysALink)
{
    // A package path that the user pointed at a phone's synced folder, say.
    TempDir dir;
    const std::string real = dir.Write("synced/corvane.mrf", "previous package");
    const std::string link = dir.File("corvane.mrf");
    ASSERT_EQ(symlink("synced/corvane.mrf", link.c_str()), 0);
    std::string error;
    ASSERT_TRUE(CommitMagicAt(link, error)) << error;
    EXPECT_TRUE(IsLink(link));
    EXPECT_EQ(ReadWholeFile(real), Le32(PACKAGE_MAGIC));

    // A chain of two links, and a link to a package that does not exist yet.
    ASSERT_EQ(symlink(link.c_str(), dir.File("chain.mrf").c_str()), 0);
    ASSERT_EQ(symlink("synced/new.mrf", dir.File("dangling.mrf").c_str()), 0);
    for (const char* name : {"chain.mrf", "dangling.mrf"}) {
        ASSERT_TRUE(CommitMagicAt(dir.File(name), error)) << name << ": " << error;
        EXPECT_TRUE(IsLink(dir.File(name))) << name;
    }
    EXPECT_EQ(ReadWholeFile(real), Le32(PACKAGE_MAGIC));
    EXPECT_EQ(ReadWholeFile(dir.File("synced/new.mrf")), Le32(PACKAGE_MAGIC));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("synced")), {}), 2);

    // A link to a folder is refused before anything is written, naming the path.
    ASSERT_EQ(symlink("synced", dir.File("folder.mrf").c_str()), 0);
    EXPECT_FALSE(CommitMagicAt(dir.File("folder.mrf"), error));
    EXPECT_NE(error.find(dir.File("folder.mrf")), std::string::npos) << error;
    EXPECT_NE(error.find("folder"), std::string::npos) << error;
}

TEST(PackageLifecycle, FailedRenameIsReportedAndCleansUp)
{
    TempDir dir;
    const std::string finalPath = dir.File("p.mrf");
    std::string error;
    auto package = CPackageFile::Create(finalPath, error);
    ASSERT_TRUE(package) << error;
    WritePackageMagic(*package);
    // Meanwhile a non-empty folder took the package's name: the rename cannot replace it.
    std::filesystem::create_directories(finalPath + "/inside");
    EXPECT_FALSE(package->Commit());
    EXPECT_NE(package->ErrorText().find(finalPath), std::string::npos) << package->ErrorText();
    package.reset();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

// Lowers the largest file this process may write, so that writes fail the way a full disk
// makes them fail, and puts the limit back afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved {};
    void (*previousHandler)(int) = nullptr;
};

TEST(PackageLifecycle, FailedWriteIsReportedAndThePreviousPackageStays)
{
    TempDir dir;
    const std::string audio = dir.Write("a.mp3", std::string(1 << 20, '\0'));
    const std::string finalPath = dir.Write("corvane.mrf", "previous package");
    for (std::size_t piece : {0u, 4096u}) {
        PieceSize size(piece);
        std::string error;
        auto package = CPackageFile::Create(finalPath, error);
        ASSERT_TRUE(package) << error;
        {
            FileSizeLimit limit(64 * 1024);
            EXPECT_TRUE(WritePackageMagic(*package));
            EXPECT_TRUE(WriteChannelsSection(*package, 0, ""));
            EXPECT_FALSE(WritePackageRecord(*package, "http://a/a.mp3", RECORD_MP3, audio));
        }
        EXPECT_TRUE(package->Failed());
        EXPECT_NE(package->ErrorText().find(finalPath), std::string::npos) << package->ErrorText();
        // Once failed, everything after fails too, and Commit says so.
        EXPECT_FALSE(WritePackageRecord(*package, "b", RECORD_FEED, audio));
        EXPECT_FALSE(package->Commit());
        package.reset();
        EXPECT_EQ(ReadWholeFile(finalPath), "previous package");
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
    }
}

TEST(PackageLifecycle, SmallWritesFailingShowAtCommit)
{
    TempDir dir;
    const std::string finalPath = dir.File("corvane.mrf");
    std::string error;
    auto package = CPackageFile::Create(finalPath, error);
    ASSERT_TRUE(package) << error;
    {
        // The stream may hold small writes in its buffer: the failure shows at Commit at the
        // latest, never as a package in place.
        FileSizeLimit limit(2);
        WritePackageMagic(*package);
        WriteChannelsSection(*package, 0, "");
        EXPECT_FALSE(package->Commit());
    }
    EXPECT_FALSE(package->ErrorText().empty());
    EXPECT_FALSE(FileExists(finalPath));
}

} // namespace

namespace {

TEST(EmbedFile, RealFeedsPackAsThePlainAlgorithmSays)
{
    const std::string feedsFolder = std::string(CORVANE_CORPORA_DIR) + "/podcast-feeds";
    if (!std::filesystem::is_directory(feedsFolder))
        GTEST_SKIP() << "no corpora at " << feedsFolder;
    TempDir dir;
    int feeds = 0, shortened = 0;
    for (const auto& entry : std::filesystem::directory_iterator(feedsFolder)) {
        if (entry.path().extension() != ".rss")
            continue;
        const std::string document = ReadWholeFile(entry.path().string());
        const std::string expected = ReferenceEmbedData(document);
        EXPECT_EQ(EmbeddedData(dir, document), expected) << entry.path();
        ++feeds;
        shortened += expected.size() < document.size();
    }
    EXPECT_GT(feeds, 50);
    EXPECT_GT(shortened, 0); // some real feeds carry a default namespace or a DOCTYPE
}

} // namespace
