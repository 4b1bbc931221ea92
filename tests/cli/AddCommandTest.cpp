// corvane-cli add against a server on 127.0.0.1: the address checks, titles filled from the
// feed, feeds found from website addresses, and duplicates refused.
#include "support/CliRunner.h"
#include "support/TestHome.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string kRss = "<rss version=\"2.0\"><channel><title>\n Show \t</title>"
                         "<link>http://show.example/</link><description>About</description>"
                         "</channel></rss>";
const std::string kAtom = "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Atom Show</title>"
                          "<link href=\"http://atom.example/\"/></feed>";

std::string Html(const std::string& head)
{
    return "<!DOCTYPE html><html><head><meta charset=utf-8><title>Site</title>" + head
        + "</head><body><p>Welcome</body></html>";
}

std::string Link(const std::string& type, const std::string& href)
{
    return "<link rel=\"alternate\" type=\"application/" + type + "+xml\" href=\"" + href + "\">";
}

class AddCommandTest : public TestHome {
protected:
    void SetUp() override
    {
        TestHome::SetUp();
        server.Serve("/feed.rss", kRss, "application/rss+xml");
        server.Serve("/other.atom", kAtom, "application/atom+xml");
        server.Serve("/site/", Html(Link("rss", "../feed.rss")), "text/html");
        server.Serve(
            "/multi/", Html(Link("rss", "/feed.rss") + Link("atom", "/other.atom")), "text/html");
        server.Serve("/bare/", Html(""), "text/html");
        server.Serve("/bare/rss.xml", kRss, "application/rss+xml");
        server.Serve("/nothing/", Html(""), "text/html");
        server.Serve("/text", "Service unavailable", "text/plain");
        server.Serve("/opml", "<opml version=\"1.0\"><body/></opml>", "text/xml");
    }

    CliRun Cli(const std::vector<std::string>& arguments) { return RunCli(arguments); }
    std::string Listed() { return Cli({"list"}).out; }
    std::string Entry(const std::string& title, const std::string& url)
    {
        return "  " + title + (title.empty() ? "" : "  ") + "<" + url + ">\n";
    }

    TestServer server;
};

TEST_F(AddCommandTest, ChecksAddressesAndFindsFeeds)
{
    const std::string feed = server.Url("/feed.rss");
    const std::string hostAndPort = feed.substr(std::string("http://").size());
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string listed; // the tree's entries afterwards
        std::string said; // in standard error, or standard output for a success
    };
    const Case cases[] = {
        {{"not a url"}, 1, "", "'not a url': not a valid web address"},
        {{"ftp://x/y"}, 1, "", "'ftp://x/y': not an http or https address (the scheme is 'ftp')"},
        {{feed}, 0, Entry("Show", feed), ""},
        {{feed, "--title", "Mine"}, 0, Entry("Mine", feed), ""},
        {{hostAndPort}, 0, Entry("Show", feed), ""},
        {{server.Url("/site/")}, 0, Entry("Show", feed), "subscribing to the feed " + feed},
        {{server.Url("/multi/")}, 1, "",
            "the page announces 2 feeds; choose one with --pick N:\n  1. " + feed},
        {{server.Url("/multi/"), "--pick", "2"}, 0, Entry("Atom Show", server.Url("/other.atom")),
            ""},
        {{server.Url("/multi/"), "--pick", "3"}, 1, "", "so there is no feed number 3"},
        {{server.Url("/bare/")}, 0, Entry("Show", server.Url("/bare/rss.xml")), ""},
        {{server.Url("/nothing/")}, 1, "", "an HTML page that announces no feed"},
        {{server.Url("/text")}, 1, "", "the document is text, not a feed; nothing was added"},
        {{server.Url("/opml")}, 1, "", "root element <opml>, neither RSS nor Atom"},
        {{server.Url("/missing")}, 1, "", server.Url("/missing") + ": HTTP status 404"},
        {{"--no-fetch", "http://127.0.0.1:1/x"}, 0, Entry("", "http://127.0.0.1:1/x"), ""},
        // One address leading to a feed taken earlier in the call, one failing: the rest stays.
        {{feed, server.Url("/text"), server.Url("/site/")}, 1, Entry("Show", feed),
            "is already subscribed by an address given before"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(ChannelsPath());
        std::vector<std::string> arguments {"add"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const CliRun run = Cli(arguments);
        const std::string shown = c.arguments.front();
        EXPECT_EQ(run.exitCode, c.exitCode) << shown << "\n" << run.err;
        EXPECT_EQ(Listed(), "My Subscriptions\n" + c.listed) << shown;
        EXPECT_NE((run.exitCode == 0 ? run.out : run.err).find(c.said), std::string::npos)
            << shown << "\n"
            << run.out << run.err;
    }
}

TEST_F(AddCommandTest, FallbackRequestsAreBounded)
{
    ASSERT_EQ(Cli({"add", server.Url("/nothing/")}).exitCode, 1);
    int hits = 0;
    for (const char* folder : {"/nothing/", "/"})
        for (const char* path : {"feed", "rss", "rss.xml", "feed.xml", "atom.xml", "index.xml"})
            hits += server.Hits(std::string(folder) + path);
    EXPECT_EQ(hits, 12);
    // A page's fallback stops at the first feed.
    ASSERT_EQ(Cli({"add", server.Url("/bare/")}).exitCode, 0);
    EXPECT_EQ(server.Hits("/bare/feed.xml"), 0);
}

TEST_F(AddCommandTest, DuplicatesAreRefusedNamingTheirGroupUnlessAllowed)
{
    const std::string feed = server.Url("/feed.rss");
    const std::string opml = temp.Write("in.opml",
        "<opml version=\"1.0\"><body><outline text=\"News\"><outline text=\"Old\" type=\"rss\" "
        "xmlUrl=\""
            + feed + "\"/></outline></body></opml>");
    ASSERT_EQ(Cli({"import", "--yes", opml}).exitCode, 0);
    const std::string before = Listed();
    // The same feed as typed, with the host in capitals, and through its website.
    for (const std::string& address :
        {feed, "HTTP://127.0.0.1:" + std::to_string(server.Port()) + "/feed.rss",
            server.Url("/site/")}) {
        const CliRun refused = Cli({"add", address});
        EXPECT_EQ(refused.exitCode, 1) << address;
        EXPECT_NE(refused.err.find("is already subscribed in the group 'News'"), std::string::npos)
            << refused.err;
        EXPECT_EQ(Listed(), before);
    }
    ASSERT_EQ(Cli({"add", "--allow-duplicate", feed}).exitCode, 0);
    EXPECT_EQ(Listed(), before + Entry("Show", feed));
}

TEST_F(AddCommandTest, SeveralAddressesAreOneSaveThatOneUndoTakesBack)
{
    ASSERT_EQ(Cli({"add", "--no-fetch", "http://first.example/"}).exitCode, 0);
    const std::string before = Listed();
    ASSERT_EQ(Cli({"add", server.Url("/feed.rss"), server.Url("/other.atom")}).exitCode, 0);
    EXPECT_EQ(Listed(),
        before + Entry("Show", server.Url("/feed.rss"))
            + Entry("Atom Show", server.Url("/other.atom")));
    ASSERT_EQ(Cli({"undo"}).exitCode, 0);
    EXPECT_EQ(Listed(), before);
}

TEST_F(AddCommandTest, UsageErrors)
{
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>> {{"add"},
             {"add", "a", "b", "--title", "T"}, {"add", "a", "--pick", "0"},
             {"add", "a", "--no-fetch", "--pick", "1"}, {"add", "a", "--connections", "65"}})
        EXPECT_EQ(Cli(arguments).exitCode, 2) << arguments.size();
    EXPECT_FALSE(FileExists(ChannelsPath()));
}

} // namespace
