// Feed texts for places that must not run or fetch anything: a tag's comment, and the pages a
// sync writes for a phone's browser. Feeds put HTML into their descriptions, often with
// scripts, trackers and remote images; what comes out here is text only, so nothing of that can
// reach the phone, and a page is built from escaped text alone.
//
// Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// The text of a description that may be HTML: markup gone (scripts, styles and comments with
// their content), character references decoded (the named ones HTML feeds use most, and every
// numeric one; others stay as written), a line break for each paragraph, break, list item,
// heading, row or block, runs of blanks one space, lines trimmed, no empty lines. A '<' not
// followed by a letter, '/', '!' or '?', or never closed by a '>', is text ("a < b", a cut
// description). Invalid UTF-8 is repaired.
std::string PlainTextOfHtml(std::string_view html);

// text with &, <, >, " and ' as character references, for HTML text and attribute values.
std::string EscapeHtml(std::string_view text);

} // namespace corvane
