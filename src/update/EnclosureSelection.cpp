#include "update/EnclosureSelection.h"

#include "formats/FeedDate.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>

namespace corvane {

namespace {

struct Candidate {
    SelectedEnclosure enclosure;
    std::optional<std::int64_t> published; // the item's pubDate, when it can be read
};

bool TakesPart(const CFeedItem& item, bool anyMp3Type)
{
    return item.enclosureUrl && item.enclosureType && IsMp3Type(*item.enclosureType, anyMp3Type);
}

// The newest count candidates, kept in document order. Dated items rank newest first, undated
// ones after them; the stable sort keeps document order among equals.
void KeepNewest(std::vector<Candidate>& candidates, std::size_t count)
{
    if (candidates.size() <= count)
        return;
    std::stable_sort(
        candidates.begin(), candidates.end(), [](const Candidate& left, const Candidate& right) {
            if (left.published && right.published)
                return *left.published > *right.published;
            return left.published.has_value() && !right.published.has_value();
        });
    candidates.resize(count);
    std::sort(
        candidates.begin(), candidates.end(), [](const Candidate& left, const Candidate& right) {
            return left.enclosure.itemNumber < right.enclosure.itemNumber;
        });
}

} // namespace

bool IsMp3Type(std::string_view type, bool anyMp3Type)
{
    if (!anyMp3Type)
        return type == "audio/mpeg";
    // The names real feeds give MP3 besides the registered one.
    static constexpr std::string_view names[]
        = {"audio/mpeg", "audio/mp3", "audio/x-mp3", "audio/mpeg3", "audio/x-mpeg"};
    for (std::string_view name : names) {
        if (EqualsIgnoringAsciiCase(type, name))
            return true;
    }
    return false;
}

std::vector<SelectedEnclosure> SelectEnclosures(
    const CFeedChannel& channel, const CorvaneSettings& settings)
{
    std::vector<SelectedEnclosure> selected;
    if (!settings.podcastOn)
        return selected;
    std::vector<Candidate> candidates;
    std::size_t itemNumber = 0;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get()) {
        ++itemNumber;
        if (TakesPart(*item, settings.anyMp3Type != 0)) {
            candidates.push_back({{itemNumber, *item->enclosureUrl},
                item->pubDate ? ParseFeedDate(*item->pubDate) : std::nullopt});
        }
        if (settings.firstItemOnly)
            break;
    }
    // With only the first item looked at there is nothing to rank.
    if (settings.newest > 0 && !settings.firstItemOnly)
        KeepNewest(candidates, static_cast<std::size_t>(settings.newest));
    selected.reserve(candidates.size());
    for (Candidate& candidate : candidates)
        selected.push_back(std::move(candidate.enclosure));
    return selected;
}

} // namespace corvane
