// The ID3v2 tags of an episode's MP3 on the phone, which its own player shows and sorts by.
// Written with TagLib into a copy: the cache's and the package's bytes stay as fetched.
//
// Thread: any; TagLib keeps no shared state for these calls.
#pragma once

#include <string>

namespace corvane {

// What an episode's tag says. Strings are UTF-8; empty ones are left out of the tag.
struct EpisodeTags {
    std::string title;
    std::string album; // the feed's title
    std::string artist; // the feed's author
    std::string date; // "YYYY-MM-DD"
    int track = 0; // 0: none
    std::string comment; // the episode's description as text
    // The genre is always "Podcast".

    // The fields as one text, for telling whether a tagged copy on a device is still current.
    std::string Fingerprint() const;
};

// Tags the MP3 file at path in place: title (TIT2), album (TALB), artist (TPE1), date (TDRC,
// written as TYER and TDAT), track (TRCK), genre (TCON) and comment (COMM, language "XXX",
// no description) replace those frames; the file's other ID3v2 frames (its pictures, say)
// stay. The tag is saved as ID3v2.3, which every player that reads tags reads, and ID3v1 and APE
// tags, which would contradict it, are stripped. False with a message naming the file when
// TagLib cannot read the file as MPEG audio or cannot save it.
bool WriteEpisodeTags(const std::string& path, const EpisodeTags& tags, std::string& error);

} // namespace corvane
