// Packages for the sync's tests and benchmark: feeds with their episodes, written as an update
// writes them, and the sync's files read back (tags through mutagen, playlists as text).
#pragma once

#include "update/Package.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace synctest {

struct Episode {
    Episode(std::string title_, std::string date_, std::string audio_,
        std::uint32_t type_ = corvane::RECORD_MP3, std::string description_ = {})
        : title(std::move(title_))
        , date(std::move(date_))
        , audio(std::move(audio_))
        , type(type_)
        , description(std::move(description_))
    { }
    std::string title;
    std::string date; // pubDate; empty: none
    std::string audio; // the record's bytes
    std::uint32_t type = corvane::RECORD_MP3;
    std::string description;
};

struct Feed {
    Feed(std::string title_ = {}, std::string url_ = {}, std::vector<Episode> episodes_ = {})
        : title(std::move(title_))
        , url(std::move(url_))
        , episodes(std::move(episodes_))
    { }
    std::string title;
    std::string url;
    std::vector<Episode> episodes;
    std::string author; // managingEditor; empty: none
    std::vector<std::string> articles; // titles of items without an enclosure, after the episodes
};

inline std::string EpisodeUrl(const Feed& feed, std::size_t index)
{
    return feed.url + "/episode" + std::to_string(index) + ".mp3";
}

inline std::string Escaped(const std::string& text)
{
    std::string escaped;
    for (const char c : text)
        escaped += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return escaped;
}

inline std::string FeedDocument(const Feed& feed)
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel>"
                       "<title>"
        + Escaped(feed.title) + "</title>";
    if (!feed.author.empty())
        text += "<managingEditor>" + Escaped(feed.author) + "</managingEditor>";
    for (std::size_t i = 0; i < feed.episodes.size(); ++i) {
        const Episode& episode = feed.episodes[i];
        text += "\n<item><title>" + Escaped(episode.title) + "</title>";
        if (!episode.date.empty())
            text += "<pubDate>" + episode.date + "</pubDate>";
        if (!episode.description.empty())
            text += "<description>" + Escaped(episode.description) + "</description>";
        text += "<enclosure url=\"" + EpisodeUrl(feed, i) + "\" type=\"audio/mpeg\"/></item>";
    }
    for (const std::string& article : feed.articles)
        text += "\n<item><title>" + Escaped(article)
            + "</title><description>&lt;img "
              "src=\"http://tracker.example/p.gif\"&gt;Read "
            + Escaped(article) + "</description></item>";
    return text + "\n</channel></rss>\n";
}

// Writes the package of feeds at path, as an update with these episodes would.
inline void WritePackage(
    const TempDir& temp, const std::string& path, const std::vector<Feed>& feeds)
{
    std::string error;
    std::unique_ptr<corvane::CPackageFile> package = corvane::CPackageFile::Create(path, error);
    ASSERT_TRUE(package) << error;
    ASSERT_TRUE(corvane::WritePackageMagic(*package));
    ASSERT_TRUE(corvane::WriteChannelsSection(*package, 0, ""));
    int sources = 0;
    auto source = [&](const std::string& bytes) {
        return temp.Write("source" + std::to_string(++sources), bytes);
    };
    for (const Feed& feed : feeds) {
        ASSERT_TRUE(corvane::WritePackageRecord(
            *package, feed.url, corvane::RECORD_FEED, source(FeedDocument(feed))));
        for (std::size_t i = 0; i < feed.episodes.size(); ++i)
            ASSERT_TRUE(corvane::WritePackageRecord(*package, EpisodeUrl(feed, i),
                feed.episodes[i].type, source(feed.episodes[i].audio)));
    }
    ASSERT_TRUE(package->Commit()) << package->ErrorText();
}

// The ID3 frames of an MP3 as mutagen reads them: "TIT2" -> text, "COMM" -> the comment's
// text, "version" -> "2.3"; empty when mutagen finds no tag.
inline std::map<std::string, std::string> ReadTags(const std::string& path)
{
    const std::string script
        = "import sys, mutagen.id3 as m\n"
          "try:\n  t = m.ID3(sys.argv[1])\nexcept m.ID3NoHeaderError:\n  sys.exit(0)\n"
          "print('version\\t%d.%d' % t.version[:2])\n"
          "for f in t.values():\n"
          "  print('%s\\t%s' % (f.FrameID, str(f).replace('\\n', '\\\\n')))\n";
    const TempDir folder;
    const std::string scriptPath = folder.Write("tags.py", script);
    std::FILE* pipe
        = ::popen(("/usr/bin/python3 '" + scriptPath + "' '" + path + "'").c_str(), "r");
    std::string output;
    char buffer[4096];
    for (std::size_t got; pipe && (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, got);
    if (pipe)
        ::pclose(pipe);
    std::map<std::string, std::string> tags;
    std::size_t start = 0;
    for (std::size_t end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = output.substr(start, end - start);
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos)
            tags[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return tags;
}

// The paths of an M3U8 playlist, in order (comments and blank lines left out).
inline std::vector<std::string> PlaylistPaths(const std::string& text)
{
    std::vector<std::string> paths;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] != '#')
            paths.push_back(line);
    }
    return paths;
}

} // namespace synctest
