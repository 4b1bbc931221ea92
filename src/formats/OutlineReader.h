// The OPML reader: an OPML document (a subscription list, the channels file, an import) becomes
// a tree of COutlineItem nodes under a root titled "My Subscriptions", plus the head's texts.
//
// Names of elements and attributes are compared without regard to ASCII case (xmlUrl matches
// xmlurl). Nesting of outline elements becomes nesting of nodes at any depth; the handlers never
// recurse and append children through a last-child hint, so a list of 100,000 outlines or an
// outline 100,000 levels deep reads in linear time and bounded stack.
//
// An outline without a "title" attribute but with "text" takes its text as its title too, so a
// list written by a program that knows only "text" shows names (and the channels file, written
// from the tree, then carries them as titles). An outline with both keeps both as they are.
//
// A feed's choices (model/FeedOptions.h) are read from attributes podcast, newest and audio in
// FEED_OPTIONS_NAMESPACE, with whatever prefix the document binds to it on any element before
// the outline (a binding holds for the rest of the document). Values that do not read are
// passed by: a list from elsewhere imports whatever it says.
//
// Thread: each read has its own reader, parser, head and root.
#pragma once

#include "formats/ExpatImpl.h"
#include "model/FeedOptions.h"
#include "model/Records.h"

#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace corvane {

// The namespace of this program's own OPML attributes, and the prefix it writes for it.
inline constexpr const char* FEED_OPTIONS_NAMESPACE = "urn:corvane:feed-options:1";
inline constexpr const char* FEED_OPTIONS_PREFIX = "corvane";

// The OPML handler object; lives on the stack of one read and fills a head and root its caller
// owns.
class COutlineReader : public CXmlHandler {
public:
    enum ReadState { OutsideHead = 0, InHead = 1, InOutline = 4 };

    COutlineReader(COutlineHead& head, COutlineItem& root);

    void HandleStart(const XML_Char* name, const XML_Char** attributes) override;
    void HandleEnd(const XML_Char* name) override;
    void HandleText(const XML_Char* text, int length) override;

    int readState = OutsideHead;
    // The text of the current element (same gathering rules as the RSS reader).
    std::string pendingText;
    COutlineHead* head; // not owning
    COutlineItem* root; // not owning
    COutlineItem* currentNode; // receives the next outline as its last child
    // Receives the choices of each feed that carries any, by address; null: not read.
    FeedOptionsTable* feedOptions = nullptr;

private:
    void ReadNamespaces(const XML_Char** attributes);
    void ReadFeedOptions(const COutlineItem& node, const XML_Char** attributes);

    std::set<std::string> optionPrefixes; // "corvane:" and any other bound to our namespace
    // The node currentNode last moved up from: when its parent is currentNode it is that node's
    // last child, which makes the next append constant time.
    COutlineItem* lastLeft = nullptr;
};

// ReadOutlineFile with the reason of a failure and the piece size (tests use 1, 2 and 3).
// The slots hold a new head and a new root titled "My Subscriptions" afterwards whatever
// happens; returns 1 or 0.
// With feedOptions, the feeds' choices go there (emptied first).
int ReadOutlineDocument(const std::string& path, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, XmlReadStatus* status = nullptr,
    std::size_t pieceSize = ExpatImpl::PIECE_SIZE, FeedOptionsTable* feedOptions = nullptr);

// The same over a document in memory (fuzzing and tests).
int ReadOutlineBytes(std::string_view bytes, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, XmlReadStatus* status = nullptr,
    std::size_t pieceSize = ExpatImpl::PIECE_SIZE, FeedOptionsTable* feedOptions = nullptr);

} // namespace corvane
