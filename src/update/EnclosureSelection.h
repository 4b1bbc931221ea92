// Which enclosures of a feed an update takes: a pure function of the parsed channel and the
// podcast settings, so that the episode rules live in one place for the full update, Re-Pack and
// the scheduled update alike.
#pragma once

#include "model/Records.h"
#include "platform/Settings.h"

#include <cstddef>
#include <string>
#include <vector>

namespace corvane {

// One enclosure to download (or, for Re-Pack, to find in the cache) and pack.
struct SelectedEnclosure {
    std::size_t itemNumber = 0; // 1 for the channel's first item, in document order
    std::string url;
};

// The items whose enclosure URL is present and whose type is "audio/mpeg" exactly, in document
// order. With settings.firstItemOnly set, only the first item is looked at, whether or not it
// takes part. Empty when podcasts are off (settings.podcastOn 0).
//
// With settings.newest N above 0 (and firstItemOnly clear), only the N newest of those items are
// taken: ranked by their pubDate (ParseFeedDate), newest first; items without a readable date
// after every dated one; equals in document order. The chosen ones are still returned in
// document order, each with its own item number, so that the package keeps the feed's own order
// of episodes.
std::vector<SelectedEnclosure> SelectEnclosures(
    const CFeedChannel& channel, const CorvaneSettings& settings);

} // namespace corvane
