// Whether a document is a feed this program reads (RSS or Atom), and if not, why not in words.
//
// The root element decides: rss, an RDF root (RSS 1.0) or an Atom feed is a feed even when the
// parse stops at a fault further on, since the reader keeps what came before the fault and the
// package has always carried such documents. Anything else is not a feed: an HTML page, text,
// XML of another vocabulary, or bytes that do not parse before a root element.
//
// Thread: pure functions and reads of one file; any thread.
#pragma once

#include "formats/ExpatImpl.h"
#include "formats/ItemOutlet.h"
#include "model/Records.h"

#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// NotAFeedReason's words for an HTML page.
inline constexpr const char* HTML_PAGE_REASON = "the document is an HTML page, not a feed";

// How many leading bytes of a document NotAFeedReason looks at.
inline constexpr std::size_t FEED_CHECK_HEAD_SIZE = 1024;

// Empty when the document is a feed; else the reason, a phrase without the address:
// "the document is an HTML page, not a feed", "the document is text, not a feed",
// "the document is empty, not a feed", "the document is XML with the root element <opml>,
// neither RSS nor Atom", "the document does not parse as XML (<expat's reason>)".
// status is what the feed reader reported for the document; head its first bytes (up to
// FEED_CHECK_HEAD_SIZE).
std::string NotAFeedReason(const XmlReadStatus& status, std::string_view head);

// ReadFeedDocument of the file at path, and NotAFeedReason of it into notAFeed (empty for a
// feed; the reading error when the file could not be read). channel holds what was read, as
// ReadFeedDocument leaves it. Returns the reader's 1 or 0.
int ReadFeedChecked(
    const std::string& path, std::unique_ptr<CFeedChannel>& channel, std::string& notAFeed);

// ReadFeedChecked with the items handed to each as ReadFeedDocumentItems does; channel keeps the
// channel's fields only. each sees the items of a document that turns out no feed as well.
int ReadFeedItemsChecked(const std::string& path, std::unique_ptr<CFeedChannel>& channel,
    const FeedItemCallback& each, std::string& notAFeed);

// The same over a document in memory.
int ReadFeedBytesChecked(
    std::string_view bytes, std::unique_ptr<CFeedChannel>& channel, std::string& notAFeed);

} // namespace corvane
