#include "update/EnclosureSelection.h"

namespace corvane {

std::vector<SelectedEnclosure> SelectEnclosures(
    const CFeedChannel& channel, const CorvaneSettings& settings)
{
    std::vector<SelectedEnclosure> selected;
    if (!settings.podcastOn)
        return selected;
    std::size_t itemNumber = 0;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get()) {
        ++itemNumber;
        if (item->enclosureUrl && item->enclosureType && *item->enclosureType == "audio/mpeg")
            selected.push_back({itemNumber, *item->enclosureUrl});
        if (settings.firstItemOnly)
            break;
    }
    return selected;
}

} // namespace corvane
