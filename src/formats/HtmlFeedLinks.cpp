#include "formats/HtmlFeedLinks.h"

#include "platform/AsciiText.h"

#include <QUrl>

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace corvane {

namespace {

// Owns the tree gumbo builds; gumbo frees it with the options it was parsed with.
struct GumboOutputDeleter {
    void operator()(GumboOutput* output) const
    {
        gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
};
using GumboDocument = std::unique_ptr<GumboOutput, GumboOutputDeleter>;

GumboDocument ParseHtml(std::string_view html)
{
    return GumboDocument(gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size()));
}

std::string_view Attribute(const GumboElement& element, const char* name)
{
    const GumboAttribute* attribute = gumbo_get_attribute(&element.attributes, name);
    return attribute ? std::string_view(attribute->value) : std::string_view();
}

// rel is a list of tokens separated by white space ("alternate", "alternate feed").
bool HasRelToken(std::string_view rel, std::string_view wanted)
{
    const std::string lower = AsciiLower(rel);
    std::size_t at = 0;
    while (at < lower.size()) {
        const std::size_t start = lower.find_first_not_of(" \t\r\n\f", at);
        if (start == std::string::npos)
            break;
        const std::size_t end = std::min(lower.find_first_of(" \t\r\n\f", start), lower.size());
        if (std::string_view(lower).substr(start, end - start) == wanted)
            return true;
        at = end;
    }
    return false;
}

// The media type without parameters, or empty when it is no feed type this program reads.
std::string FeedType(std::string_view type)
{
    std::string bare = AsciiLower(TrimmedAscii(type.substr(0, type.find(';'))));
    static constexpr std::string_view kFeedTypes[]
        = {"application/rss+xml", "application/atom+xml", "application/rdf+xml"};
    return std::find(std::begin(kFeedTypes), std::end(kFeedTypes), bare) != std::end(kFeedTypes)
        ? bare
        : std::string();
}

const GumboElement* HeadOf(const GumboOutput& output)
{
    if (!output.root || output.root->type != GUMBO_NODE_ELEMENT)
        return nullptr;
    const GumboVector& children = output.root->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* node = static_cast<const GumboNode*>(children.data[i]);
        if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_HEAD)
            return &node->v.element;
    }
    return nullptr;
}

// The address relative links resolve against: the first <base href> of the head, itself
// resolved against the page, else the page.
QUrl BaseOf(const GumboElement& head, const QUrl& page)
{
    for (unsigned i = 0; i < head.children.length; ++i) {
        const auto* node = static_cast<const GumboNode*>(head.children.data[i]);
        if (node->type != GUMBO_NODE_ELEMENT || node->v.element.tag != GUMBO_TAG_BASE)
            continue;
        const std::string_view href = TrimmedAscii(Attribute(node->v.element, "href"));
        if (!href.empty())
            return page.resolved(QUrl(QString::fromUtf8(href.data(), href.size())));
    }
    return page;
}

} // namespace

std::vector<AnnouncedFeed> FindAnnouncedFeeds(std::string_view html, const std::string& pageUrl)
{
    std::vector<AnnouncedFeed> feeds;
    const GumboDocument output = ParseHtml(html);
    const GumboElement* head = output ? HeadOf(*output) : nullptr;
    if (!head)
        return feeds;
    const QUrl base = BaseOf(*head, QUrl(QString::fromStdString(pageUrl)));
    for (unsigned i = 0; i < head->children.length; ++i) {
        const auto* node = static_cast<const GumboNode*>(head->children.data[i]);
        if (node->type != GUMBO_NODE_ELEMENT || node->v.element.tag != GUMBO_TAG_LINK)
            continue;
        const GumboElement& link = node->v.element;
        const std::string type = FeedType(Attribute(link, "type"));
        const std::string_view href = TrimmedAscii(Attribute(link, "href"));
        if (type.empty() || href.empty() || !HasRelToken(Attribute(link, "rel"), "alternate"))
            continue;
        const QUrl resolved = base.resolved(QUrl(QString::fromUtf8(href.data(), href.size())));
        const QString scheme = resolved.scheme();
        if (!resolved.isValid() || resolved.host().isEmpty()
            || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            continue;
        AnnouncedFeed feed {resolved.toString(QUrl::FullyEncoded).toStdString(),
            std::string(TrimmedAscii(Attribute(link, "title"))), type};
        const bool seen = std::any_of(feeds.begin(), feeds.end(),
            [&feed](const AnnouncedFeed& other) { return other.url == feed.url; });
        if (!seen)
            feeds.push_back(std::move(feed));
    }
    return feeds;
}

bool LooksLikeHtml(std::string_view bytes)
{
    std::string_view rest = bytes;
    if (rest.substr(0, 3) == "\xEF\xBB\xBF")
        rest.remove_prefix(3);
    // Comments and an XML declaration (XHTML) may stand before the first tag.
    for (;;) {
        rest = TrimmedAscii(rest);
        if (rest.substr(0, 4) == "<!--") {
            const std::size_t end = rest.find("-->");
            if (end == std::string_view::npos)
                return false;
            rest.remove_prefix(end + 3);
        } else if (rest.substr(0, 5) == "<?xml") {
            const std::size_t end = rest.find("?>");
            if (end == std::string_view::npos)
                return false;
            rest.remove_prefix(end + 2);
        } else {
            break;
        }
    }
    const std::string start = AsciiLower(rest.substr(0, 14));
    for (std::string_view tag : {"<!doctype html", "<html", "<head", "<body"}) {
        if (start.rfind(tag, 0) == 0) {
            // "<header" is no "<head": the tag's name must end there.
            const std::size_t after = tag.size();
            return after >= start.size() || !std::isalnum(static_cast<unsigned char>(start[after]));
        }
    }
    return false;
}

} // namespace corvane
