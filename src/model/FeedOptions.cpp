#include "model/FeedOptions.h"

#include <charconv>

namespace corvane {

FeedOptions FeedOptionsOf(const FeedOptionsTable& table, const std::string& address)
{
    const auto found = table.find(address);
    return found == table.end() ? FeedOptions() : found->second;
}

void SetFeedOptionsOf(FeedOptionsTable& table, const std::string& address, FeedOptions options)
{
    // No entry for nothing set: the file and the exports then hold only real choices.
    if (options.IsDefault())
        table.erase(address);
    else
        table[address] = options;
}

std::string PodcastText(const std::optional<bool>& podcast)
{
    if (!podcast)
        return "default";
    return *podcast ? "on" : "off";
}

std::string NewestText(const std::optional<int>& newest)
{
    return newest ? std::to_string(*newest) : "default";
}

std::string AudioText(FeedAudio audio)
{
    switch (audio) {
    case FeedAudio::Mp3:
        return "mp3";
    case FeedAudio::Amr:
        return "amr";
    default:
        return "default";
    }
}

namespace {

std::string BadValue(const std::string& name, const std::string& value, const char* expected)
{
    return "bad value '" + value + "' for " + name + ": expected " + expected;
}

std::optional<int> ParseNewest(const std::string& value)
{
    int number = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, number);
    if (value.empty() || error != std::errc() || stop != end || number < 0
        || number > FEED_NEWEST_MAXIMUM)
        return std::nullopt;
    return number;
}

} // namespace

std::string ApplyFeedOption(FeedOptions& options, const std::string& name, const std::string& value)
{
    if (name == "podcast") {
        if (value != "on" && value != "off" && value != "default")
            return BadValue(name, value, "on, off or default");
        options.podcast = value == "default" ? std::nullopt : std::optional<bool>(value == "on");
        return {};
    }
    if (name == "newest") {
        if (value == "default") {
            options.newest.reset();
            return {};
        }
        const std::optional<int> newest = ParseNewest(value);
        if (!newest)
            return BadValue(name, value, "a whole number from 0 to 1000 or default");
        options.newest = newest;
        return {};
    }
    if (name == "audio") {
        if (value == "mp3")
            options.audio = FeedAudio::Mp3;
        else if (value == "amr")
            options.audio = FeedAudio::Amr;
        else if (value == "default")
            options.audio = FeedAudio::Default;
        else
            return BadValue(name, value, "mp3, amr or default");
        return {};
    }
    return "unknown choice '" + name + "': expected podcast, newest or audio";
}

std::string FeedOptionsSummary(const FeedOptions& options)
{
    return "podcast=" + PodcastText(options.podcast) + " newest=" + NewestText(options.newest)
        + " audio=" + AudioText(options.audio);
}

} // namespace corvane
