// The real-world corpora: every podcast feed and every OPML file reads without a crash or hang;
// for the podcast feeds the channel title, the item titles and single enclosures agree with
// what another parser recorded in the .json beside each feed, except for the disagreements
// listed below, each of which follows from this reader's own rules.
#include "formats/OutlineReader.h"
#include "formats/RssReader.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace corvane;

namespace fs = std::filesystem;

namespace {

const fs::path corpora = CORVANE_CORPORA_DIR;

std::vector<fs::path> FilesUnder(const fs::path& folder, const std::string& extension)
{
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && (extension.empty() || entry.path().extension() == extension))
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string Trim(const std::string& text)
{
    const char* space = " \t\r\n";
    const auto first = text.find_first_not_of(space);
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// Counts the enclosures of each item: enclosure elements of RSS items, enclosure links of Atom
// entries (the comparison covers single enclosures only).
class EnclosureCounter : public CXmlHandler {
public:
    std::vector<int> perItem;
    void HandleStart(const XML_Char* name, const XML_Char** attributes) override
    {
        if (EqualsNoCase(name, "item") || EqualsNoCase(name, "entry"))
            perItem.push_back(0);
        else if (EqualsNoCase(name, "enclosure") && !perItem.empty())
            ++perItem.back();
        else if (EqualsNoCase(name, "link") && !perItem.empty() && IsEnclosureLink(attributes))
            ++perItem.back();
    }
    static bool IsEnclosureLink(const XML_Char** attributes)
    {
        for (const XML_Char** pair = attributes; pair && pair[0]; pair += 2) {
            if (EqualsNoCase(pair[0], "rel") && EqualsNoCase(pair[1], "enclosure"))
                return true;
        }
        return false;
    }
    void HandleEnd(const XML_Char*) override { }
    void HandleText(const XML_Char*, int) override { }
};

struct Disagreement {
    std::string feed;
    std::string what; // "title", "items", "order", "enclosure"
    bool operator<(const Disagreement& other) const
    {
        return std::tie(feed, what) < std::tie(other.feed, other.what);
    }
};

// The disagreements this reader accepts, with the rule that causes each. Titles are compared
// without surrounding white space on both sides: spaces before a start tag stay in this reader's
// fields by rule, and the other parser trims. An enclosure type or length that this reader left
// absent is not compared (the other parser fills in defaults).
const std::map<Disagreement, const char*> accepted = {
    {{"itunes_type_serial", "order"},
        "the other parser sorts episodes; this reader keeps document order"},
    {{"max_episodes", "items"},
        "the other parser stops at a maximum episode count; this reader keeps every item"},
    {{"multi_enclosures", "enclosure"},
        "the other parser counts media:content as a second enclosure"},
    {{"no_enclosure", "items"}, "the other parser drops items without an enclosure"},
    {{"no_enclosure", "enclosure"},
        "the other parser resolves relative enclosure addresses; this reader stores them as "
        "written"},
    {{"relative", "enclosure"},
        "the other parser resolves relative enclosure addresses; this reader stores them as "
        "written"},
    {{"no_guid", "items"},
        "the other parser invents a title from the enclosure file name; this reader leaves it "
        "absent"},
    {{"no_title", "items"},
        "the other parser invents a title from the enclosure file name; this reader leaves it "
        "absent"},
    {{"no_title_multi_enclosure", "items"},
        "the other parser invents a title from the enclosure file name; this reader leaves it "
        "absent"},
    {{"no_url", "items"}, "the other parser drops an item whose enclosure has no url"},
};

std::set<Disagreement> Compare(const fs::path& feedPath)
{
    std::set<Disagreement> found;
    const std::string name = feedPath.stem().string();
    fs::path jsonPath = feedPath;
    jsonPath.replace_extension(".json");
    QFile jsonFile(QString::fromStdString(jsonPath.string()));
    if (!jsonFile.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot open " << jsonPath;
        return found;
    }
    const QJsonObject expected = QJsonDocument::fromJson(jsonFile.readAll()).object();

    std::unique_ptr<CFeedChannel> channel;
    ReadFeedDocument(feedPath.string(), channel);

    const std::string theirTitle = expected.value("title").toString().toStdString();
    // A feed without a channel title is named after its file by the other parser; that is its
    // own choice, not something read from the document.
    const bool namedAfterFile = !channel->title && theirTitle == name;
    if (!namedAfterFile && Trim(channel->title.value_or("")) != Trim(theirTitle))
        found.insert({name, "title"});

    std::vector<const CFeedItem*> items;
    for (const CFeedItem* item = channel->firstItem.get(); item; item = item->nextItem.get())
        items.push_back(item);
    const QJsonArray episodes = expected.value("episodes").toArray();
    std::vector<std::string> ours;
    std::vector<std::string> theirs;
    for (const CFeedItem* item : items)
        ours.push_back(Trim(item->title.value_or("")));
    for (const auto& episode : episodes)
        theirs.push_back(Trim(episode.toObject().value("title").toString().toStdString()));
    if (ours != theirs) {
        auto sortedOurs = ours;
        auto sortedTheirs = theirs;
        std::sort(sortedOurs.begin(), sortedOurs.end());
        std::sort(sortedTheirs.begin(), sortedTheirs.end());
        found.insert({name, sortedOurs == sortedTheirs ? "order" : "items"});
    }

    // Single enclosures: match each of our items to the episode of the same title.
    ExpatImpl parser;
    EnclosureCounter counter;
    if (!parser.Create())
        return found;
    parser.SetHandler(counter);
    parser.ParseFile(feedPath.string());
    for (std::size_t i = 0; i < items.size() && i < counter.perItem.size(); ++i) {
        if (counter.perItem[i] != 1)
            continue;
        const CFeedItem& item = *items[i];
        for (const auto& value : episodes) {
            const QJsonObject episode = value.toObject();
            if (Trim(episode.value("title").toString().toStdString()) != ours[i])
                continue;
            const QJsonArray enclosures = episode.value("enclosures").toArray();
            bool match = enclosures.size() == 1;
            if (match) {
                const QJsonObject enclosure = enclosures.first().toObject();
                match = Trim(item.enclosureUrl.value_or(""))
                    == enclosure.value("url").toString().toStdString();
                if (item.enclosureType)
                    match = match
                        && *item.enclosureType
                            == enclosure.value("mime_type").toString().toStdString();
                if (item.enclosureLength && !item.enclosureLength->empty())
                    match = match
                        && std::to_string(enclosure.value("file_size").toInteger())
                            == Trim(*item.enclosureLength);
            }
            if (!match)
                found.insert({name, "enclosure"});
            break;
        }
    }
    return found;
}

} // namespace

TEST(Corpora, PodcastFeedsAgreeWithTheRecordedResultsExceptWhereListed)
{
    if (!fs::is_directory(corpora))
        GTEST_SKIP() << "no corpora at " << corpora
                     << " (they stand in shared/ beside the checkout)";
    const auto feeds = FilesUnder(corpora / "podcast-feeds", ".rss");
    ASSERT_GE(feeds.size(), 60u);
    std::set<Disagreement> all;
    for (const fs::path& feed : feeds) {
        for (const Disagreement& d : Compare(feed))
            all.insert(d);
    }
    for (const Disagreement& d : all) {
        EXPECT_TRUE(accepted.count(d)) << "unexpected disagreement: " << d.feed << " " << d.what;
    }
    for (const auto& [d, reason] : accepted) {
        EXPECT_TRUE(all.count(d)) << "listed disagreement no longer occurs: " << d.feed << " "
                                  << d.what << " (" << reason << ")";
    }
}

TEST(Corpora, EveryFeedReadsInAnyPieceSize)
{
    if (!fs::is_directory(corpora))
        GTEST_SKIP() << "no corpora at " << corpora
                     << " (they stand in shared/ beside the checkout)";
    for (const fs::path& feed : FilesUnder(corpora / "podcast-feeds", ".rss")) {
        std::unique_ptr<CFeedChannel> whole;
        std::unique_ptr<CFeedChannel> bytewise;
        const int wholeResult = ReadFeedDocument(feed.string(), whole);
        const int byteResult = ReadFeedDocument(feed.string(), bytewise, nullptr, 1);
        EXPECT_EQ(wholeResult, byteResult) << feed;
        EXPECT_EQ(whole->title, bytewise->title) << feed;
        EXPECT_EQ(whole->ItemCount(), bytewise->ItemCount()) << feed;
    }
}

TEST(Corpora, EveryOpmlFileReadsWellFormedOrNot)
{
    if (!fs::is_directory(corpora))
        GTEST_SKIP() << "no corpora at " << corpora
                     << " (they stand in shared/ beside the checkout)";
    const auto files = FilesUnder(corpora / "opml", "");
    ASSERT_GE(files.size(), 50u);
    int wellFormed = 0;
    for (const fs::path& file : files) {
        if (file.filename() == "LICENSE")
            continue;
        for (std::size_t piece : {std::size_t {256}, std::size_t {3}}) {
            std::unique_ptr<COutlineHead> head;
            std::unique_ptr<COutlineItem> root;
            XmlReadStatus status;
            const int result = ReadOutlineDocument(file.string(), head, root, &status, piece);
            ASSERT_TRUE(head && root) << file;
            EXPECT_EQ(root->title, "My Subscriptions") << file;
            EXPECT_EQ(result == 0, !status.reason.empty()) << file;
            if (piece == 256)
                wellFormed += result;
        }
    }
    // The malformed folder holds documents that must fail; the others mostly parse.
    EXPECT_GT(wellFormed, 40);
    for (const fs::path& file : FilesUnder(corpora / "opml" / "malformed", "")) {
        std::unique_ptr<COutlineHead> head;
        std::unique_ptr<COutlineItem> root;
        if (file.filename() == "end-element-missing.xml"
            || file.filename() == "undefined-entity-text.xml") {
            EXPECT_EQ(ReadOutlineDocument(file.string(), head, root), 0) << file;
        }
    }
}
