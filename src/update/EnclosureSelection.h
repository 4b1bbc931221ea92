// Which enclosures of a feed an update takes: a pure function of the parsed channel and the
// podcast settings, so that the episode rules live in one place for the full update, Re-Pack and
// the scheduled update alike.
#pragma once

#include "model/Records.h"
#include "platform/Settings.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// One enclosure to download (or, for Re-Pack, to find in the cache) and pack.
struct SelectedEnclosure {
    std::size_t itemNumber = 0; // 1 for the channel's first item, in document order
    std::string url;
};

// Whether an enclosure of this type is MP3 audio an update takes: "audio/mpeg" exactly, or with
// anyMp3Type also "audio/mp3", "audio/x-mp3", "audio/mpeg3" and "audio/x-mpeg", all five in any
// case (the setting "Podcast"/"Any MP3 Type").
bool IsMp3Type(std::string_view type, bool anyMp3Type);

// The items whose enclosure URL is present and whose type IsMp3Type (with settings.anyMp3Type),
// in document order. With settings.firstItemOnly set, only the first item is looked at, whether or
// not it takes part. Empty when podcasts are off (settings.podcastOn 0).
//
// With settings.newest N above 0 (and firstItemOnly clear), only the N newest of those items are
// taken: ranked by their pubDate (ParseFeedDate), newest first; items without a readable date
// after every dated one; equals in document order. The chosen ones are still returned in
// document order, each with its own item number, so that the package keeps the feed's own order
// of episodes.
std::vector<SelectedEnclosure> SelectEnclosures(
    const CFeedChannel& channel, const CorvaneSettings& settings);

} // namespace corvane
