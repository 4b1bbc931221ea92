#include "formats/ItemOutlet.h"

namespace corvane {

ItemOutlet::ItemOutlet(CFeedChannel& channel_, const FeedItemCallback* each_)
    : channel(&channel_)
    , each(each_)
{ }

CFeedItem& ItemOutlet::Begin()
{
    auto item = std::make_unique<CFeedItem>();
    CFeedItem* added = item.get();
    if (each) {
        Finish();
        open = std::move(item);
    } else {
        // current is always the last item of the list: the hint keeps appending constant.
        channel->AppendItem(std::move(item), current);
    }
    current = added;
    return *added;
}

void ItemOutlet::Finish()
{
    if (!open)
        return;
    // Released before the call so that a callback that throws cannot have the item handed on
    // twice.
    const std::unique_ptr<CFeedItem> finished = std::move(open);
    current = nullptr;
    (*each)(*finished);
}

} // namespace corvane
