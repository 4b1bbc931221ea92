// Atom documents read into the same channel and items as RSS: channel fields, entries, links,
// enclosures, which text wins, and what is passed over.
#include "formats/AtomReader.h"
#include "formats/RssReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace corvane;

namespace {

const std::string dataDir = CORVANE_TEST_DATA_DIR;

std::unique_ptr<CFeedChannel> Read(const std::string& document, std::size_t pieceSize = 256)
{
    std::unique_ptr<CFeedChannel> channel;
    EXPECT_EQ(ReadFeedBytes(document, channel, nullptr, pieceSize), 1);
    return channel;
}

std::vector<const CFeedItem*> Items(const CFeedChannel& channel)
{
    std::vector<const CFeedItem*> items;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get())
        items.push_back(item);
    return items;
}

std::string Feed(const std::string& inside)
{
    return "<?xml version=\"1.0\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n" + inside
        + "\n</feed>\n";
}

} // namespace

TEST(AtomReader, RootDecidesThePrefix)
{
    EXPECT_EQ(AtomPrefixOfRoot("feed"), "");
    EXPECT_EQ(AtomPrefixOfRoot("FEED"), "");
    EXPECT_EQ(AtomPrefixOfRoot("atom:feed"), "atom:");
    EXPECT_EQ(AtomPrefixOfRoot("rss"), std::nullopt);
    EXPECT_EQ(AtomPrefixOfRoot("feeds"), std::nullopt);
}

TEST(AtomReader, ChannelAndEntryWithOneEnclosure)
{
    auto channel = Read(Feed("  <title> Show &amp; Tell </title>\n"
                             "  <subtitle>About things</subtitle>\n"
                             "  <link rel=\"self\" href=\"http://x/atom\"/>\n"
                             "  <link href=\"http://x/\"/>\n"
                             "  <link rel=\"alternate\" href=\"http://x/second\"/>\n"
                             "  <entry>\n    <title>One</title>\n"
                             "    <link rel=\"enclosure\" href=\"http://x/1.mp3\" "
                             "type=\"audio/mpeg\" length=\"1000\"/>\n"
                             "    <link rel=\"alternate\" href=\"http://x/1\"/>\n"
                             "    <id>urn:1</id>\n    <published>2024-03-05T10:20:30Z</published>\n"
                             "    <summary>Line one\nline two</summary>\n  </entry>"));
    EXPECT_EQ(channel->title, "Show & Tell");
    EXPECT_EQ(channel->link, "http://x/");
    EXPECT_EQ(channel->description, "About things");
    const auto items = Items(*channel);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->title, "One");
    EXPECT_EQ(items[0]->link, "http://x/1");
    EXPECT_EQ(items[0]->guid, "urn:1");
    EXPECT_EQ(items[0]->pubDate, "2024-03-05T10:20:30Z");
    EXPECT_EQ(items[0]->description, "Line one\nline two");
    EXPECT_EQ(items[0]->enclosureUrl, "http://x/1.mp3");
    EXPECT_EQ(items[0]->enclosureType, "audio/mpeg");
    EXPECT_EQ(items[0]->enclosureLength, "1000");
}

TEST(AtomReader, TwoEnclosuresKeepTheFirst)
{
    auto channel = Read(Feed("<entry><title>T</title>"
                             "<link rel=\"enclosure\" href=\"http://x/a.mp3\" type=\"audio/mpeg\"/>"
                             "<link rel=\"enclosure\" href=\"http://x/a.ogg\" type=\"audio/ogg\" "
                             "length=\"5\"/></entry>"));
    const auto items = Items(*channel);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->enclosureUrl, "http://x/a.mp3");
    EXPECT_EQ(items[0]->enclosureType, "audio/mpeg");
    EXPECT_FALSE(items[0]->enclosureLength.has_value());
    EXPECT_FALSE(items[0]->link.has_value()); // an enclosure link is no alternate
}

TEST(AtomReader, ContentStandsInForAMissingSummaryAndUpdatedForPublished)
{
    auto channel = Read(Feed("<entry><content>Only content</content>"
                             "<updated>2024-01-02T00:00:00Z</updated></entry>"
                             "<entry><content>Loses</content><summary>Wins</summary>"
                             "<updated>2024-01-03T00:00:00Z</updated>"
                             "<published>2024-01-01T00:00:00Z</published>"
                             "<updated>2024-01-04T00:00:00Z</updated></entry>"));
    const auto items = Items(*channel);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->description, "Only content");
    EXPECT_EQ(items[0]->pubDate, "2024-01-02T00:00:00Z");
    EXPECT_EQ(items[1]->description, "Wins");
    EXPECT_EQ(items[1]->pubDate, "2024-01-01T00:00:00Z");
}

TEST(AtomReader, NestedAndForeignElementsArePassedOver)
{
    auto channel = Read(Feed("<title>Channel</title>"
                             "<author><name>N</name><title>not mine</title></author>"
                             "<media:title xmlns:media=\"m\">foreign</media:title>"
                             "<entry><title>Entry</title>"
                             "<source><title>Source</title><id>urn:source</id></source>"
                             "<itunes:summary xmlns:itunes=\"i\">foreign</itunes:summary>"
                             "<id>urn:e</id>"
                             "<content type=\"xhtml\"><div><p>Rich <b>text</b></p></div></content>"
                             "</entry>"
                             "<title>Later channel title</title>"));
    EXPECT_EQ(channel->title, "Later channel title");
    const auto items = Items(*channel);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0]->title, "Entry");
    EXPECT_EQ(items[0]->guid, "urn:e");
    EXPECT_EQ(items[0]->description, "Rich text");
}

TEST(AtomReader, SameResultInEveryPieceSize)
{
    const std::string document = Feed("<title>A</title><entry><title>B &amp; C</title>"
                                      "<summary><![CDATA[<p>x</p>]]></summary></entry>");
    for (std::size_t piece : {1u, 2u, 3u, 256u}) {
        auto channel = Read(document, piece);
        EXPECT_EQ(channel->title, "A");
        ASSERT_NE(channel->firstItem, nullptr);
        EXPECT_EQ(channel->firstItem->title, "B & C");
        EXPECT_EQ(channel->firstItem->description, "<p>x</p>");
    }
}

TEST(AtomReader, PodcastFileAndPrefixedFile)
{
    std::unique_ptr<CFeedChannel> channel;
    ASSERT_EQ(ReadFeedDocument(dataDir + "/formats/atom-podcast.xml", channel), 1);
    const auto items = Items(*channel);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1]->title, "Episode Two <b>bold</b>");
    EXPECT_EQ(items[1]->enclosureType, "audio/mp3");
    EXPECT_EQ(items[2]->link, "http://podcast.example/1");
    EXPECT_FALSE(items[2]->enclosureLength.has_value());

    ASSERT_EQ(ReadFeedDocument(dataDir + "/formats/atom-prefixed.xml", channel), 1);
    EXPECT_EQ(channel->title, "Prefixed Feed");
    ASSERT_NE(channel->firstItem, nullptr);
    EXPECT_EQ(channel->firstItem->enclosureUrl, "http://prefixed.example/1.mp3");
}

TEST(AtomReader, RssWithAtomElementsStaysRss)
{
    // Atom links inside RSS, as many RSS feeds carry them, change nothing there.
    auto channel = Read("<rss xmlns:atom=\"http://www.w3.org/2005/Atom\"><channel>"
                        "<title>R</title><atom:link rel=\"self\" href=\"http://r/\"/>"
                        "<item><title>I</title><atom:title>x</atom:title></item>"
                        "</channel></rss>");
    EXPECT_EQ(channel->title, "R");
    EXPECT_FALSE(channel->link.has_value());
    ASSERT_NE(channel->firstItem, nullptr);
    EXPECT_EQ(channel->firstItem->title, "I");
}

TEST(AtomReader, CutOffDocumentKeepsWhatEnded)
{
    std::unique_ptr<CFeedChannel> channel;
    EXPECT_EQ(
        ReadFeedBytes(
            Feed("<entry><title>Whole</title></entry><entry><title>Cut").substr(0, 120), channel),
        0);
    ASSERT_NE(channel->firstItem, nullptr);
    EXPECT_EQ(channel->firstItem->title, "Whole");
}
