// Where a feed reader puts the items it reads: the channel's own list, or each item in turn to a
// callback once the reader is past it, so that reading a document of a million items needs the
// memory of one item, not of a million.
//
// An item counts as finished only when the next one begins or the read ends, never at its end
// tag: the RSS reader still fills the last item with an enclosure that follows it, and a read
// stopped by a fault still hands on what it had read.
//
// Thread: one per read, as the readers.
#pragma once

#include "model/Records.h"

#include <functional>
#include <memory>

namespace corvane {

// Takes one finished item; the item is the reader's and gone after the call.
using FeedItemCallback = std::function<void(const CFeedItem& item)>;

class ItemOutlet {
public:
    // each null: the items go to channel's list, as a whole-document read wants them.
    ItemOutlet(CFeedChannel& channel, const FeedItemCallback* each);
    ItemOutlet(const ItemOutlet&) = delete;
    ItemOutlet& operator=(const ItemOutlet&) = delete;

    // Finishes the current item, if any, and begins a new empty one, now the current one.
    CFeedItem& Begin();
    // The item most recently begun (null before the first); with a callback, until Finish.
    CFeedItem* Current() const { return current; }
    // Hands the current item on; called once the parse has ended, whatever its result.
    void Finish();

private:
    CFeedChannel* channel; // not owning
    const FeedItemCallback* each; // not owning; null for the channel's list
    std::unique_ptr<CFeedItem> open; // with a callback: the current item, not yet handed on
    CFeedItem* current = nullptr;
};

} // namespace corvane
