// Finding the feed behind an address the user typed: the address itself when it answers with a
// feed, else one that the page it answers with announces (formats/HtmlFeedLinks.h), else the first
// of the usual places of a site's feed that answers with one. Used by corvane-cli add and by
// Auto Retrieve in Channel Properties, so both subscribe the same way.
//
// Every fetch is one CWebAccess GET (net/WebAccess.h) held in memory and refused past
// MAX_DOCUMENT_SIZE; a page without announced feeds costs at most MAX_FALLBACK_REQUESTS more.
// A stop requested on the token ends the running fetch and every later one.
//
// Thread: ProbeFeed and FindFeed run on the calling thread and share nothing; FindFeeds runs its
// own workers and returns when they are done.
#pragma once

#include "formats/HtmlFeedLinks.h"

#include <cstddef>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace corvane {

// The user agent of the fetches, as Auto Retrieve's.
inline constexpr const char* DISCOVERY_AGENT = "Velmora RSS Reader";
// A feed or page larger than this is not read (a podcast's audio typed in by mistake).
inline constexpr std::size_t MAX_DOCUMENT_SIZE = 32 * 1024 * 1024;
// The places tried when a page announces no feed, under the page's folder and then under the
// site's root (each folder once).
inline constexpr const char* FALLBACK_FEED_PATHS[]
    = {"feed", "rss", "rss.xml", "feed.xml", "atom.xml", "index.xml"};
inline constexpr std::size_t MAX_FALLBACK_REQUESTS = 2 * std::size(FALLBACK_FEED_PATHS);

// text as a feed's address: white space around it removed, "http://" put before an address
// without a scheme. nullopt, with error saying why, when it is not an http or https address with
// a host ("not a url", "ftp://x/y").
std::optional<std::string> CheckedFeedAddress(const std::string& text, std::string& error);

// The form in which two addresses of one feed are equal: scheme and host in lower case, the
// default port left out, the rest as written. Equal texts give equal keys.
std::string FeedAddressKey(const std::string& address);

// What an address led to.
struct FeedProbe {
    enum class Kind {
        Feed, // feedUrl answers with a feed; the fields are its channel's
        Page, // an HTML page announcing several feeds (announced) and none was chosen
        NotAFeed, // no feed there: reason says why
        FetchFailed, // a fetch failed: reason says why, failedUrl which
    };
    Kind kind = Kind::FetchFailed;
    std::string feedUrl;
    // The channel's title, link and description, white space trimmed (absent ones empty), as
    // Auto Retrieve fills the dialog.
    std::string title;
    std::string link;
    std::string description;
    std::vector<AnnouncedFeed> announced;
    std::string reason;
    std::string failedUrl;
};

// Fetches url and reads it as a feed: Feed, NotAFeed (an HTML page among them) or FetchFailed.
FeedProbe ProbeFeed(const std::string& url, std::stop_token stop = {});

// The feed behind url: url itself when it is a feed; for an HTML page the feed it announces
// (pick, 1-based, chooses among several; without pick several give Page), else the first usual
// place that holds one. An announced feed that is not a feed is NotAFeed naming it.
FeedProbe FindFeed(
    const std::string& url, std::optional<int> pick = std::nullopt, std::stop_token stop = {});

// FindFeed of each address, several at once: at most connections addresses are worked on at
// once, at most connectionsPerHost of one host (both at least 1). Results in the order of urls.
std::vector<FeedProbe> FindFeeds(const std::vector<std::string>& urls, std::optional<int> pick,
    int connections, int connectionsPerHost, std::stop_token stop = {});

} // namespace corvane
