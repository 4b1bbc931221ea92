// The OPML writer: the subscription tree as an OPML document, byte for byte as Corvane has
// always written it (six head lines, CR LF line ends, no indentation, a fixed head title).
//
// Only the root's children are written, never the root. A node with children is written as a
// group (title and description only), even when it has an xmlurl; a node without children and
// with an xmlurl as a feed (title, type, htmlurl, xmlurl, description, text, in that order, each
// only when present); a node without children and without xmlurl not at all. Values are written
// as stored (UTF-8) after EscapeXml, except that bytes which cannot stand in XML (invalid UTF-8,
// control characters other than tab, line feed and carriage return) are written as U+FFFD, so
// the file always reads back whole, and that line feeds and carriage returns are written as
// "&#10;" and "&#13;", so a value reads back as it was and every line of the file ends in CR LF.
//
// Every walk here is iterative: a tree 100,000 levels deep writes without deep recursion.
// Thread: the tree must not change while it is written; nothing here is shared.
#pragma once

#include "model/FeedOptions.h"
#include "model/Records.h"

#include <cstdint>
#include <string>

namespace corvane {

// Replaces, over the whole string and in this order, & by &amp;, " by &quot;, ' by &apos;,
// < by &lt; and > by &gt;.
void EscapeXml(std::string& text);

// Appends node and its subtree (not its following siblings) to out, in tree order.
void WriteOutline(const COutlineItem& node, std::string& out);

// The whole document for the tree under root.
std::string OutlineDocumentText(const COutlineItem& root);

// Writes OutlineDocumentText(root) to path through WriteFileAtomically: a reader never sees half
// a file, a failure leaves the old file as it was, a symbolic link at path stays a link and the
// file it leads to gets the document, and a replaced file keeps its permission bits. Returns 1
// after writing, 0 when the file cannot be written; error, when given, then names the file and
// the reason.
int WriteOutlineFile(
    const std::string& path, const COutlineItem& root, std::string* error = nullptr);

// OPML 2.0 for other programs, which look for "text", "xmlUrl" and "htmlUrl" in their standard
// spelling: LF line ends, a tab of indentation a level, a head with the fixed title and
// dateCreated (created, seconds since the epoch, as RFC 822 in UTC). Every outline has "text"
// and "title", both the name shown here (the title, else the node's text; a feed with neither is
// named by its address).
// Feeds (childless nodes with an xmlurl) add type="rss", xmlUrl and htmlUrl (when present) and
// description; groups, empty ones too, add description. A node with children is a group, as in
// the channels file. Never used for the channels file, which the phone reads.
// With options, each feed that has choices there carries them as FEED_OPTIONS_PREFIX:podcast,
// :newest and :audio (the text forms of model/FeedOptions.h), the prefix declared on <opml>
// for FEED_OPTIONS_NAMESPACE; without any choice the document is the same as without options.
std::string Opml2DocumentText(
    const COutlineItem& root, std::int64_t created, const FeedOptionsTable* options = nullptr);

} // namespace corvane
