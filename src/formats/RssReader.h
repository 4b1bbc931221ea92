// The RSS reader: turns a feed document (RSS 0.9x, 1.0 or 2.0; other vocabularies as far as
// their element names agree) into a CFeedChannel with its CFeedItem list.
//
// The reader is lax on purpose: it knows a fixed list of element names, compares them without
// regard to ASCII case and with prefixes as written (dc:date is not pubDate), and tracks only
// the section it is in (channel, image, text input, item). A known element's text is whatever
// was gathered since the previous end tag anywhere in the document, with the leading control
// bytes (below 0x20) of every piece the parser reports dropped, so line breaks and tab
// indentation vanish while spaces stay.
//
// A document whose root element is an Atom feed is read by the Atom reader (formats/AtomReader.h)
// into the same records instead.
//
// Thread: each read has its own reader, parser and channel; reads may run on several threads.
#pragma once

#include "formats/ExpatImpl.h"
#include "formats/ItemOutlet.h"
#include "model/Records.h"

#include <memory>
#include <string>
#include <string_view>

namespace corvane {

// The RSS handler object; lives on the stack of one read and fills a channel its caller owns.
class CFeedReader : public CXmlHandler {
public:
    enum ReadState { InChannel = 0, InImage = 1, InTextInput = 2, InItem = 3 };

    // each null: the items go to channel's list; else each one to each in turn (ItemOutlet).
    explicit CFeedReader(CFeedChannel& channel, const FeedItemCallback* each = nullptr);

    void HandleStart(const XML_Char* name, const XML_Char** attributes) override;
    void HandleEnd(const XML_Char* name) override;
    void HandleText(const XML_Char* text, int length) override;

    int readState = InChannel;
    // Text gathered since the last end tag. Grows by amortised appends, so one element of many
    // megabytes reads in linear time.
    std::string pendingText;
    CFeedChannel* channel; // not owning
    ItemOutlet items; // the RSS and the Atom rules alike put their items here
    CFeedItem* currentItem = nullptr; // the item most recently started, as items gives it

private:
    // Set at the root element when it is an Atom feed: every event then goes to it, and the RSS
    // rules above play no part. An RSS document reads exactly as before.
    std::unique_ptr<CXmlHandler> atom;
    bool rootSeen = false;
};

// ReadFeedFile with the details a caller needs to tell the user why a read failed, and the
// piece size (ExpatImpl::PIECE_SIZE in normal use). channel holds a new channel afterwards
// whatever happens; returns 1 or 0 as ReadFeedFile does.
int ReadFeedDocument(const std::string& path, std::unique_ptr<CFeedChannel>& channel,
    XmlReadStatus* status = nullptr, std::size_t pieceSize = ExpatImpl::PIECE_SIZE);

// The same reader over a document in memory (fuzzing and tests).
int ReadFeedBytes(std::string_view bytes, std::unique_ptr<CFeedChannel>& channel,
    XmlReadStatus* status = nullptr, std::size_t pieceSize = ExpatImpl::PIECE_SIZE);

// ReadFeedDocument that hands each item to each as soon as the reader is past it, in document
// order, instead of keeping it: channel keeps the channel's own fields and no items. The items
// are the ones ReadFeedDocument would list, with the same fields, including those read before a
// fault.
int ReadFeedDocumentItems(const std::string& path, std::unique_ptr<CFeedChannel>& channel,
    const FeedItemCallback& each, XmlReadStatus* status = nullptr,
    std::size_t pieceSize = ExpatImpl::PIECE_SIZE);

} // namespace corvane
