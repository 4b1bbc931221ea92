// The feeds an HTML page announces: the <link rel="alternate"> elements of its head whose type is
// RSS, Atom or RDF, with their addresses resolved against the page's address and its <base>.
//
// The page is parsed with gumbo, an HTML5 tokenizer and tree builder: real pages are rarely
// well-formed XML, and the HTML5 rules decide what counts as the head (a <link> that a broken
// page leaves in its body is not an announcement). Bytes are taken as UTF-8; a page in another
// encoding still gives its ASCII addresses.
//
// Thread: pure functions; any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One feed a page announces.
struct AnnouncedFeed {
    std::string url; // absolute http or https address
    std::string title; // the link's title attribute, white space trimmed; may be empty
    std::string type; // the link's type, lower case, parameters removed ("application/rss+xml")
};

// The announced feeds of html in document order, each address once. pageUrl is the address the
// page came from (after redirects), against which relative addresses and <base> resolve. Links
// that resolve to anything but http or https are left out.
std::vector<AnnouncedFeed> FindAnnouncedFeeds(std::string_view html, const std::string& pageUrl);

// Whether bytes begin like an HTML page: after white space, a byte order mark and comments, a
// "<!doctype html" or an "<html", "<head" or "<body" tag (any case).
bool LooksLikeHtml(std::string_view bytes);

} // namespace corvane
