// Per-feed choices: whether a feed's podcasts are taken, how many of its newest episodes, and the
// form its audio is packed in. Each choice is either set for the feed or left to the global
// setting ("Podcast"/"On", "Podcast"/"Newest", "Podcast"/"MP3"); a feed with nothing set is
// updated exactly as before there were per-feed choices.
//
// The choices are keyed by the feed's address (its xmlurl), so they follow the feed through
// renames, moves, cut and paste and undo without touching the channels file, whose bytes the
// phone reads. The text forms below are the one spelling shared by the command line, the file
// beside the channels file and the OPML 2.0 attributes.
//
// Thread: plain values; nothing here is shared.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace corvane {

// The audio form of one feed's episodes.
enum class FeedAudio {
    Default, // as "Podcast"/"MP3" says
    Mp3, // packed as downloaded
    Amr, // re-compressed to AMR
};

struct FeedOptions {
    std::optional<bool> podcast; // unset: "Podcast"/"On"
    std::optional<int> newest; // unset: "Podcast"/"Newest"; 0 every episode, else that many
    FeedAudio audio = FeedAudio::Default;

    // Nothing set: the feed follows every global setting.
    bool IsDefault() const { return !podcast && !newest && audio == FeedAudio::Default; }
    bool operator==(const FeedOptions&) const = default;
};

// The choices of every feed that has any, by address. A feed without an entry has none set.
using FeedOptionsTable = std::map<std::string, FeedOptions>;

// The highest per-feed "newest", as for the global setting.
inline constexpr int FEED_NEWEST_MAXIMUM = 1000;

// The choices of address in table; all unset when it has no entry.
FeedOptions FeedOptionsOf(const FeedOptionsTable& table, const std::string& address);
// Stores options for address; an entry that sets nothing is removed instead.
void SetFeedOptionsOf(FeedOptionsTable& table, const std::string& address, FeedOptions options);

// The text forms: "on"/"off"/"default", a number or "default", "mp3"/"amr"/"default".
std::string PodcastText(const std::optional<bool>& podcast);
std::string NewestText(const std::optional<int>& newest);
std::string AudioText(FeedAudio audio);

// One "name=value" choice (name podcast, newest or audio) applied to options. Empty when it
// was taken; else why not, naming the choice, for example "bad value 'x' for newest: expected
// a whole number from 0 to 1000 or default".
std::string ApplyFeedOption(
    FeedOptions& options, const std::string& name, const std::string& value);

// The three choices as "podcast=off newest=2 audio=default".
std::string FeedOptionsSummary(const FeedOptions& options);

} // namespace corvane
