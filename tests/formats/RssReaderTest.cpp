// The RSS reader's rules: names, sections, gathered text, enclosures, documents cut short.
#include "formats/RssReader.h"
#include "formats/CorvaneDoc.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane;

namespace {

std::unique_ptr<CFeedChannel> Read(const std::string& document, int* result = nullptr)
{
    std::unique_ptr<CFeedChannel> channel;
    const int got = ReadFeedBytes(document, channel);
    if (result)
        *result = got;
    return channel;
}

std::vector<const CFeedItem*> Items(const CFeedChannel& channel)
{
    std::vector<const CFeedItem*> items;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get())
        items.push_back(item);
    return items;
}

} // namespace

TEST(RssReader, ChannelAndItemsOfAnRss2Document)
{
    int result = 0;
    auto channel = Read("<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel>"
                        "<title>Radio</title><link>http://a.example/</link><ttl>60</ttl>"
                        "<item><title>One</title><guid>g1</guid></item>"
                        "<item><title>Two</title><pubDate>Mon</pubDate></item>"
                        "<item><title>Three</title></item>"
                        "</channel></rss>",
        &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(channel->title, "Radio");
    EXPECT_EQ(channel->link, "http://a.example/");
    EXPECT_EQ(channel->ttl, "60");
    EXPECT_FALSE(channel->description.has_value());
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]->title, "One");
    EXPECT_EQ(items[0]->guid, "g1");
    EXPECT_EQ(items[1]->pubDate, "Mon");
    EXPECT_EQ(items[2]->title, "Three");
    // The list is doubly linked in document order.
    EXPECT_EQ(items[0]->prevItem, nullptr);
    EXPECT_EQ(items[1]->prevItem, items[0]);
    EXPECT_EQ(items[2]->prevItem, items[1]);
}

TEST(RssReader, NamesMatchWithoutCaseButWithPrefixes)
{
    auto channel = Read("<RSS><CHANNEL><TITLE>Upper</TITLE><Language>de</Language>"
                        "<TEXTINPUT><title>not the channel</title></TEXTINPUT>"
                        "<item><dc:date>2020</dc:date><PUBDATE>Tue</PUBDATE><Title>x</Title>"
                        "<dc:creator>who</dc:creator></item></CHANNEL></RSS>");
    EXPECT_EQ(channel->title, "Upper");
    EXPECT_EQ(channel->language, "de");
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->pubDate, "Tue");
    EXPECT_EQ(items[0]->title, "x");
    EXPECT_FALSE(items[0]->author.has_value());
}

TEST(RssReader, PrefixedElementDiscardsPendingText)
{
    // dc:date stores nothing, and its end tag throws away "2020" so the title gets only its own.
    auto channel = Read("<rss><channel><item><dc:date>2020</dc:date><title>T</title>"
                        "</item></channel></rss>");
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->title, "T");
    EXPECT_FALSE(items[0]->pubDate.has_value());
}

TEST(RssReader, ImageAndTextInputTextsAreNotStored)
{
    auto channel = Read("<rss><channel><title>C</title><image><title>Logo</title>"
                        "<link>http://img/</link><url>u</url></image>"
                        "<textinput><title>Search</title><link>s</link></textinput>"
                        "<description>D</description></channel></rss>");
    EXPECT_EQ(channel->title, "C");
    EXPECT_FALSE(channel->link.has_value());
    EXPECT_EQ(channel->description, "D");
}

TEST(RssReader, EmptyElementStoresEmptyStringNotAbsent)
{
    auto channel = Read("<rss><channel><title></title><item><enclosure url=\"\" length=\"0\"/>"
                        "<link/></item></channel></rss>");
    ASSERT_TRUE(channel->title.has_value());
    EXPECT_EQ(*channel->title, "");
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->link, "");
    EXPECT_EQ(items[0]->enclosure, "");
    EXPECT_EQ(items[0]->enclosureUrl, "");
    EXPECT_EQ(items[0]->enclosureLength, "0");
    EXPECT_FALSE(items[0]->enclosureType.has_value());
}

TEST(RssReader, EntityBetweenWordsIsJoinedFromItsPieces)
{
    auto channel = Read("<rss><channel><item><title>Salt &amp; Pepper</title></item>"
                        "</channel></rss>");
    EXPECT_EQ(Items(*channel).at(0)->title, "Salt & Pepper");
}

TEST(RssReader, IndentationRules)
{
    // Spaces before a start tag stay and begin the next field that ends; a line break and tabs
    // vanish, and so does the line break inside a two-line text.
    auto spaces = Read("<rss><channel>\n  <title>A</title>\n  <link>L</link></channel></rss>");
    EXPECT_EQ(spaces->title, "  A");
    EXPECT_EQ(spaces->link, "  L");
    auto tabs = Read("<rss><channel>\n\t\t<title>A</title>\n\t\t<description>one\n\ttwo"
                     "</description></channel></rss>");
    EXPECT_EQ(tabs->title, "A");
    EXPECT_EQ(tabs->description, "onetwo");
}

TEST(RssReader, ControlBytesAreDroppedOnlyAtTheStartOfAPiece)
{
    // Leading tabs of a piece go, inner ones stay; line breaks are pieces of their own (also
    // inside CDATA), so they vanish whole.
    auto channel = Read("<rss><channel><description><![CDATA[\t\tx\ty\nz]]></description>"
                        "</channel></rss>");
    EXPECT_EQ(channel->description, "x\tyz");
}

TEST(RssReader, NonAsciiFirstLetterIsKept)
{
    auto channel = Read("<rss><channel><title>\xC3\x9C"
                        "ber</title></channel></rss>");
    EXPECT_EQ(channel->title,
        "\xC3\x9C"
        "ber");
}

TEST(RssReader, EnclosureAttributes)
{
    auto channel = Read(
        "<rss><channel>"
        "<enclosure url=\"before-any-item\" type=\"audio/mpeg\"/>"
        "<item><enclosure url=\"first.mp3\" type=\"audio/mpeg\" length=\"10\"/>"
        "<enclosure url=\"second.mp3\" type=\"audio/ogg\" length=\"20\"/></item>"
        "<item><enclosure type=\"audio/mpeg\" url=\"u.mp3\" bogus=\"b\" LENGTH=\"5\"/></item>"
        "<item><title>late</title></item>"
        "<enclosure url=\"after.mp3\"/>"
        "</channel></rss>");
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 3u);
    // The second enclosure of an item replaces the first one's values.
    EXPECT_EQ(items[0]->enclosureUrl, "second.mp3");
    EXPECT_EQ(items[0]->enclosureType, "audio/ogg");
    EXPECT_EQ(items[0]->enclosureLength, "20");
    // Attribute order does not matter; names match without case.
    EXPECT_EQ(items[1]->enclosureUrl, "u.mp3");
    EXPECT_EQ(items[1]->enclosureType, "audio/mpeg");
    EXPECT_EQ(items[1]->enclosureLength, "5");
    // An enclosure behind the last item still lands in it; the one before any item is ignored.
    EXPECT_EQ(items[2]->enclosureUrl, "after.mp3");
    EXPECT_FALSE(items[2]->enclosureType.has_value());
}

TEST(RssReader, ChannelLevelElementsAfterItemsGoToTheChannelAndTheLastWins)
{
    auto channel = Read("<rss><channel><title>first</title><item><title>i</title></item>"
                        "<title>second</title></channel></rss>");
    EXPECT_EQ(channel->title, "second");
    EXPECT_EQ(Items(*channel).at(0)->title, "i");
}

TEST(RssReader, Rss1ItemsBesideTheChannel)
{
    auto channel = Read("<rdf:RDF xmlns:rdf=\"r\" xmlns=\"x\"><channel><title>R</title></channel>"
                        "<item><title>a</title></item><item><title>b</title></item>"
                        "</rdf:RDF>");
    EXPECT_EQ(channel->title, "R");
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]->title, "b");
}

TEST(RssReader, AtomRootHandsTheDocumentToTheAtomReader)
{
    int result = 0;
    auto channel = Read("<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Feed</title>"
                        "<entry><title>E1</title></entry><entry><title>E2</title></entry></feed>",
        &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(channel->title, "Feed");
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]->title, "E2");

    // Anything else keeps the RSS rules: entries count for nothing, the last title wins.
    channel = Read("<other><title>Feed</title><entry><title>E1</title></entry></other>", &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(channel->title, "E1");
    EXPECT_EQ(channel->firstItem, nullptr);
}

TEST(RssReader, DocumentCutInTheThirdItemKeepsWhatEnded)
{
    int result = 1;
    auto channel = Read("<rss><channel><item><title>1</title></item><item><title>2</title>"
                        "</item><item><title>3</title><link>half",
        &result);
    // Cut short is not well-formed: the result says so, the content read so far stays.
    EXPECT_EQ(result, 0);
    auto items = Items(*channel);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[2]->title, "3");
    EXPECT_FALSE(items[2]->link.has_value());
}

TEST(RssReader, MalformedDocumentKeepsWhatCameBeforeTheFault)
{
    XmlReadStatus status;
    std::unique_ptr<CFeedChannel> channel;
    EXPECT_EQ(ReadFeedBytes("<rss><channel><title>T</title>\n<item><title>x</titel></item>",
                  channel, &status),
        0);
    EXPECT_EQ(channel->title, "T");
    EXPECT_EQ(status.error, XML_ERROR_TAG_MISMATCH);
    EXPECT_EQ(status.line, 2u);
    EXPECT_NE(status.reason.find("line 2"), std::string::npos);
}

TEST(RssReaderFile, ReplacesTheChannelInTheSlotWhateverHappens)
{
    TempDir folder;
    std::unique_ptr<CFeedChannel> channel = std::make_unique<CFeedChannel>();
    channel->title = "old";
    EXPECT_EQ(CCorvaneDoc::ReadFeedFile(folder.File("missing.rss"), channel), 0);
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->title.has_value());

    // An empty file has no element: failure, empty channel.
    EXPECT_EQ(CCorvaneDoc::ReadFeedFile(folder.Write("empty.rss", ""), channel), 0);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(channel->firstItem, nullptr);

    // A directory opens but cannot be read.
    XmlReadStatus status;
    EXPECT_EQ(ReadFeedDocument(folder.Path(), channel, &status), 0);
    EXPECT_TRUE(status.inputFailed);

    const std::string path
        = folder.Write("ok.rss", "<rss><channel><title>T</title></channel></rss>");
    EXPECT_EQ(CCorvaneDoc::ReadFeedFile(path, channel), 1);
    EXPECT_EQ(channel->title, "T");
}

TEST(RssReaderFile, DocumentEndingInAPartialPieceIsStillCheckedForItsEnd)
{
    // 300 bytes: a full piece and a partial one. The end of the document is still handed to the
    // parser, so a document cut there fails instead of passing as complete.
    TempDir folder;
    std::string document = "<rss><channel><title>" + std::string(260, 'x') + "</title>";
    ASSERT_GT(document.size() % ExpatImpl::PIECE_SIZE, 0u);
    std::unique_ptr<CFeedChannel> channel;
    EXPECT_EQ(CCorvaneDoc::ReadFeedFile(folder.Write("cut.rss", document), channel), 0);
    EXPECT_EQ(channel->title, std::string(260, 'x'));
    document += "</channel></rss>";
    EXPECT_EQ(CCorvaneDoc::ReadFeedFile(folder.Write("whole.rss", document), channel), 1);
}

TEST(RssReaderFile, LargeDescriptionAndManyItemsRead)
{
    // 4 MB in one element and 200,000 items: linear growth and constant-time appends keep
    // this well inside ctest's default limit even under the sanitizers.
    std::string document = "<rss><channel><description>";
    document.append(4 << 20, 'd');
    document += "</description>";
    for (int i = 0; i < 200000; ++i)
        document += "<item><title>t</title></item>";
    document += "</channel></rss>";
    std::unique_ptr<CFeedChannel> channel;
    ASSERT_EQ(ReadFeedBytes(document, channel), 1);
    EXPECT_EQ(channel->description->size(), std::size_t {4} << 20);
    EXPECT_EQ(channel->ItemCount(), 200000u);
}

namespace {

// Every field of an item, in one string, so that two reads can be compared item by item.
std::string Fields(const CFeedItem& item)
{
    std::string fields;
    for (const TextField* field : {&item.title, &item.link, &item.description, &item.author,
             &item.category, &item.comments, &item.enclosure, &item.guid, &item.pubDate,
             &item.source, &item.enclosureUrl, &item.enclosureType, &item.enclosureLength})
        fields += (*field ? "[" + **field + "]" : std::string("-")) + " ";
    return fields;
}

} // namespace

TEST(RssReaderFile, ItemsOneAtATimeAreTheItemsOfTheWholeRead)
{
    // Each document against both readers; the item-at-a-time read must hand on exactly the
    // whole read's items, the last one and those before a fault included, and keep none.
    const std::string documents[] = {
        "<rss><channel><title>T</title><item><title>1</title><pubDate>d1</pubDate>"
        "<enclosure url=\"u1\" type=\"audio/mpeg\" length=\"5\"/></item>"
        "<item><title>2</title></item></channel></rss>",
        // An enclosure after its item ended still fills that item, the last one too.
        "<rss><channel><item><title>1</title></item><enclosure url=\"late1\"/>"
        "<item><title>2</title></item><enclosure url=\"late2\" type=\"t\"/></channel></rss>",
        "<rdf:RDF><channel><title>T</title></channel><item><title>1</title></item>"
        "<item><link>l2</link></item></rdf:RDF>",
        "<rss><channel><item><title>1</title></item><item><title>2</title><link>half",
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title><entry><title>E1</title>"
        "<link rel=\"enclosure\" href=\"e1.mp3\" type=\"audio/mpeg\"/><updated>u</updated>"
        "</entry><entry><title>E2</title><summary>s</summary></entry></feed>",
        "<rss><channel><title>no items</title></channel></rss>",
    };
    TempDir folder;
    int number = 0;
    for (const std::string& document : documents) {
        SCOPED_TRACE(document);
        const std::string path = folder.Write("feed" + std::to_string(++number), document);
        // Pieces of 7 bytes put piece ends inside names, attributes and texts.
        for (const std::size_t pieceSize : {std::size_t {7}, ExpatImpl::PIECE_SIZE}) {
            std::unique_ptr<CFeedChannel> whole;
            XmlReadStatus wholeStatus;
            const int wholeResult = ReadFeedDocument(path, whole, &wholeStatus, pieceSize);
            std::vector<std::string> expected;
            for (const CFeedItem* item : Items(*whole))
                expected.push_back(Fields(*item));

            std::unique_ptr<CFeedChannel> channel;
            XmlReadStatus status;
            std::vector<std::string> handed;
            const int result = ReadFeedDocumentItems(
                path, channel, [&](const CFeedItem& item) { handed.push_back(Fields(item)); },
                &status, pieceSize);
            EXPECT_EQ(result, wholeResult);
            EXPECT_EQ(status.error, wholeStatus.error);
            EXPECT_EQ(handed, expected);
            EXPECT_EQ(channel->title, whole->title);
            EXPECT_EQ(channel->firstItem, nullptr);
        }
    }
}
