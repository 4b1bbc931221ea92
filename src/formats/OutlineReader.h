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
// Thread: each read has its own reader, parser, head and root.
#pragma once

#include "formats/ExpatImpl.h"
#include "model/Records.h"

#include <memory>
#include <string>
#include <string_view>

namespace corvane {

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

private:
    // The node currentNode last moved up from: when its parent is currentNode it is that node's
    // last child, which makes the next append constant time.
    COutlineItem* lastLeft = nullptr;
};

// ReadOutlineFile with the reason of a failure and the piece size (tests use 1, 2 and 3).
// The slots hold a new head and a new root titled "My Subscriptions" afterwards whatever
// happens; returns 1 or 0.
int ReadOutlineDocument(const std::string& path, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, XmlReadStatus* status = nullptr,
    std::size_t pieceSize = ExpatImpl::PIECE_SIZE);

// The same over a document in memory (fuzzing and tests).
int ReadOutlineBytes(std::string_view bytes, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, XmlReadStatus* status = nullptr,
    std::size_t pieceSize = ExpatImpl::PIECE_SIZE);

} // namespace corvane
