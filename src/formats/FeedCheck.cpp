#include "formats/FeedCheck.h"

#include "formats/HtmlFeedLinks.h"
#include "formats/RssReader.h"
#include "platform/AsciiText.h"
#include "platform/InputFile.h"

namespace corvane {

namespace {

std::string LowerLocalName(const std::string& name)
{
    return AsciiLower(name.substr(name.find(':') + 1));
}

std::string_view SkipSpaceAndMark(std::string_view bytes)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        bytes.remove_prefix(3);
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    return first == std::string_view::npos ? std::string_view() : bytes.substr(first);
}

// Why a document that gave no root element is not a feed.
std::string WithoutRoot(const XmlReadStatus& status, std::string_view head)
{
    if (LooksLikeHtml(head))
        return HTML_PAGE_REASON;
    const std::string_view start = SkipSpaceAndMark(head);
    if (start.empty())
        return "the document is empty, not a feed";
    if (start.front() != '<')
        return "the document is text, not a feed";
    return "the document does not parse as XML ("
        + (status.reason.empty() ? std::string("no root element") : status.reason) + ")";
}

} // namespace

std::string NotAFeedReason(const XmlReadStatus& status, std::string_view head)
{
    if (status.inputFailed)
        return status.reason;
    if (status.documentElement.empty())
        return WithoutRoot(status, head);
    const std::string root = LowerLocalName(status.documentElement);
    if (root == "rss" || root == "rdf" || root == "feed")
        return {};
    if (root == "html")
        return HTML_PAGE_REASON;
    return "the document is XML with the root element <" + status.documentElement
        + ">, neither RSS nor Atom";
}

namespace {

// NotAFeedReason of the file at path, which the reader reported status for.
std::string NotAFeedReasonOfFile(const std::string& path, const XmlReadStatus& status)
{
    std::string head;
    if (!status.inputFailed) {
        InputFile file;
        std::string reason;
        if (file.Open(path, reason)) {
            head.resize(FEED_CHECK_HEAD_SIZE);
            const long count = file.Read(head.data(), head.size());
            head.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
        }
    }
    return NotAFeedReason(status, head);
}

} // namespace

int ReadFeedChecked(
    const std::string& path, std::unique_ptr<CFeedChannel>& channel, std::string& notAFeed)
{
    XmlReadStatus status;
    const int result = ReadFeedDocument(path, channel, &status);
    notAFeed = NotAFeedReasonOfFile(path, status);
    return result;
}

int ReadFeedItemsChecked(const std::string& path, std::unique_ptr<CFeedChannel>& channel,
    const FeedItemCallback& each, std::string& notAFeed)
{
    XmlReadStatus status;
    const int result = ReadFeedDocumentItems(path, channel, each, &status);
    notAFeed = NotAFeedReasonOfFile(path, status);
    return result;
}

int ReadFeedBytesChecked(
    std::string_view bytes, std::unique_ptr<CFeedChannel>& channel, std::string& notAFeed)
{
    XmlReadStatus status;
    const int result = ReadFeedBytes(bytes, channel, &status);
    notAFeed = NotAFeedReason(status, bytes.substr(0, FEED_CHECK_HEAD_SIZE));
    return result;
}

} // namespace corvane
