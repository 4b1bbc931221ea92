// The feeds a page announces, and the check that a document is a feed.
#include "formats/FeedCheck.h"
#include "formats/HtmlFeedLinks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane {
namespace {

struct AnnouncedCase {
    const char* name;
    const char* page; // the page's address
    std::string html;
    std::vector<std::string> expected; // the announced addresses, in order
};

std::string Page(const std::string& head, const std::string& body = "<p>hello</p>")
{
    return "<!DOCTYPE html><html><head><title>Site</title>" + head + "</head><body>" + body
        + "</body></html>";
}

TEST(HtmlFeedLinks, FindsAnnouncedFeedsResolvedAgainstPageAndBase)
{
    const AnnouncedCase cases[] = {
        {"one absolute", "http://site/",
            Page(
                R"(<link rel="alternate" type="application/rss+xml" href="http://feeds.example/a.rss">)"),
            {"http://feeds.example/a.rss"}},
        {"several kinds", "http://site/",
            Page(
                R"(<link rel="alternate" type="application/rss+xml" href="/rss">)"
                R"(<link rel="stylesheet" href="/s.css"><link rel="Alternate" type="APPLICATION/ATOM+XML; charset=utf-8" href="/atom">)"
                R"(<link rel="alternate" type="text/html" href="/fr/"><link rel="alternate" type="application/rdf+xml" href="/rdf">)"),
            {"http://site/rss", "http://site/atom", "http://site/rdf"}},
        {"relative to the page's folder", "https://site/blog/post.html",
            Page(R"(<link rel="alternate" type="application/rss+xml" href="feed.xml">)"),
            {"https://site/blog/feed.xml"}},
        {"relative to base", "http://site/a/b/",
            Page(
                R"(<base href="/root/"><link rel="alternate" type="application/rss+xml" href="f.rss">)"),
            {"http://site/root/f.rss"}},
        {"scheme-relative", "https://site/",
            Page(
                R"(<link rel="alternate feed" type="application/atom+xml" href="//cdn.example/x">)"),
            {"https://cdn.example/x"}},
        {"duplicates once", "http://site/",
            Page(
                R"(<link rel="alternate" type="application/rss+xml" href="/f"><link rel="alternate" type="application/atom+xml" href="http://site/f">)"),
            {"http://site/f"}},
        {"none", "http://site/", Page("<meta charset=utf-8>"), {}},
        {"a link in the body is no announcement", "http://site/",
            Page("",
                R"(<div><link rel="alternate" type="application/rss+xml" href="/in-body"></div>)"),
            {}},
        {"no rel alternate, empty href, other scheme", "http://site/",
            Page(
                R"(<link type="application/rss+xml" href="/a"><link rel="alternate" type="application/rss+xml" href="  ">)"
                R"(<link rel="alternate" type="application/rss+xml" href="ftp://x/f">)"),
            {}},
        {"unclosed tags and no head element", "http://site/",
            R"(<title>t</title><link rel=alternate type=application/rss+xml href=/loose><p>text)",
            {"http://site/loose"}},
    };
    for (const AnnouncedCase& c : cases) {
        std::vector<std::string> found;
        for (const AnnouncedFeed& feed : FindAnnouncedFeeds(c.html, c.page))
            found.push_back(feed.url);
        EXPECT_EQ(found, c.expected) << c.name;
    }
}

TEST(HtmlFeedLinks, KeepsTitleAndType)
{
    const auto feeds = FindAnnouncedFeeds(
        Page(
            R"(<link rel="alternate" type="application/atom+xml" title="  All posts " href="/a">)"),
        "http://site/");
    ASSERT_EQ(feeds.size(), 1u);
    EXPECT_EQ(feeds[0].title, "All posts");
    EXPECT_EQ(feeds[0].type, "application/atom+xml");
}

TEST(FeedCheck, TellsFeedsFromOtherDocuments)
{
    struct Case {
        const char* name;
        std::string document;
        std::string reason; // empty: a feed
    };
    const std::string html = "the document is an HTML page, not a feed";
    const Case cases[] = {
        {"rss", "<rss version=\"2.0\"><channel><title>t</title></channel></rss>", ""},
        {"rdf", "<rdf:RDF xmlns:rdf=\"x\"><channel/></rdf:RDF>", ""},
        {"atom", "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"/>", ""},
        {"prefixed atom", "<atom:feed xmlns:atom=\"http://www.w3.org/2005/Atom\"/>", ""},
        {"rss with an unknown entity near the end",
            "<rss><channel><title>t</title><item><title>a</title></item>&nbsp;</channel></rss>",
            ""},
        {"html5 page", Page(""), html},
        {"xhtml page", "<?xml version=\"1.0\"?>\n<html xmlns=\"x\"><head/></html>", html},
        {"html after a comment and a byte order mark",
            "\xEF\xBB\xBF  <!-- hi -->\n<HTML><body><br></body>", html},
        {"text", "Service unavailable, try later", "the document is text, not a feed"},
        {"empty", " \n ", "the document is empty, not a feed"},
        {"opml", "<opml version=\"1.0\"><body/></opml>",
            "the document is XML with the root element <opml>, neither RSS nor Atom"},
        {"broken before a root", "<<rss>",
            "the document does not parse as XML (not well-formed (invalid token) at line 1, "
            "column 2)"},
    };
    for (const Case& c : cases) {
        std::unique_ptr<CFeedChannel> channel;
        std::string reason;
        ReadFeedBytesChecked(c.document, channel, reason);
        EXPECT_EQ(reason, c.reason) << c.name;
        ASSERT_TRUE(channel) << c.name;
    }
}

TEST(FeedCheck, RecoverableFaultKeepsWhatWasRead)
{
    std::unique_ptr<CFeedChannel> channel;
    std::string reason;
    EXPECT_EQ(ReadFeedBytesChecked(
                  "<rss><channel><title>Kept</title><item><title>a</title></item>&bad;</channel>",
                  channel, reason),
        0);
    EXPECT_EQ(reason, "");
    ASSERT_TRUE(channel->title);
    EXPECT_EQ(*channel->title, "Kept");
}

TEST(HtmlFeedLinks, LooksLikeHtml)
{
    EXPECT_TRUE(LooksLikeHtml("<!doctype HTML>"));
    EXPECT_TRUE(LooksLikeHtml("\n<head><title>x"));
    EXPECT_FALSE(LooksLikeHtml("<header>x</header>"));
    EXPECT_FALSE(LooksLikeHtml("<rss>"));
    EXPECT_FALSE(LooksLikeHtml("<!-- unterminated <html>"));
}

} // namespace
} // namespace corvane
