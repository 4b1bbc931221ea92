#include "subscriptions/FeedDiscovery.h"

#include "formats/FeedCheck.h"
#include "net/WebAccess.h"
#include "platform/AsciiText.h"

#include <QUrl>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace corvane {

namespace {

struct Fetched {
    bool ok = false;
    std::string body;
    std::string finalUrl; // after redirects
    std::string error;
};

// One GET into memory. A body past MAX_DOCUMENT_SIZE stops the fetch: the stop of our own also
// carries the caller's.
Fetched FetchDocument(const std::string& url, std::stop_token stop)
{
    std::stop_source own;
    std::stop_callback forward(stop, [&own] { own.request_stop(); });
    bool tooLarge = false;
    CWebAccess web(DISCOVERY_AGENT);
    web.SetStopToken(own.get_token());
    web.SetProgressCallback([&](std::uint64_t received, std::uint64_t total) {
        if (received > MAX_DOCUMENT_SIZE || total > MAX_DOCUMENT_SIZE) {
            tooLarge = true;
            own.request_stop();
        }
    });
    Fetched fetched;
    fetched.ok = web.FetchUrl(url, fetched.body) == WEB_OK;
    fetched.finalUrl = web.LastUrl().empty() ? url : web.LastUrl();
    if (tooLarge) {
        fetched.ok = false;
        fetched.error = "the document is larger than "
            + std::to_string(MAX_DOCUMENT_SIZE / (1024 * 1024)) + " MB, too large for a feed";
    } else if (!fetched.ok) {
        fetched.error = web.LastError();
    }
    return fetched;
}

FeedProbe Failed(const std::string& url, const std::string& reason)
{
    FeedProbe probe;
    probe.kind = FeedProbe::Kind::FetchFailed;
    probe.failedUrl = url;
    probe.reason = reason;
    return probe;
}

FeedProbe NotAFeed(const std::string& reason)
{
    FeedProbe probe;
    probe.kind = FeedProbe::Kind::NotAFeed;
    probe.reason = reason;
    return probe;
}

// The fetched document of url as a feed, or why it is none.
FeedProbe ReadAsFeed(const std::string& url, const std::string& body)
{
    std::unique_ptr<CFeedChannel> channel;
    std::string notAFeed;
    ReadFeedBytesChecked(body, channel, notAFeed);
    if (!notAFeed.empty())
        return NotAFeed(notAFeed);
    FeedProbe probe;
    probe.kind = FeedProbe::Kind::Feed;
    probe.feedUrl = url;
    probe.title = TrimmedText(channel->title);
    probe.link = TrimmedText(channel->link);
    probe.description = TrimmedText(channel->description);
    return probe;
}

// The usual places of a feed: under the page's folder, then under the site's root.
std::vector<std::string> FallbackUrls(const std::string& pageUrl)
{
    const QUrl page(QString::fromStdString(pageUrl));
    QUrl folder = page.resolved(QUrl(QStringLiteral("./")));
    folder.setQuery(QString());
    const QUrl root = page.resolved(QUrl(QStringLiteral("/")));
    std::vector<QUrl> folders {folder};
    if (folder != root)
        folders.push_back(root);
    std::vector<std::string> urls;
    for (const QUrl& base : folders)
        for (const char* path : FALLBACK_FEED_PATHS)
            urls.push_back(base.resolved(QUrl(QString::fromLatin1(path)))
                               .toString(QUrl::FullyEncoded)
                               .toStdString());
    return urls;
}

FeedProbe FromFallbacks(const std::string& pageUrl, std::stop_token stop)
{
    for (const std::string& url : FallbackUrls(pageUrl)) {
        if (stop.stop_requested())
            return Failed(url, "the fetch was stopped");
        const Fetched fetched = FetchDocument(url, stop);
        if (!fetched.ok)
            continue;
        FeedProbe probe = ReadAsFeed(url, fetched.body);
        if (probe.kind == FeedProbe::Kind::Feed)
            return probe;
    }
    std::string places;
    for (const char* path : FALLBACK_FEED_PATHS)
        places += std::string(places.empty() ? "" : ", ") + path;
    return NotAFeed("the document is an HTML page that announces no feed, and none of the usual "
                    "places ("
        + places + ") holds one");
}

// The announced feed that pick chooses, fetched.
FeedProbe FromAnnounced(
    std::vector<AnnouncedFeed> announced, std::optional<int> pick, std::stop_token stop)
{
    if (!pick && announced.size() > 1) {
        FeedProbe probe;
        probe.kind = FeedProbe::Kind::Page;
        probe.reason = "the page announces " + std::to_string(announced.size()) + " feeds";
        probe.announced = std::move(announced);
        return probe;
    }
    const int number = pick.value_or(1);
    if (number < 1 || static_cast<std::size_t>(number) > announced.size()) {
        FeedProbe probe = NotAFeed("the page announces " + std::to_string(announced.size())
            + (announced.size() == 1 ? " feed" : " feeds") + ", so there is no feed number "
            + std::to_string(number));
        probe.announced = std::move(announced);
        return probe;
    }
    const std::string chosen = announced[static_cast<std::size_t>(number - 1)].url;
    FeedProbe feed = ProbeFeed(chosen, stop);
    if (feed.kind == FeedProbe::Kind::NotAFeed)
        feed.reason = "the feed " + chosen + " that the page announces: " + feed.reason;
    feed.announced = std::move(announced);
    return feed;
}

} // namespace

std::optional<std::string> CheckedFeedAddress(const std::string& text, std::string& error)
{
    std::string address(TrimmedAscii(text));
    if (address.empty()) {
        error = "the feed address is empty";
        return std::nullopt;
    }
    if (address.find("://") == std::string::npos)
        address = "http://" + address;
    const QUrl url(QString::fromStdString(address), QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        error = "not an http or https address (the scheme is '" + scheme.toStdString() + "')";
        return std::nullopt;
    }
    if (!url.isValid() || url.host().isEmpty()) {
        error = "not a valid web address"
            + (url.isValid() ? std::string(" (no host)")
                             : " (" + url.errorString().toStdString() + ")");
        return std::nullopt;
    }
    return address;
}

std::string FeedAddressKey(const std::string& address)
{
    QUrl url(QString::fromStdString(address));
    if (!url.isValid() || url.host().isEmpty())
        return address;
    // QUrl already keeps scheme and host in lower case.
    if ((url.scheme() == QLatin1String("http") && url.port() == 80)
        || (url.scheme() == QLatin1String("https") && url.port() == 443))
        url.setPort(-1);
    if (url.path().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url.toString(QUrl::FullyEncoded).toStdString();
}

FeedProbe ProbeFeed(const std::string& url, std::stop_token stop)
{
    const Fetched fetched = FetchDocument(url, stop);
    if (!fetched.ok)
        return Failed(url, fetched.error);
    return ReadAsFeed(url, fetched.body);
}

FeedProbe FindFeed(const std::string& url, std::optional<int> pick, std::stop_token stop)
{
    const Fetched fetched = FetchDocument(url, stop);
    if (!fetched.ok)
        return Failed(url, fetched.error);
    FeedProbe probe = ReadAsFeed(url, fetched.body);
    if (probe.kind != FeedProbe::Kind::NotAFeed || probe.reason != HTML_PAGE_REASON)
        return probe;
    std::vector<AnnouncedFeed> announced = FindAnnouncedFeeds(fetched.body, fetched.finalUrl);
    if (announced.empty())
        return FromFallbacks(fetched.finalUrl, stop);
    return FromAnnounced(std::move(announced), pick, stop);
}

std::vector<FeedProbe> FindFeeds(const std::vector<std::string>& urls, std::optional<int> pick,
    int connections, int connectionsPerHost, std::stop_token stop)
{
    std::vector<FeedProbe> results(urls.size());
    std::vector<std::string> hosts;
    for (const std::string& url : urls)
        hosts.push_back(QUrl(QString::fromStdString(url)).host().toStdString());
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<bool> taken(urls.size(), false);
    std::map<std::string, int> active;
    const auto next = [&]() -> std::optional<std::size_t> {
        for (std::size_t i = 0; i < urls.size(); ++i)
            if (!taken[i] && active[hosts[i]] < std::max(connectionsPerHost, 1))
                return i;
        return std::nullopt;
    };
    const auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            std::optional<std::size_t> index;
            freed.wait(lock, [&] {
                index = next();
                return index || std::find(taken.begin(), taken.end(), false) == taken.end();
            });
            if (!index)
                return;
            taken[*index] = true;
            ++active[hosts[*index]];
            lock.unlock();
            FeedProbe probe = stop.stop_requested() ? Failed(urls[*index], "the fetch was stopped")
                                                    : FindFeed(urls[*index], pick, stop);
            lock.lock();
            results[*index] = std::move(probe);
            --active[hosts[*index]];
            freed.notify_all();
        }
    };
    {
        std::vector<std::jthread> workers;
        const std::size_t count = std::min<std::size_t>(std::max(connections, 1), urls.size());
        for (std::size_t i = 0; i < count; ++i)
            workers.emplace_back(work);
    }
    return results;
}

} // namespace corvane
