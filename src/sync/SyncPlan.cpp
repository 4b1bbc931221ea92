#include "sync/SyncPlan.h"

#include "sync/HtmlText.h"
#include "sync/SafeNames.h"
#include "update/Package.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QUrl>

#include <algorithm>
#include <numeric>

namespace corvane {

namespace {

std::string Digest(const std::string& text)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(text), QCryptographicHash::Sha256)
        .toHex()
        .left(32)
        .toStdString();
}

QString Q(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string U(const QString& text)
{
    return text.toUtf8().toStdString();
}

std::string Join(const std::string& folder, const std::string& name)
{
    return folder.empty() ? name : folder + "/" + name;
}

// The names in folder that a sync did not write: the manifest has no file there or below.
NameClaims ForeignNames(const SyncPlanInput& input, const std::string& folder, bool keepFolders)
{
    NameClaims claims;
    for (const FolderEntry& entry : input.listFolder(folder)) {
        const std::string path = Join(folder, U(entry.name));
        const auto below = input.manifest->entries.lower_bound(path + "/");
        const bool ours = input.manifest->entries.count(path) != 0
            || (below != input.manifest->entries.end() && below->first.rfind(path + "/", 0) == 0);
        if (!ours && !(keepFolders && entry.folder))
            claims.Take(entry.name);
    }
    return claims;
}

// The feed's episodes, newest first: dated ones by date, then the undated, equals in package
// order.
std::vector<const SyncFile*> NewestFirst(std::vector<const SyncFile*> files)
{
    std::stable_sort(files.begin(), files.end(), [](const SyncFile* a, const SyncFile* b) {
        const auto left = EpisodeDate(*a->feed, *a->episode);
        const auto right = EpisodeDate(*b->feed, *b->episode);
        if (left.has_value() != right.has_value())
            return left.has_value();
        return left && *left > *right;
    });
    return files;
}

class Planner {
public:
    explicit Planner(const SyncPlanInput& input_)
        : input(input_)
        , root(ForeignNames(input_, std::string(), true))
    {
        root.Take(QString::fromLatin1(SYNC_MANIFEST_NAME));
        root.Take(QString::fromLatin1(ALL_PODCASTS_PLAYLIST));
    }
    SyncPlan Run();

private:
    void PlanFeed(const SyncFeed& feed);
    SyncFile EpisodeFile(const SyncFeed& feed, const SyncEpisode& episode, const QString& folder,
        NameClaims& claims) const;
    void AddText(SyncFile::Kind kind, const std::string& path, std::string text);

    const SyncPlanInput& input;
    NameClaims root;
    SyncPlan plan;
    std::vector<SyncFile> pages;
    std::vector<SyncFile> playlists;
    std::vector<std::vector<std::size_t>> feedEpisodes; // plan.files indices per planned feed
    std::vector<QString> feedFolders;
};

SyncFile Planner::EpisodeFile(const SyncFeed& feed, const SyncEpisode& episode,
    const QString& folder, NameClaims& claims) const
{
    const std::optional<std::int64_t> date = EpisodeDate(feed, episode);
    const std::string title = EpisodeTitle(feed, episode);
    const bool mp3 = episode.type == RECORD_MP3;
    const QString name = claims.Claim(Q((date ? DayOf(*date) + " " : std::string()) + title),
        mp3 ? QStringLiteral(".mp3") : QStringLiteral(".amr"), MAX_FILE_NAME_UNITS);
    SyncFile file;
    file.kind = SyncFile::Kind::Episode;
    file.path = Join(U(folder), U(name));
    file.feed = &feed;
    file.episode = &episode;
    std::string made = "episode\n" + std::to_string(episode.type) + "\n" + episode.url + "\n"
        + std::to_string(episode.dataLength) + "\n" + input.contentDigest(episode);
    file.estimate = episode.dataLength;
    if (mp3) {
        file.tags.title = title;
        file.tags.album = feed.title.empty() ? U(folder) : feed.title;
        file.tags.artist = EpisodeArtist(feed, episode);
        file.tags.date = date ? DayOf(*date) : std::string();
        file.tags.track = episode.track;
        if (episode.item >= 0)
            file.tags.comment = PlainTextOfHtml(feed.items[episode.item].description);
        made += "\n" + file.tags.Fingerprint();
        // The tag holds the texts as UTF-16 at worst, and TagLib adds its padding.
        file.estimate += 2 * file.tags.Fingerprint().size() + 4096;
    }
    file.key = Digest(made);
    return file;
}

void Planner::AddText(SyncFile::Kind kind, const std::string& path, std::string text)
{
    SyncFile file;
    file.kind = kind;
    file.path = path;
    file.key = Digest(std::to_string(static_cast<int>(kind)) + "\n" + text);
    file.estimate = text.size();
    file.text = std::move(text);
    (kind == SyncFile::Kind::Page ? pages : playlists).push_back(std::move(file));
}

void Planner::PlanFeed(const SyncFeed& feed)
{
    if (feed.episodes.empty() && !(input.withTexts && !feed.items.empty()))
        return;
    const QString folder = root.Claim(
        Q(feed.title.empty() ? feed.url : feed.title), QString(), MAX_FOLDER_NAME_UNITS);
    NameClaims claims = ForeignNames(input, U(folder), false);
    const QString page = claims.Claim(folder, QStringLiteral(".html"), MAX_FILE_NAME_UNITS);
    std::vector<std::size_t> indices;
    std::vector<std::string> itemFiles(feed.items.size());
    for (const SyncEpisode& episode : feed.episodes) {
        indices.push_back(plan.files.size());
        plan.files.push_back(EpisodeFile(feed, episode, folder, claims));
        if (episode.item >= 0) {
            const std::string& path = plan.files.back().path;
            itemFiles[episode.item] = path.substr(path.rfind('/') + 1);
        }
    }
    plan.episodes += feed.episodes.size();
    ++plan.feeds;
    if (input.withTexts)
        AddText(SyncFile::Kind::Page, Join(U(folder), U(page)), FeedPageText(feed, itemFiles));
    if (!indices.empty()) {
        feedEpisodes.push_back(indices);
        feedFolders.push_back(folder);
    }
}

SyncPlan Planner::Run()
{
    for (const SyncFeed& feed : *input.feeds)
        PlanFeed(feed);
    std::vector<const SyncFile*> everyEpisode;
    for (std::size_t i = 0; i < feedEpisodes.size(); ++i) {
        std::vector<const SyncFile*> episodes;
        for (const std::size_t index : feedEpisodes[i])
            episodes.push_back(&plan.files[index]);
        everyEpisode.insert(everyEpisode.end(), episodes.begin(), episodes.end());
        std::vector<std::pair<std::string, std::string>> entries;
        for (const SyncFile* file : NewestFirst(episodes))
            entries.emplace_back(file->tags.title.empty()
                    ? EpisodeTitle(*file->feed, *file->episode)
                    : file->tags.title,
                file->path);
        const QString name
            = root.Claim(feedFolders[i], QStringLiteral(".m3u8"), MAX_FILE_NAME_UNITS);
        AddText(SyncFile::Kind::Playlist, U(name), PlaylistText(entries));
    }
    if (!everyEpisode.empty()) {
        std::vector<std::pair<std::string, std::string>> entries;
        for (const SyncFile* file : NewestFirst(everyEpisode))
            entries.emplace_back(U(Q(file->path).section(QLatin1Char('/'), 0, 0)) + ": "
                    + EpisodeTitle(*file->feed, *file->episode),
                file->path);
        AddText(SyncFile::Kind::Playlist, ALL_PODCASTS_PLAYLIST, PlaylistText(entries));
    }
    for (std::vector<SyncFile>* texts : {&pages, &playlists})
        for (SyncFile& file : *texts)
            plan.files.push_back(std::move(file));
    return std::move(plan);
}

std::string LinkTo(const std::string& fileName)
{
    return QUrl::toPercentEncoding(Q(fileName)).toStdString();
}

std::string ItemHtml(const SyncItem& item, const std::string& episodeFile)
{
    std::string html = "<article>\n<h2>"
        + EscapeHtml(item.title.empty() ? "(untitled)" : item.title) + "</h2>\n";
    if (item.date)
        html += "<p class=\"date\">" + DayOf(*item.date) + "</p>\n";
    const std::string text = PlainTextOfHtml(item.description);
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        html += "<p>" + EscapeHtml(text.substr(start, end - start)) + "</p>\n";
        start = end + 1;
    }
    if (!episodeFile.empty())
        html += "<p><a href=\"" + EscapeHtml(LinkTo(episodeFile)) + "\">" + EscapeHtml(episodeFile)
            + "</a></p>\n";
    return html + "</article>\n";
}

} // namespace

SyncPlan PlanSync(const SyncPlanInput& input)
{
    return Planner(input).Run();
}

std::string PlaylistText(const std::vector<std::pair<std::string, std::string>>& titlesAndPaths)
{
    std::string text = "#EXTM3U\n";
    for (const auto& [title, path] : titlesAndPaths) {
        std::string line = title;
        std::replace_if(
            line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
        text += "#EXTINF:-1," + line + "\n" + path + "\n";
    }
    return text;
}

std::string FeedPageText(const SyncFeed& feed, const std::vector<std::string>& episodeFiles)
{
    const std::string title = EscapeHtml(feed.title.empty() ? feed.url : feed.title);
    std::string html = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src "
                       "'none'; media-src 'self'\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width\">\n<title>"
        + title + "</title>\n</head>\n<body>\n<h1>" + title + "</h1>\n";
    for (std::size_t i = 0; i < feed.items.size(); ++i)
        html += ItemHtml(feed.items[i], i < episodeFiles.size() ? episodeFiles[i] : std::string());
    return html + "</body>\n</html>\n";
}

} // namespace corvane
