// OPML reading and writing: the exact document, escaping, round trips, depth, atomic writes.
#include "formats/CorvaneDoc.h"
#include "formats/OutlineReader.h"
#include "formats/OutlineWriter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace corvane;

namespace {

const std::string header = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n"
                           "<opml version=\"1.0\">\r\n<head>\r\n"
                           "<title>News Subscriptions</title>\r\n</head>\r\n<body>\r\n";
const std::string footer = "</body>\r\n</opml>\r\n";

COutlineItem* Add(COutlineItem& parent, std::optional<std::string> title,
    std::optional<std::string> xmlurl = std::nullopt)
{
    auto node = std::make_unique<COutlineItem>();
    node->title = std::move(title);
    node->xmlurl = std::move(xmlurl);
    COutlineItem* added = node.get();
    parent.AppendChild(std::move(node));
    return added;
}

std::unique_ptr<COutlineItem> ReadBack(
    const std::string& document, std::unique_ptr<COutlineHead>* headOut = nullptr)
{
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    EXPECT_EQ(ReadOutlineBytes(document, head, root), 1);
    if (headOut)
        *headOut = std::move(head);
    return root;
}

} // namespace

TEST(OutlineWriter, EmptyTreeWritesHeadAndClosingLinesOnly)
{
    COutlineItem root;
    root.title = "My Subscriptions";
    EXPECT_EQ(OutlineDocumentText(root), header + footer);
}

TEST(OutlineWriter, AttributeOrderGroupsFeedsAndEmptyGroups)
{
    COutlineItem root;
    root.title = "My Subscriptions";
    COutlineItem* group = Add(root, "News");
    group->description = "";
    group->type = "ignored for groups";
    group->text = "also ignored";
    COutlineItem* feed = Add(*group, "F", "http://x/f.xml");
    feed->text = "T";
    feed->description = "D";
    feed->htmlurl = "http://x/";
    feed->type = "rss";
    feed->version = "RSS2";
    Add(*group, std::nullopt, "http://x/untitled");
    Add(root, "Empty group");
    // A feed with children is written as a group and loses its address in the file.
    COutlineItem* feedWithChildren = Add(root, "Parent feed", "http://x/p");
    Add(*feedWithChildren, "Child", "http://x/c");

    EXPECT_EQ(OutlineDocumentText(root),
        header + "<outline title=\"News\" description=\"\">\r\n"
            + "<outline title=\"F\" type=\"rss\" htmlurl=\"http://x/\" xmlurl=\"http://x/f.xml\""
              " description=\"D\" text=\"T\"/>\r\n"
            + "<outline xmlurl=\"http://x/untitled\"/>\r\n" + "</outline>\r\n"
            + "<outline title=\"Parent feed\">\r\n"
            + "<outline title=\"Child\" xmlurl=\"http://x/c\"/>\r\n</outline>\r\n" + footer);
}

TEST(OutlineWriter, WriteOutlineLeavesTheNodesSiblingsOut)
{
    COutlineItem root;
    COutlineItem* first = Add(root, "A", "a");
    Add(root, "B", "b");
    std::string out;
    WriteOutline(*first, out);
    EXPECT_EQ(out, "<outline title=\"A\" xmlurl=\"a\"/>\r\n");
}

TEST(OutlineWriter, EscapeXmlReplacesAllFiveInOrder)
{
    std::string text = "a&b\"c'd<e>f&amp;";
    EscapeXml(text);
    EXPECT_EQ(text, "a&amp;b&quot;c&apos;d&lt;e&gt;f&amp;amp;");
    std::string plain = "nothing special \xC3\xA9";
    EscapeXml(plain);
    EXPECT_EQ(plain, "nothing special \xC3\xA9");
}

TEST(OutlineRoundTrip, SpecialCharactersAndTexts)
{
    COutlineItem root;
    COutlineItem* feed = Add(root, "Salt & \"Pepper\" <'x'>", "http://x/?a=1&b=2");
    feed->text = "&lt; literally";
    COutlineItem* group = Add(root, "Group");
    group->text = "lost on write";
    Add(*group, "Inner", "http://x/inner")->text = "differs from title";
    Add(root, "Gone"); // an empty group

    auto read = ReadBack(OutlineDocumentText(root));
    ASSERT_EQ(read->title, "My Subscriptions");
    const COutlineItem* first = read->firstChild.get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->title, "Salt & \"Pepper\" <'x'>");
    EXPECT_EQ(first->xmlurl, "http://x/?a=1&b=2");
    EXPECT_EQ(first->text, "&lt; literally");
    const COutlineItem* second = first->nextSibling.get();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(second->text.has_value());
    EXPECT_FALSE(second->IsFeed());
    EXPECT_EQ(second->firstChild->text, "differs from title");
    EXPECT_EQ(second->firstChild->parent, second);
    EXPECT_EQ(second->nextSibling, nullptr); // the empty group did not survive
}

// A raw line break in an attribute would read back as a space and break the CR LF lines of the
// package's channel list; as a character reference it comes back as it was.
TEST(OutlineRoundTrip, LineBreaksInValuesComeBackAndEveryLineEndsInCrLf)
{
    const std::pair<std::string, std::string> cases[] = {
        {"A\nB", "A&#10;B"},
        {"A\r\nB", "A&#13;&#10;B"},
        {"\rA\n", "&#13;A&#10;"},
        {"x&\ny", "x&amp;&#10;y"},
    };
    for (const auto& [value, written] : cases) {
        SCOPED_TRACE(written);
        COutlineItem root;
        COutlineItem* group = Add(root, value);
        COutlineItem* feed = Add(*group, value, "http://a/" + value);
        feed->description = value;
        const std::string text = OutlineDocumentText(root);
        EXPECT_NE(text.find("<outline title=\"" + written + "\">\r\n"), std::string::npos) << text;
        for (std::size_t at = text.find_first_of("\r\n"); at != std::string::npos;
             at = text.find_first_of("\r\n", at + 2))
            ASSERT_EQ(text.compare(at, 2, "\r\n"), 0) << at;
        auto read = ReadBack(text);
        ASSERT_NE(read->firstChild, nullptr);
        EXPECT_EQ(read->firstChild->title, value);
        const COutlineItem* back = read->firstChild->firstChild.get();
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(back->title, value);
        EXPECT_EQ(back->xmlurl, "http://a/" + value);
        EXPECT_EQ(back->description, value);
    }
}

TEST(OutlineRoundTrip, BytesThatCannotStandInXmlDoNotCostTheFollowingFeeds)
{
    COutlineItem root;
    Add(root, std::string("bell\x07 and \xFF\xC3 and \xED\xA0\x80"), "http://a");
    Add(root, "after", "http://b");
    const std::string text = OutlineDocumentText(root);
    auto read = ReadBack(text);
    ASSERT_NE(read->firstChild, nullptr);
    EXPECT_EQ(read->firstChild->title,
        "bell\xEF\xBF\xBD and \xEF\xBF\xBD\xEF\xBF\xBD and "
        "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    ASSERT_NE(read->firstChild->nextSibling, nullptr);
    EXPECT_EQ(read->firstChild->nextSibling->title, "after");

    // Valid text, four-byte characters and tabs included, is written byte for byte.
    COutlineItem plain;
    Add(plain, std::string("\xF0\x9F\x8E\xB5 \xE2\x82\xAC\tx"), "u");
    EXPECT_NE(OutlineDocumentText(plain).find("title=\"\xF0\x9F\x8E\xB5 \xE2\x82\xAC\tx\""),
        std::string::npos);
}

TEST(OutlineReader, AttributesAndHeadFields)
{
    std::unique_ptr<COutlineHead> head;
    auto root = ReadBack("<opml><head><Title>List</Title><dateCreated>today</dateCreated>"
                         "<ownerEmail>a@b</ownerEmail><other>x</other></head><body>"
                         "<outline TITLE=\"T\" xmlUrl=\"http://x\" htmlUrl=\"http://h\" "
                         "Version=\"RSS\" type=\"rss\" bogus=\"b\" description=\"\" "
                         "text=\"line one\nline two\"/></body></opml>",
        &head);
    EXPECT_EQ(head->title, "List");
    EXPECT_EQ(head->datecreated, "today");
    EXPECT_EQ(head->owneremail, "a@b");
    EXPECT_FALSE(head->ownername.has_value());
    EXPECT_EQ(root->title, "My Subscriptions"); // the head title does not name the root
    const COutlineItem* node = root->firstChild.get();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->title, "T");
    EXPECT_EQ(node->xmlurl, "http://x");
    EXPECT_EQ(node->htmlurl, "http://h");
    EXPECT_EQ(node->version, "RSS");
    EXPECT_EQ(node->type, "rss");
    ASSERT_TRUE(node->description.has_value());
    EXPECT_EQ(*node->description, "");
    // The parser normalises a line break in an attribute value to a space.
    EXPECT_EQ(node->text, "line one line two");
}

TEST(OutlineReader, TextOnlyOutlinesTakeTheirTextAsTitle)
{
    // As most programs write a list: groups and feeds named by "text" alone, nested.
    auto root = ReadBack("<opml version=\"2.0\"><body>"
                         "<outline text=\"Tech\"><outline text=\"Inner\">"
                         "<outline text=\"Deep Feed\" type=\"rss\" xmlUrl=\"http://d\"/>"
                         "</outline></outline>"
                         "<outline text=\"Loose &amp; Co\" xmlUrl=\"http://l\"/>"
                         "</body></opml>");
    const COutlineItem* tech = root->firstChild.get();
    ASSERT_NE(tech, nullptr);
    EXPECT_EQ(tech->title, "Tech");
    EXPECT_EQ(tech->text, "Tech");
    ASSERT_NE(tech->firstChild, nullptr);
    EXPECT_EQ(tech->firstChild->title, "Inner");
    const COutlineItem* deep = tech->firstChild->firstChild.get();
    ASSERT_NE(deep, nullptr);
    EXPECT_EQ(deep->title, "Deep Feed");
    EXPECT_EQ(deep->xmlurl, "http://d");
    const COutlineItem* loose = tech->nextSibling.get();
    ASSERT_NE(loose, nullptr);
    EXPECT_EQ(loose->title, "Loose & Co");

    // Written back, the feeds carry the title; the group is named by it too.
    const std::string written = OutlineDocumentText(*root);
    EXPECT_NE(written.find("<outline title=\"Tech\">\r\n"), std::string::npos);
    EXPECT_NE(written.find("<outline title=\"Loose &amp; Co\" xmlurl=\"http://l\" "
                           "text=\"Loose &amp; Co\"/>\r\n"),
        std::string::npos);
}

TEST(OutlineReader, OutlinesWithBothTitleAndTextKeepBoth)
{
    auto root = ReadBack("<opml><body><outline title=\"Shown\" text=\"Other\" xmlurl=\"http://x\"/>"
                         "<outline title=\"\" text=\"T\" xmlurl=\"http://y\"/>"
                         "<outline xmlurl=\"http://z\"/></body></opml>");
    const COutlineItem* both = root->firstChild.get();
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->title, "Shown");
    EXPECT_EQ(both->text, "Other");
    const COutlineItem* emptyTitle = both->nextSibling.get();
    ASSERT_NE(emptyTitle, nullptr);
    EXPECT_EQ(emptyTitle->title, "");
    EXPECT_EQ(emptyTitle->text, "T");
    const COutlineItem* neither = emptyTitle->nextSibling.get();
    ASSERT_NE(neither, nullptr);
    EXPECT_FALSE(neither->title.has_value());
    EXPECT_FALSE(neither->text.has_value());
}

TEST(OutlineReader, DocumentsWithoutOutlines)
{
    auto fromRss = ReadBack("<rss><channel><title>x</title></channel></rss>");
    EXPECT_EQ(fromRss->firstChild, nullptr);
    EXPECT_EQ(fromRss->title, "My Subscriptions");
    auto emptyBody = ReadBack("<opml><head/><body></body></opml>");
    EXPECT_EQ(emptyBody->firstChild, nullptr);
}

TEST(OutlineReader, FeedWithChildrenKeepsThemAndComesBackAsAGroup)
{
    auto root = ReadBack("<opml><body><outline title=\"P\" xmlurl=\"http://p\" type=\"rss\">"
                         "<outline title=\"C\" xmlurl=\"http://c\"/></outline></body></opml>");
    const COutlineItem* parent = root->firstChild.get();
    ASSERT_TRUE(parent && parent->IsFeed() && parent->firstChild);
    auto again = ReadBack(OutlineDocumentText(*root));
    EXPECT_FALSE(again->firstChild->IsFeed());
    EXPECT_EQ(again->firstChild->firstChild->xmlurl, "http://c");
}

TEST(OutlineReader, LongFlatListAndDeepNesting)
{
    // 100,000 siblings read in linear time thanks to the last-child hint; 100,000 levels read,
    // write and are destroyed without recursion.
    std::string flat = "<opml><body>";
    for (int i = 0; i < 100000; ++i)
        flat += "<outline title=\"f\" xmlurl=\"u\"/>";
    flat += "</body></opml>";
    auto wide = ReadBack(flat);
    std::size_t count = 0;
    const COutlineItem* last = nullptr;
    for (const COutlineItem* c = wide->firstChild.get(); c; c = c->nextSibling.get()) {
        EXPECT_EQ(c->prevSibling, last);
        last = c;
        ++count;
    }
    EXPECT_EQ(count, 100000u);

    constexpr int depth = 100000;
    std::string deep = "<opml><body>";
    for (int i = 0; i < depth; ++i)
        deep += "<outline title=\"g\">";
    deep += "<outline title=\"leaf\" xmlurl=\"http://leaf\"/>";
    for (int i = 0; i < depth; ++i)
        deep += "</outline>";
    deep += "</body></opml>";
    auto tall = ReadBack(deep);
    int levels = 0;
    const COutlineItem* node = tall.get();
    while (node->firstChild) {
        node = node->firstChild.get();
        ++levels;
    }
    EXPECT_EQ(levels, depth + 1);
    EXPECT_EQ(node->xmlurl, "http://leaf");

    const std::string written = OutlineDocumentText(*tall);
    EXPECT_EQ(written.size(),
        header.size() + footer.size()
            + depth * (std::string("<outline title=\"g\">\r\n</outline>\r\n").size())
            + std::string("<outline title=\"leaf\" xmlurl=\"http://leaf\"/>\r\n").size());
}

TEST(OutlineReader, EndOfAStrayElementInTheBodyClosesTheOutline)
{
    // Inside the body every end tag closes the current node, as the reader has always done.
    auto root = ReadBack("<opml><body><outline title=\"A\"><x/><outline title=\"B\"/></outline>"
                         "</body></opml>");
    ASSERT_NE(root->firstChild, nullptr);
    EXPECT_EQ(root->firstChild->title, "A");
    ASSERT_NE(root->firstChild->nextSibling, nullptr);
    EXPECT_EQ(root->firstChild->nextSibling->title, "B");
}

TEST(OutlineFile, LoadSubscriptionsReplacesTheTreeEvenWhenTheFileIsMissing)
{
    TempDir folder;
    CCorvaneDoc document;
    Add(*document.root, "old", "http://old");
    EXPECT_EQ(document.LoadSubscriptions(folder.File("Corvane.Cha")), 0);
    ASSERT_NE(document.root, nullptr);
    EXPECT_EQ(document.root->title, "My Subscriptions");
    EXPECT_EQ(document.root->firstChild, nullptr);
    ASSERT_NE(document.head, nullptr);

    const std::string path
        = folder.Write("Corvane.Cha", "<opml><body><outline title=\"n\" xmlurl=\"u\"/></body>");
    EXPECT_EQ(document.LoadSubscriptions(path), 0); // cut short: failure, content kept
    ASSERT_NE(document.root->firstChild, nullptr);
    EXPECT_EQ(document.root->firstChild->title, "n");
}

TEST(OutlineFile, WriteIsAtomicAndKeepsPermissions)
{
    TempDir folder;
    COutlineItem root;
    Add(root, "A & B", "http://a");
    const std::string path = folder.Write("Corvane.Cha", "old content");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(WriteOutlineFile(path, root), 1);
    EXPECT_EQ(ReadWholeFile(path), OutlineDocumentText(root));
    struct stat info;
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> read;
    ASSERT_EQ(CCorvaneDoc::ReadOutlineFile(path, head, read), 1);
    EXPECT_EQ(read->firstChild->title, "A & B");

    // Nothing but the target remains in the folder.
    EXPECT_EQ(ReadWholeFile(folder.File("Corvane.Cha")).empty(), false);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST(OutlineFile, ALinkStaysALinkAndAFailureSaysWhy)
{
    TempDir folder;
    COutlineItem root;
    Add(root, "x", "http://x");
    const std::string real = folder.Write("real.opml", "old content");
    const std::string link = folder.File("link.opml");
    ASSERT_EQ(::symlink("real.opml", link.c_str()), 0);
    ASSERT_EQ(WriteOutlineFile(link, root), 1);
    struct stat info;
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(ReadWholeFile(real), OutlineDocumentText(root));

    std::string error;
    EXPECT_EQ(WriteOutlineFile(folder.File("no/such/folder/file.opml"), root, &error), 0);
    EXPECT_NE(error.find(folder.File("no/such/folder/file.opml")), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOENT)), std::string::npos) << error;
}

TEST(OutlineFile, FailedWriteLeavesTheOldFile)
{
    TempDir folder;
    COutlineItem root;
    Add(root, "x", "http://x");
    EXPECT_EQ(WriteOutlineFile(folder.File("no/such/folder/file.opml"), root), 0);
    EXPECT_EQ(WriteOutlineFile("", root), 0);

    // The target is a folder: the rename fails, the folder and its content stay.
    const std::string target = folder.File("taken");
    ASSERT_EQ(::mkdir(target.c_str(), 0700), 0);
    folder.Write("taken/inside", "keep");
    EXPECT_EQ(WriteOutlineFile(target, root), 0);
    EXPECT_EQ(ReadWholeFile(target + "/inside"), "keep");
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1); // no temporary file left behind
}

TEST(Opml2Writer, ExactDocumentForGroupsFeedsAndNames)
{
    COutlineItem root;
    root.title = "My Subscriptions";
    COutlineItem* news = Add(root, "News & Views");
    news->description = "daily";
    COutlineItem* alpha = Add(*news, "Alpha", "http://a/rss?x=1&y=2");
    alpha->htmlurl = "http://a/";
    alpha->type = "link"; // another program's type; feeds are always written as rss
    COutlineItem* inner = Add(*news, "Inner");
    Add(*inner, std::nullopt, "http://untitled/");
    Add(root, "Empty Group");
    COutlineItem* beta = Add(root, "Beta", "http://b/");
    beta->text = "Beta text";

    const std::string expected
        = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
          "<opml version=\"2.0\">\n"
          "\t<head>\n"
          "\t\t<title>News Subscriptions</title>\n"
          "\t\t<dateCreated>Tue, 05 Mar 2024 10:20:30 GMT</dateCreated>\n"
          "\t</head>\n"
          "\t<body>\n"
          "\t\t<outline text=\"News &amp; Views\" title=\"News &amp; Views\" "
          "description=\"daily\">\n"
          "\t\t\t<outline text=\"Alpha\" title=\"Alpha\" type=\"rss\" "
          "xmlUrl=\"http://a/rss?x=1&amp;y=2\" htmlUrl=\"http://a/\"/>\n"
          "\t\t\t<outline text=\"Inner\" title=\"Inner\">\n"
          "\t\t\t\t<outline text=\"http://untitled/\" title=\"http://untitled/\" type=\"rss\" "
          "xmlUrl=\"http://untitled/\"/>\n"
          "\t\t\t</outline>\n"
          "\t\t</outline>\n"
          "\t\t<outline text=\"Empty Group\" title=\"Empty Group\"/>\n"
          "\t\t<outline text=\"Beta\" title=\"Beta\" type=\"rss\" xmlUrl=\"http://b/\"/>\n"
          "\t</body>\n"
          "</opml>\n";
    EXPECT_EQ(Opml2DocumentText(root, 1709634030), expected);
}

TEST(Opml2Writer, ReadsBackWithOurReader)
{
    COutlineItem root;
    root.title = "My Subscriptions";
    COutlineItem* group = Add(root, "G");
    COutlineItem* feed = Add(*group, "F \"quoted\" <x>", "http://f/");
    feed->htmlurl = "http://f/home";
    Add(root, "Top", "http://t/");
    std::unique_ptr<COutlineHead> head;
    auto back = ReadBack(Opml2DocumentText(root, 0), &head);
    EXPECT_EQ(head->title, "News Subscriptions");
    EXPECT_EQ(head->datecreated, "Thu, 01 Jan 1970 00:00:00 GMT");
    const COutlineItem* readGroup = back->firstChild.get();
    ASSERT_NE(readGroup, nullptr);
    EXPECT_EQ(readGroup->title, "G");
    EXPECT_FALSE(readGroup->IsFeed());
    const COutlineItem* readFeed = readGroup->firstChild.get();
    ASSERT_NE(readFeed, nullptr);
    EXPECT_EQ(readFeed->title, "F \"quoted\" <x>");
    EXPECT_EQ(readFeed->xmlurl, "http://f/");
    EXPECT_EQ(readFeed->htmlurl, "http://f/home");
    EXPECT_EQ(readFeed->type, "rss");
    ASSERT_NE(readGroup->nextSibling, nullptr);
    EXPECT_EQ(readGroup->nextSibling->xmlurl, "http://t/");
}

TEST(Opml2Writer, DeepTreeWritesWithBoundedIndentation)
{
    COutlineItem root;
    root.title = "My Subscriptions";
    COutlineItem* parent = &root;
    constexpr int depth = 20000;
    for (int i = 0; i < depth; ++i)
        parent = Add(*parent, "g");
    Add(*parent, "leaf", "http://leaf/");
    const std::string text = Opml2DocumentText(root, 0);
    EXPECT_LT(text.size(), static_cast<std::size_t>(depth) * 200);
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> back;
    ASSERT_EQ(ReadOutlineBytes(text, head, back), 1);
    const COutlineItem* node = back.get();
    for (int i = 0; i <= depth && node; ++i)
        node = node->firstChild.get();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->xmlurl, "http://leaf/");
}
