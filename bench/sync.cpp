// sync: a second sync of 20 episodes (two feeds, MP3s of 2 MB, tagged copies) into a folder
// where nothing changed, against the first sync into an empty folder. Prints both times (best
// of three) and their ratio (goal: at most 0.05).
#include "sync/EpisodeSync.h"
#include "update/Package.h"

#include "BenchSupport.h"

#include <QDir>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

using namespace corvane;

namespace {

constexpr int kFeeds = 2;
constexpr int kEpisodesPerFeed = 10;
constexpr std::size_t kEpisodeBytes = 2 << 20;

bool WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

// MPEG audio of about kEpisodeBytes: the tests' tone, frame after frame.
std::string EpisodeAudio()
{
    std::ifstream in(std::string(CORVANE_TEST_DATA_DIR) + "/update/tone-a.mp3", std::ios::binary);
    std::stringstream tone;
    tone << in.rdbuf();
    std::string audio;
    while (audio.size() < kEpisodeBytes)
        audio += tone.str();
    return audio;
}

std::string Feed(int feed)
{
    std::string text = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Bench feed "
        + std::to_string(feed) + "</title>";
    for (int i = 0; i < kEpisodesPerFeed; ++i)
        text += "<item><title>Episode " + std::to_string(i) + "</title><pubDate>Tue, 0"
            + std::to_string(1 + i % 9)
            + " Mar 2024 10:00:00 GMT</pubDate><description>Notes of "
              "the episode, &lt;b&gt;with markup&lt;/b&gt;.</description><enclosure url=\"http://b/"
            + std::to_string(feed) + "/" + std::to_string(i)
            + ".mp3\" type=\"audio/mpeg\"/></item>";
    return text + "</channel></rss>\n";
}

bool WritePackage(const std::string& folder, const std::string& path)
{
    std::string error;
    const std::unique_ptr<CPackageFile> package = CPackageFile::Create(path, error);
    if (!package || !WritePackageMagic(*package) || !WriteChannelsSection(*package, 0, ""))
        return false;
    const std::string audio = folder + "/episode.mp3";
    if (!WriteFile(audio, EpisodeAudio()))
        return false;
    for (int feed = 0; feed < kFeeds; ++feed) {
        const std::string document = folder + "/feed.xml";
        if (!WriteFile(document, Feed(feed))
            || !WritePackageRecord(
                *package, "http://b/" + std::to_string(feed), RECORD_FEED, document))
            return false;
        for (int i = 0; i < kEpisodesPerFeed; ++i)
            if (!WritePackageRecord(*package,
                    "http://b/" + std::to_string(feed) + "/" + std::to_string(i) + ".mp3",
                    RECORD_MP3, audio))
                return false;
    }
    return package->Commit();
}

double TimedSync(const std::string& package, const QString& target, SyncResult& result)
{
    SyncSetup setup;
    setup.packagePath = package;
    setup.targetFolder = target;
    const auto start = std::chrono::steady_clock::now();
    result = SyncEpisodes(setup);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main()
{
    const std::string scratch = DefaultScratchFolder() + "/corvane-bench-sync";
    QDir(QString::fromStdString(scratch)).removeRecursively();
    QDir().mkpath(QString::fromStdString(scratch));
    const std::string package = scratch + "/corvane.mrf";
    if (!WritePackage(scratch, package)) {
        std::fprintf(stderr, "sync: cannot write the package in %s\n", scratch.c_str());
        return 1;
    }
    double first = 1e9, second = 1e9;
    for (int run = 0; run < 3; ++run) {
        const QString target = QString::fromStdString(scratch + "/device" + std::to_string(run));
        QDir().mkpath(target);
        SyncResult result;
        first = std::min(first, TimedSync(package, target, result));
        if (!result.complete || result.written != kFeeds * kEpisodesPerFeed + kFeeds + 1) {
            std::fprintf(stderr, "sync: the first sync failed: %s\n", qPrintable(result.error));
            return 1;
        }
        second = std::min(second, TimedSync(package, target, result));
        if (!result.complete || result.written != 0) {
            std::fprintf(stderr, "sync: the second sync wrote %zu files: %s\n", result.written,
                qPrintable(result.error));
            return 1;
        }
    }
    QDir(QString::fromStdString(scratch)).removeRecursively();
    std::printf("first sync of %d episodes: %.3f s\nsecond sync, nothing changed: %.4f s\n"
                "ratio: %.4f (goal: at most 0.05)\n",
        kFeeds * kEpisodesPerFeed, first, second, second / first);
    return second / first <= 0.05 ? 0 : 1;
}
