// The Atom reader: an Atom document becomes a CFeedChannel with its CFeedItem list, the same
// records an RSS document reads into, so that updates, Auto Retrieve and the command line take
// Atom podcasts as they take RSS ones.
//
// The channel takes the feed's title, its first link with rel="alternate" (or no rel) and its
// subtitle as description. Each entry is an item: title, the first alternate link, summary as
// description (content when there is no summary), id as guid, published as pubDate (updated
// when there is no published), and its first link with rel="enclosure" as the enclosure (href,
// type and length, each when given). Only elements directly inside the feed or an entry count,
// so the title of an entry's author or source is not taken for the entry's.
//
// The parser does no namespace processing, so Atom's elements are told apart by prefix: they are
// the ones written with the prefix of the root element ("feed" or, say, "atom:feed"); elements of
// other vocabularies (media:title, itunes:summary) are passed over. Names compare without regard
// to ASCII case, as everywhere in the readers. A text is everything inside its element (an xhtml
// text keeps its text, not its markup), as the document writes it, without the white space
// around it.
//
// Thread: each read has its own reader and channel.
#pragma once

#include "formats/ExpatImpl.h"
#include "formats/ItemOutlet.h"
#include "model/Records.h"

#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The prefix Atom's elements carry when name, a document's root element, is an Atom feed
// ("" for "feed", "atom:" for "atom:feed"); nullopt for any other root.
std::optional<std::string> AtomPrefixOfRoot(const XML_Char* name);

class CAtomReader : public CXmlHandler {
public:
    // prefix as AtomPrefixOfRoot gave it for the document's root; the entries go to items.
    CAtomReader(CFeedChannel& channel, std::string prefix, ItemOutlet& items);

    void HandleStart(const XML_Char* name, const XML_Char** attributes) override;
    void HandleEnd(const XML_Char* name) override;
    void HandleText(const XML_Char* text, int length) override;

private:
    // The name without the Atom prefix, or nullopt for another vocabulary's element.
    std::optional<std::string_view> AtomName(const XML_Char* name) const;
    void TakeLink(const XML_Char** attributes);
    void StoreText(std::string_view element);

    CFeedChannel* channel; // not owning
    ItemOutlet* items; // not owning
    CFeedItem* currentItem = nullptr; // the open entry's item, as items gives it
    std::string prefix;
    int depth = 0; // open elements; the feed itself is 1
    bool inEntry = false; // an entry (at depth 2) is open
    // The element whose text is being gathered (at textDepth), if any.
    std::string textElement;
    int textDepth = 0;
    std::string text;
    bool hasSummary = false; // of the open entry: summary wins over content
    bool hasPublished = false; // of the open entry: published wins over updated
};

} // namespace corvane
