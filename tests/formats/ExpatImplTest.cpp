// The reading frame: piece boundaries, code pages, entity amplification, handler failures.
#include "formats/CorvaneDoc.h"
#include "formats/OutlineReader.h"
#include "formats/RssReader.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

using namespace corvane;

namespace {

// Every text field of a channel and its items, one line each, to compare two reads whole.
std::string Dump(const CFeedChannel& channel)
{
    auto field = [](std::string& out, const char* name, const TextField& value) {
        out += name;
        out += value ? "=[" + *value + "]\n" : std::string(" absent\n");
    };
    std::string out;
    field(out, "title", channel.title);
    field(out, "link", channel.link);
    field(out, "description", channel.description);
    field(out, "pubDate", channel.pubDate);
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get()) {
        out += "item\n";
        field(out, "title", item->title);
        field(out, "description", item->description);
        field(out, "guid", item->guid);
        field(out, "enclosure", item->enclosure);
        field(out, "enclosureUrl", item->enclosureUrl);
        field(out, "enclosureType", item->enclosureType);
        field(out, "enclosureLength", item->enclosureLength);
    }
    return out;
}

std::string Dump(const COutlineItem& root)
{
    std::string out;
    std::vector<std::pair<const COutlineItem*, int>> pending {{&root, 0}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        out += std::string(static_cast<std::size_t>(depth), ' ') + node->title.value_or("-") + "|"
            + node->xmlurl.value_or("-") + "|" + node->text.value_or("-") + "\n";
        std::vector<const COutlineItem*> children;
        for (const COutlineItem* c = node->firstChild.get(); c; c = c->nextSibling.get())
            children.push_back(c);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            pending.push_back({*it, depth + 1});
    }
    return out;
}

const char* const feedDocument
    = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<rss version=\"2.0\">\n"
      "  <channel>\n"
      "\t<title>Caf\xC3\xA9 &amp; Co &#x20AC; \xF0\x9F\x8E\xB5</title>\n"
      "\t<description><![CDATA[<b>bold</b>\n and more]]> tail</description>\n"
      "\t<item><title>A &lt; B</title><guid>1</guid>"
      "<enclosure url=\"http://x/a.mp3?a=1&amp;b=2\" type=\"audio/mpeg\" length=\"123\"/></item>\n"
      "\t<item>\n\t\t<title>Second\n line</title><description>x&#10;y</description></item>\n"
      "  </channel>\n"
      "</rss>\n";

const char* const outlineDocument
    = "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head><title>Mine</title></head><body>\n"
      "<outline title=\"G &amp; H\"><outline title=\"F1\" xmlUrl=\"http://f/1\" text=\"t\"/>\n"
      "<outline title=\"Sub\"><outline title=\"F2\" XMLURL=\"http://f/2\"/></outline></outline>\n"
      "<outline title=\"F3\" xmlurl=\"http://f/3\"/></body></opml>\n";

} // namespace

TEST(ExpatImpl, ResultsDoNotDependOnWherePiecesBreak)
{
    std::unique_ptr<CFeedChannel> reference;
    ASSERT_EQ(ReadFeedBytes(feedDocument, reference), 1);
    const std::string expected = Dump(*reference);
    EXPECT_NE(expected.find("Caf\xC3\xA9 & Co \xE2\x82\xAC \xF0\x9F\x8E\xB5"), std::string::npos);
    for (std::size_t piece : {1, 2, 3, 7}) {
        std::unique_ptr<CFeedChannel> channel;
        EXPECT_EQ(ReadFeedBytes(feedDocument, channel, nullptr, piece), 1) << piece;
        EXPECT_EQ(Dump(*channel), expected) << "piece size " << piece;
    }

    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    ASSERT_EQ(ReadOutlineBytes(outlineDocument, head, root), 1);
    const std::string expectedTree = Dump(*root);
    EXPECT_EQ(expectedTree,
        "My Subscriptions|-|-\n G & H|-|-\n  F1|http://f/1|t\n  Sub|-|-\n"
        "   F2|http://f/2|-\n F3|http://f/3|-\n");
    for (std::size_t piece : {1, 2, 3}) {
        ASSERT_EQ(ReadOutlineBytes(outlineDocument, head, root, nullptr, piece), 1);
        EXPECT_EQ(Dump(*root), expectedTree) << "piece size " << piece;
        EXPECT_EQ(head->title, "Mine");
    }
}

TEST(ExpatImpl, PieceSizeDoesNotChangeWhereAFaultIsFound)
{
    const std::string broken = "<rss><channel><title>ok</title>\n<item><title>x</item>";
    for (std::size_t piece : {1, 2, 3, 256}) {
        XmlReadStatus status;
        std::unique_ptr<CFeedChannel> channel;
        EXPECT_EQ(ReadFeedBytes(broken, channel, &status, piece), 0);
        EXPECT_EQ(status.error, XML_ERROR_TAG_MISMATCH) << piece;
        EXPECT_EQ(status.line, 2u) << piece;
        EXPECT_EQ(channel->title, "ok");
    }
}

TEST(ExpatImpl, PiecesGrowInNormalUseAndStayFixedForTests)
{
    constexpr std::size_t kFirst = ExpatImpl::PIECE_SIZE;
    constexpr std::size_t kLargest = ExpatImpl::LARGEST_PIECE_SIZE;
    struct Case {
        std::size_t pieceSize, readSoFar, expected;
    } cases[] = {
        {1, 0, 1},
        {3, 50 << 20, 3},
        {kFirst, 0, kFirst},
        {kFirst, kFirst, kFirst},
        {kFirst, 5 << 20, 5 << 20},
        {kFirst, std::size_t(1) << 40, kLargest},
        {2 * kLargest, 0, 2 * kLargest},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpatImpl::PieceSize(c.pieceSize, c.readSoFar), c.expected)
            << c.pieceSize << " after " << c.readSoFar;

    // expat parses an unfinished token again from its start at each piece: within one 6 MB
    // attribute the bytes it scans are the sum of what was read before each piece, which must
    // stay a small multiple of the attribute's length, not grow with its square.
    constexpr std::size_t kAttribute = 6 << 20;
    std::size_t read = 0, scanned = 0, pieces = 0;
    while (read < kAttribute) {
        read += ExpatImpl::PieceSize(kFirst, read);
        scanned += read;
        ++pieces;
    }
    EXPECT_LE(scanned, 3 * kAttribute);
    EXPECT_LE(pieces, 10u);
}

TEST(ExpatImpl, HugeAttributeReadsWholeInNormalUse)
{
    const std::string url = "http://x/" + std::string(1 << 20, 'a') + ".mp3";
    const std::string document = "<rss><channel><title>T</title><item><enclosure url=\"" + url
        + "\" type=\"audio/mpeg\" length=\"1\"/></item></channel></rss>";
    std::unique_ptr<CFeedChannel> channel;
    ASSERT_EQ(ReadFeedBytes(document, channel), 1);
    ASSERT_NE(channel->firstItem, nullptr);
    ASSERT_TRUE(channel->firstItem->enclosureUrl);
    EXPECT_EQ(*channel->firstItem->enclosureUrl, url);
}

TEST(ExpatImpl, EntityAmplificationIsRefused)
{
    std::string document = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY l0 \"lol\">\n";
    for (int level = 1; level <= 10; ++level) {
        document += "<!ENTITY l" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i)
            document += "&l" + std::to_string(level - 1) + ";";
        document += "\">\n";
    }
    document += "]>\n<rss><channel><title>&l10;</title></channel></rss>";
    XmlReadStatus status;
    std::unique_ptr<CFeedChannel> channel;
    EXPECT_EQ(ReadFeedBytes(document, channel, &status), 0);
    EXPECT_EQ(status.error, XML_ERROR_AMPLIFICATION_LIMIT_BREACH);
    EXPECT_FALSE(channel->title.has_value());
}

TEST(ExpatImpl, SingleByteCodePages)
{
    std::unique_ptr<CFeedChannel> channel;
    // Byte 0x80 is the euro sign in windows-1252; 0x9F is Y with diaeresis.
    ASSERT_EQ(ReadFeedBytes("<?xml version=\"1.0\" encoding=\"windows-1252\"?>"
                            "<rss><channel><title>\x80 5 \x9F</title></channel></rss>",
                  channel),
        1);
    EXPECT_EQ(channel->title, "\xE2\x82\xAC 5 \xC5\xB8");
    // KOI8-R: 0xF0 0xD2 0xC9 is "Пpи" (Cyrillic capital PE, small ER, small I).
    ASSERT_EQ(ReadFeedBytes("<?xml version=\"1.0\" encoding=\"KOI8-R\"?>"
                            "<rss><channel><title>\xF0\xD2\xC9</title></channel></rss>",
                  channel, nullptr, 1),
        1);
    EXPECT_EQ(channel->title, "\xD0\x9F\xD1\x80\xD0\xB8");
    // ISO-8859-15 puts the euro at 0xA4, where ISO-8859-1 has the currency sign.
    ASSERT_EQ(ReadFeedBytes("<?xml version=\"1.0\" encoding=\"iso-8859-15\"?>"
                            "<rss><channel><title>\xA4</title></channel></rss>",
                  channel),
        1);
    EXPECT_EQ(channel->title, "\xE2\x82\xAC");
}

namespace {

// Two characters of each supported code page, with their UTF-8 (from the published tables).
struct CodePageSample {
    const char* name;
    const char* bytes; // two bytes of the code page, the first at least 0x80
    const char* utf8; // what they stand for
};

const CodePageSample codePageSamples[] = {
    {"windows-1250", "\x8A\xE8", "\xC5\xA0\xC4\x8D"}, // S caron, c caron
    {"windows-1251", "\xC0\xFF", "\xD0\x90\xD1\x8F"}, // Cyrillic A, ya
    {"windows-1252", "\x80\xE9", "\xE2\x82\xAC\xC3\xA9"}, // euro, e acute
    {"windows-1253", "\xC1\xE1", "\xCE\x91\xCE\xB1"}, // Alpha, alpha
    {"windows-1254", "\xD0\xFD", "\xC4\x9E\xC4\xB1"}, // G breve, dotless i
    {"windows-1255", "\xE0\xA4", "\xD7\x90\xE2\x82\xAA"}, // alef, new sheqel
    {"windows-1256", "\xC7\x81", "\xD8\xA7\xD9\xBE"}, // alef, peh
    {"windows-1257", "\xC0\xFE", "\xC4\x84\xC5\xBE"}, // A ogonek, z caron
    {"windows-1258", "\xC3\xE0", "\xC4\x82\xC3\xA0"}, // A breve, a grave
    {"iso-8859-2", "\xA1\xB9", "\xC4\x84\xC5\xA1"}, // A ogonek, s caron
    {"iso-8859-3", "\xA1\xFD", "\xC4\xA6\xC5\xAD"}, // H stroke, u breve
    {"iso-8859-4", "\xA1\xA2", "\xC4\x84\xC4\xB8"}, // A ogonek, kra
    {"iso-8859-5", "\xB0\xF0", "\xD0\x90\xE2\x84\x96"}, // Cyrillic A, numero
    {"iso-8859-6", "\xC7\xAC", "\xD8\xA7\xD8\x8C"}, // alef, Arabic comma
    {"iso-8859-7", "\xC1\xE1", "\xCE\x91\xCE\xB1"}, // Alpha, alpha
    {"iso-8859-8", "\xE0\xAA", "\xD7\x90\xC3\x97"}, // alef, multiplication sign
    {"iso-8859-9", "\xD0\xFD", "\xC4\x9E\xC4\xB1"}, // G breve, dotless i
    {"iso-8859-10", "\xA1\xBD", "\xC4\x84\xE2\x80\x95"}, // A ogonek, horizontal bar
    {"iso-8859-11", "\xA1\xDF", "\xE0\xB8\x81\xE0\xB8\xBF"}, // ko kai, baht
    {"iso-8859-13", "\xA1\xC0", "\xE2\x80\x9D\xC4\x84"}, // right quote, A ogonek
    {"iso-8859-14", "\xA1\xD0", "\xE1\xB8\x82\xC5\xB4"}, // B dot above, W circumflex
    {"iso-8859-15", "\xA4\xBD", "\xE2\x82\xAC\xC5\x93"}, // euro, oe
    {"iso-8859-16", "\xA1\xA4", "\xC4\x84\xE2\x82\xAC"}, // A ogonek, euro
    {"koi8-r", "\xC1\xE1", "\xD0\xB0\xD0\x90"}, // Cyrillic a, A
    {"koi8-u", "\xA4\xC1", "\xD1\x94\xD0\xB0"}, // Ukrainian ie, Cyrillic a
};

std::string TitleDocument(const char* encoding, const std::string& title)
{
    return std::string("<?xml version=\"1.0\" encoding=\"") + encoding
        + "\"?>\n<rss><channel><title>" + title + "</title></channel></rss>\n";
}

} // namespace

// ISO-8859-12 was never published; the test of unknown encodings shows it refused.
TEST(ExpatImpl, EverySupportedCodePageReadsAsciiAndItsOwnCharacters)
{
    for (const CodePageSample& sample : codePageSamples) {
        for (std::size_t pieceSize : {std::size_t(1), ExpatImpl::PIECE_SIZE}) {
            std::unique_ptr<CFeedChannel> channel;
            XmlReadStatus status;
            EXPECT_EQ(ReadFeedBytes(TitleDocument(sample.name, "Plain text &amp; 1"), channel,
                          &status, pieceSize),
                1)
                << sample.name << ": " << status.reason;
            EXPECT_EQ(channel->title, "Plain text & 1") << sample.name;

            EXPECT_EQ(ReadFeedBytes(TitleDocument(sample.name, std::string("x ") + sample.bytes),
                          channel, &status, pieceSize),
                1)
                << sample.name << ": " << status.reason;
            EXPECT_EQ(channel->title, std::string("x ") + sample.utf8) << sample.name;
        }
    }
}

TEST(ExpatImpl, UndefinedByteOfACodePageIsAnError)
{
    // 0x81 has no character in windows-1252.
    std::unique_ptr<CFeedChannel> channel;
    XmlReadStatus status;
    EXPECT_EQ(ReadFeedBytes("<?xml version=\"1.0\" encoding=\"windows-1252\"?>"
                            "<rss><channel><title>a\x81</title></channel></rss>",
                  channel, &status),
        0);
    EXPECT_FALSE(channel->title.has_value());
}

TEST(ExpatImpl, OtherEncodingsStillFailWithAnEmptyChannel)
{
    for (const char* encoding : {"Shift_JIS", "GB2312", "ISO-8859-12", "windows-1259", "cp437"}) {
        std::unique_ptr<CFeedChannel> channel;
        XmlReadStatus status;
        const std::string document = std::string("<?xml version=\"1.0\" encoding=\"") + encoding
            + "\"?><rss><channel><title>x</title><item/></channel></rss>";
        EXPECT_EQ(ReadFeedBytes(document, channel, &status), 0) << encoding;
        EXPECT_EQ(status.error, XML_ERROR_UNKNOWN_ENCODING) << encoding;
        EXPECT_FALSE(channel->title.has_value());
        EXPECT_EQ(channel->firstItem, nullptr);
    }
}

TEST(ExpatImpl, SingleByteMapTable)
{
    int map[256];
    ASSERT_TRUE(BuildSingleByteMap("WINDOWS-1250", map));
    EXPECT_EQ(map['A'], 'A');
    EXPECT_EQ(map[0x8A], 0x0160); // S with caron
    EXPECT_EQ(map[0x81], -1);
    ASSERT_TRUE(BuildSingleByteMap("koi8-u", map));
    EXPECT_EQ(map[0xA4], 0x0454); // Ukrainian ie
    // A combining accent stands for itself as well, though its converter waits for a base.
    ASSERT_TRUE(BuildSingleByteMap("windows-1258", map));
    EXPECT_EQ(map['a'], 'a');
    EXPECT_EQ(map[0xCC], 0x0300); // combining grave accent
    EXPECT_EQ(map[0xDE], 0x0303); // combining tilde
    EXPECT_FALSE(BuildSingleByteMap("UTF-8", map));
    EXPECT_FALSE(BuildSingleByteMap("windows-01252", map));
    EXPECT_FALSE(BuildSingleByteMap("iso-8859-1x", map));
}

namespace {

// A handler that fails on its third element, the way an allocation failure would.
class FailingHandler : public CXmlHandler {
public:
    int starts = 0;
    void HandleStart(const XML_Char*, const XML_Char**) override
    {
        if (++starts == 3)
            throw std::bad_alloc();
    }
    void HandleEnd(const XML_Char*) override { }
    void HandleText(const XML_Char*, int) override { }
};

} // namespace

TEST(ExpatImpl, HandlerFailureStopsTheParseWithoutCrossingExpat)
{
    ExpatImpl parser;
    ASSERT_TRUE(parser.Create());
    FailingHandler handler;
    parser.SetHandler(handler);
    XmlReadStatus status;
    EXPECT_EQ(parser.ParseBytes("<a><b/><c/><d/><e/></a>", 2, &status), 0);
    EXPECT_EQ(handler.starts, 3);
    EXPECT_EQ(status.error, XML_ERROR_ABORTED);
    EXPECT_NE(status.reason.find("reading stopped"), std::string::npos);
}

TEST(ExpatImpl, ReadersRefuseAFolderBeforeReadingIt)
{
    TempDir folder;
    std::unique_ptr<CFeedChannel> channel;
    XmlReadStatus status;
    EXPECT_EQ(ReadFeedDocument(folder.Path(), channel, &status), 0);
    EXPECT_TRUE(status.inputFailed);
    EXPECT_EQ(status.reason, "not a regular file (a directory)");
    ASSERT_NE(channel, nullptr);

    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    status = XmlReadStatus();
    EXPECT_EQ(ReadOutlineDocument(folder.Path(), head, root, &status), 0);
    EXPECT_TRUE(status.inputFailed);
    EXPECT_EQ(status.reason, "not a regular file (a directory)");
    EXPECT_EQ(root->title, "My Subscriptions");

    std::string unreadable;
    EXPECT_EQ(CCorvaneDoc::ReadOutlineFile(folder.Path(), head, root, &unreadable), 0);
    EXPECT_EQ(unreadable, "not a regular file (a directory)");
    // A document that opens but is malformed is read, not unreadable.
    unreadable.clear();
    EXPECT_EQ(CCorvaneDoc::ReadOutlineFile(
                  folder.Write("cut.opml", "<opml><body>"), head, root, &unreadable),
        0);
    EXPECT_EQ(unreadable, "");
}

TEST(ExpatImpl, MovedParserIsFreedOnce)
{
    ExpatImpl first;
    ASSERT_TRUE(first.Create());
    XML_Parser handle = first.m_p;
    ExpatImpl second(std::move(first));
    EXPECT_EQ(first.m_p, nullptr);
    EXPECT_EQ(second.m_p, handle);
    ExpatImpl third;
    ASSERT_TRUE(third.Create());
    third = std::move(second);
    EXPECT_EQ(third.m_p, handle);
}
