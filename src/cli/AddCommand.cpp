// corvane-cli add's checks: each address is an http or https address that the tree does not
// hold yet, and (unless --no-fetch) answers with a feed or a page that leads to one, whose
// title, site address and description the new feed takes.
#include "cli/Commands.h"

#include "net/WebAccess.h"
#include "subscriptions/FeedDiscovery.h"

#include <cstdio>
#include <map>
#include <string>

namespace corvane {

namespace {

// The feeds the tree holds, by FeedAddressKey, with the node that holds each.
std::map<std::string, const COutlineItem*> FeedsHeld(const CSubscriptions& subscriptions)
{
    std::map<std::string, const COutlineItem*> held;
    ForEachNode(subscriptions.Root(), [&held](const COutlineItem* node, int) {
        if (node->IsFeed() && !node->HasChildren())
            held.emplace(FeedAddressKey(*node->xmlurl), node);
        return true;
    });
    return held;
}

std::string WhereHeld(const COutlineItem& node)
{
    const COutlineItem* group = node.parent;
    if (!group || !group->parent)
        return "at the top of the tree";
    return "in the group '" + (group->title ? *group->title : std::string()) + "'";
}

// The addresses, checked, and the check of the tree. Prints every refusal.
class AddCheck {
public:
    AddCheck(const CSubscriptions& subscriptions, const AddRequest& request)
        : request(request)
        , held(FeedsHeld(subscriptions))
    { }

    // Whether url (already checked) is in the tree or was taken earlier in this call; says so.
    bool Held(const std::string& url, const std::string& given) const
    {
        if (request.allowDuplicate)
            return false;
        const auto found = held.find(FeedAddressKey(url));
        if (found == held.end())
            return false;
        PrintError(Named(given, url) + " is already subscribed "
            + (found->second ? WhereHeld(*found->second) : "by an address given before")
            + "; --allow-duplicate adds it again");
        return true;
    }

    // url is taken by this call: a later address leading to it is a duplicate.
    void Claim(const std::string& url) { held.emplace(FeedAddressKey(url), nullptr); }

    // The new feed's fields from what its address led to; false after saying why not.
    bool Take(const std::string& given, const FeedProbe& probe, CSubscriptions::FeedFields& fields)
    {
        switch (probe.kind) {
        case FeedProbe::Kind::Feed:
            if (Held(probe.feedUrl, given))
                return false;
            Claim(probe.feedUrl);
            fields = {
                request.title.value_or(probe.title), probe.feedUrl, probe.link, probe.description};
            // The address saved is not the one typed: say which feed it is.
            if (probe.feedUrl != given && !request.quiet) {
                const std::string titled = probe.title.empty() ? "" : " (" + probe.title + ")";
                std::printf("%s: subscribing to the feed %s%s\n", given.c_str(),
                    probe.feedUrl.c_str(), titled.c_str());
            }
            return true;
        case FeedProbe::Kind::Page:
            PrintError(given + ": " + probe.reason + "; choose one with --pick N:");
            for (std::size_t i = 0; i < probe.announced.size(); ++i)
                std::fprintf(stderr, "  %zu. %s%s%s\n", i + 1, probe.announced[i].url.c_str(),
                    probe.announced[i].title.empty() ? "" : "  ", probe.announced[i].title.c_str());
            return false;
        case FeedProbe::Kind::NotAFeed:
            PrintError(given + ": " + probe.reason + "; nothing was added for it");
            return false;
        case FeedProbe::Kind::FetchFailed:
            std::fprintf(stderr, "%s\n", FetchFailureText(probe.failedUrl).c_str());
            PrintError(probe.failedUrl + ": " + probe.reason);
            return false;
        }
        return false;
    }

private:
    static std::string Named(const std::string& given, const std::string& url)
    {
        return given == url ? url : given + " (" + url + ")";
    }

    const AddRequest& request;
    std::map<std::string, const COutlineItem*> held;
};

} // namespace

std::vector<CSubscriptions::FeedFields> CheckNewFeeds(
    const CSubscriptions& subscriptions, const AddRequest& request, bool& anyRefused)
{
    AddCheck check(subscriptions, request);
    std::vector<std::string> addresses;
    std::vector<CSubscriptions::FeedFields> added;
    for (const std::string& text : request.urls) {
        std::string error;
        const std::optional<std::string> address = CheckedFeedAddress(text, error);
        if (!address) {
            PrintError("'" + text + "': " + error);
            anyRefused = true;
        } else if (check.Held(*address, text)) {
            anyRefused = true;
        } else if (request.noFetch) {
            check.Claim(*address);
            added.push_back({request.title.value_or(""), *address, "", ""});
        } else {
            addresses.push_back(*address);
        }
    }
    if (addresses.empty())
        return added;
    const std::vector<FeedProbe> probes = FindFeeds(
        addresses, request.pick, request.connections, request.connectionsPerHost, request.stop);
    for (std::size_t i = 0; i < probes.size(); ++i) {
        CSubscriptions::FeedFields fields;
        if (check.Take(addresses[i], probes[i], fields))
            added.push_back(std::move(fields));
        else
            anyRefused = true;
    }
    return added;
}

} // namespace corvane
