// Which enclosures of a feed an update takes: a pure function of the parsed channel and the
// podcast settings, so that the episode rules live in one place for the full update, Re-Pack,
// the scheduled update, the prune and the episode lists alike.
#pragma once

#include "model/FeedOptions.h"
#include "model/Records.h"
#include "platform/Settings.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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

// The settings one feed is updated with: global with the feed's own choices put in place of
// "Podcast"/"On", "Podcast"/"Newest" and "Podcast"/"MP3". Choices left unset keep the global
// value, so a feed without choices gets global unchanged.
CorvaneSettings SettingsForFeed(const CorvaneSettings& global, const FeedOptions& options);

// What the next update does with one item, and why it passes one over.
enum class EpisodeVerdict {
    Taken,
    NoEnclosure, // no enclosure address
    PodcastsOff, // podcasts are off (for this feed or globally)
    FirstOneOnly, // not the first item, and only the first one is looked at
    NotMp3, // the enclosure's type is not MP3 audio the settings take
    OlderThanNewest, // an MP3, but not among the feed's newest N
};

// The verdict's words for the episode lists: "taken", "no enclosure", "podcasts off for this
// feed", "first one only", "not MP3", "older than Newest".
const char* EpisodeVerdictText(EpisodeVerdict verdict);

// One item of a channel with its verdict.
struct EpisodeJudgement {
    std::size_t itemNumber = 0; // 1 for the first item, in document order
    const CFeedItem* item = nullptr; // belongs to the channel judged
    std::optional<std::int64_t> published; // the pubDate (ParseFeedDate), when readable
    EpisodeVerdict verdict = EpisodeVerdict::Taken;
};

// Every item of channel, in document order, judged with settings (already SettingsForFeed).
// Taken are exactly the items SelectEnclosures returns.
std::vector<EpisodeJudgement> JudgeEpisodes(
    const CFeedChannel& channel, const CorvaneSettings& settings);

// Puts judgements newest first: dated items by their date, newest first, then the undated ones;
// equals in document order. The same ranking that decides which ones are the newest N.
void SortNewestFirst(std::vector<EpisodeJudgement>& judgements);

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

// SelectEnclosures of the feed document at path, read one item at a time (EnclosureSelector), so
// that a feed of a million items costs Newest's candidates, not a million records. The items
// read before a fault count. notAFeed as ReadFeedItemsChecked gives it; the selection is made
// either way and is the caller's to drop.
std::vector<SelectedEnclosure> SelectEnclosuresOfDocument(
    const std::string& path, const CorvaneSettings& settings, std::string& notAFeed);

// SelectEnclosures one item at a time, for a read that hands the items on rather than keeping
// them (ReadFeedDocumentItems). It keeps only what the settings can still take: with Newest N,
// the N best-ranked candidates so far, so a feed of a million items costs N candidates.
class EnclosureSelector {
public:
    explicit EnclosureSelector(CorvaneSettings settings);

    // The channel's next item, in document order. Returns its judgement as far as the item
    // alone decides it (item left null): a Taken one may still lose its place to newer ones.
    EpisodeJudgement Add(const CFeedItem& item);
    // What SelectEnclosures gives for the items added, in document order.
    std::vector<SelectedEnclosure> Selected() const;

private:
    struct Candidate {
        std::optional<std::int64_t> published;
        SelectedEnclosure enclosure;
    };
    static bool RanksHigher(const Candidate& left, const Candidate& right);

    CorvaneSettings settings;
    std::size_t limit = 0; // of candidates kept; 0 keeps every one
    std::size_t itemNumber = 0;
    // With a limit, a heap whose front is the lowest-ranked candidate kept.
    std::vector<Candidate> kept;
};

} // namespace corvane
