// corvane-cli update killed (SIGKILL) at moments spread over a run: the package at the output
// path is always the previous one or a complete new one, the channels file and the settings
// always read back, and a complete update afterwards leaves no temporary file behind.
//
// The moments are drawn from a seed that the test prints; CORVANE_CRASH_SEED=<n> repeats a
// campaign or tries another one.
#include "CliTestSupport.h"

#include "formats/OutlineReader.h"
#include "update/CacheIndex.h"
#include "update/CacheNames.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>

using namespace corvane;

namespace {

constexpr int TIMED_KILLS = 9;
constexpr int AIMED_KILLS = 4;
constexpr unsigned int DEFAULT_SEED = 20240611;
// The kill moments are spread over the first run's duration, held within these bounds so that
// a very fast or a very loaded machine still gives a campaign of bounded length.
constexpr std::chrono::milliseconds SHORTEST_RUN {500};
constexpr std::chrono::milliseconds LONGEST_RUN {8000};

// Settings that differ from the defaults, so that a lost settings file would show.
constexpr int CRASH_COMPRESSION = 5;
constexpr int CRASH_VOLUME = 3;

unsigned int CampaignSeed()
{
    const char* text = std::getenv("CORVANE_CRASH_SEED");
    return text && *text ? static_cast<unsigned int>(std::strtoul(text, nullptr, 10))
                         : DEFAULT_SEED;
}

std::string Repeated(const std::string& piece, int times)
{
    std::string whole;
    for (int i = 0; i < times; ++i)
        whole += piece;
    return whole;
}

// A feed of the campaign: its title, its path on the server and its enclosures' addresses.
struct CrashFeed {
    std::string title;
    std::string path;
    std::vector<std::string> enclosures;
};

// What a kill left at the output path. Broken when problem is set.
struct PackageVerdict {
    bool isNew = false; // not the bytes from before the run
    int generation = 0; // the highest request number among the package's feed documents
    std::string problem;
};

// One kill: delay after the start of the run or, with a trigger, after the run's standard error
// first shows the trigger.
struct KillPlan {
    std::string trigger;
    std::chrono::microseconds delay {};
};

} // namespace

class CrashTest : public UpdateCliFixture {
protected:
    // Three feeds of two audio/mpeg enclosures each; feed documents come after a delay, audio
    // in throttled pieces, so that a run spends time downloading, converting and packing.
    void ServeCampaign()
    {
        const std::string longAudio = Repeated(TestData("tone-a.mp3"), 60);
        const std::vector<std::pair<std::string, std::string>> audio = {
            {"/audio/long-1.mp3", longAudio}, {"/audio/a-1.mp3", TestData("tone-a.mp3")},
            {"/audio/b-2.mp3", TestData("tone-b.mp3")}, {"/audio/long-2.mp3", longAudio},
            {"/audio/a-3.mp3", TestData("tone-a.mp3")}, {"/audio/b-3.mp3", TestData("tone-b.mp3")}};
        for (const auto& [path, bytes] : audio)
            server.ServeSlow(path, bytes, 16 * 1024, std::chrono::milliseconds(40));
        feeds = {{"Alpha", "/alpha.rss", {Url("/audio/long-1.mp3"), Url("/audio/a-1.mp3")}},
            {"Beta", "/beta.rss", {Url("/audio/b-2.mp3"), Url("/audio/long-2.mp3")}},
            {"Gamma", "/gamma.rss", {Url("/audio/a-3.mp3"), Url("/audio/b-3.mp3")}}};
        // Shared with the handlers, which may still run while this fixture is torn down.
        auto requests = std::make_shared<std::atomic<int>>(0);
        for (const CrashFeed& feed : feeds) {
            server.Handle(
                feed.path, [feed, requests](const httplib::Request&, httplib::Response& response) {
                    response.set_content(FeedDocument(feed, ++*requests), "application/rss+xml");
                });
            server.SetDelay(feed.path, std::chrono::milliseconds(300));
        }
    }

    // Podcasts on, audio re-compressed to AMR, and a channels file with the campaign's feeds.
    void PrepareHome()
    {
        CorvaneSettings settings = LoadSettings();
        settings.outputPath = Output();
        settings.podcastOn = 1;
        settings.podcastFormat = 1;
        settings.compression = CRASH_COMPRESSION;
        settings.volume = CRASH_VOLUME;
        settings.lengthLimitOn = 0;
        settings.firstItemOnly = 0;
        SaveOptions(settings);
        std::vector<std::pair<std::string, std::string>> subscriptions;
        for (const CrashFeed& feed : feeds)
            subscriptions.emplace_back(feed.title, Url(feed.path));
        Subscribe(subscriptions);
    }

    std::string Url(const std::string& path) const { return server.Url(path); }

    // The conversion settings of PrepareHome.
    static AmrSettings KeptSettings()
    {
        CorvaneSettings settings;
        settings.compression = CRASH_COMPRESSION;
        settings.volume = CRASH_VOLUME;
        settings.lengthLimitOn = 0;
        return AmrSettingsFrom(settings);
    }

    // The feed document of one request: its number is in every title, so a package tells which
    // run fetched it.
    static std::string FeedDocument(const CrashFeed& feed, int request)
    {
        std::vector<std::pair<std::string, std::string>> items;
        for (const std::string& url : feed.enclosures)
            items.emplace_back(url, "audio/mpeg");
        return Rss(feed.title + " #" + std::to_string(request), items);
    }

    // The request number of a feed record's data when the data is exactly a document the server
    // sent for feed; -1 otherwise.
    static int RequestOf(const CrashFeed& feed, const std::string& data)
    {
        const std::string marker = "<title>" + feed.title + " #";
        const std::size_t at = data.find(marker);
        if (at == std::string::npos)
            return -1;
        const int request = std::atoi(data.c_str() + at + marker.size());
        return request > 0 && data == FeedDocument(feed, request) ? request : -1;
    }

    const CrashFeed* FeedOf(const std::string& url) const
    {
        for (const CrashFeed& feed : feeds)
            if (Url(feed.path) == url)
                return &feed;
        return nullptr;
    }

    // A new package must read to its last byte and hold the channels file, the reference's
    // records and audio bytes, and whole feed documents fetched after those of the previous
    // package (whose highest request number is previousGeneration). On success generation is the
    // highest request number of this package.
    std::string ProblemOfNewPackage(int previousGeneration, int& generation) const
    {
        CPackageReader reader;
        if (!reader.Open(Output()))
            return "it does not read to its end: " + reader.Error();
        std::optional<std::string> channels;
        if (reader.ChannelsOffset())
            channels = reader.ReadBytes(*reader.ChannelsOffset(), reader.ChannelsLength());
        if (reader.SyncFlag() != 1 || channels != ReadWholeFile(ChannelsPath()))
            return "its channel list is not the channels file";
        const Unpacked unpacked = Unpack(Output());
        if (unpacked.records != reference.records)
            return "its records differ from a complete run's ("
                + std::to_string(unpacked.records.size()) + " records, a complete run has "
                + std::to_string(reference.records.size()) + ")";
        int highest = 0;
        for (std::size_t i = 0; i < unpacked.records.size(); ++i) {
            const std::string& name = reader.Records()[i].name;
            const CrashFeed* feed = FeedOf(name);
            if (!feed) {
                if (unpacked.data[i] != reference.data[i])
                    return "the audio of " + name + " differs from a complete run's";
                continue;
            }
            const int request = RequestOf(*feed, unpacked.data[i]);
            if (request <= previousGeneration)
                return "the document of " + name + " is not a whole one fetched by this run";
            highest = std::max(highest, request);
        }
        generation = highest;
        return {};
    }

    // The package is the previous one when its bytes equal before (an empty before: it must be
    // new), else it must be a complete new one.
    PackageVerdict JudgePackage(const std::string& before, int previousGeneration) const
    {
        PackageVerdict verdict;
        verdict.generation = previousGeneration;
        if (ReadWholeFile(Output()) == before && !before.empty())
            return verdict;
        verdict.isNew = true;
        verdict.problem = ProblemOfNewPackage(previousGeneration, verdict.generation);
        return verdict;
    }

    // Empty when the channels file reads whole with the campaign's feeds and the settings hold
    // what PrepareHome stored.
    std::string ProblemOfChannelsAndSettings() const
    {
        std::unique_ptr<COutlineHead> head;
        std::unique_ptr<COutlineItem> root;
        XmlReadStatus status;
        if (ReadOutlineDocument(ChannelsPath(), head, root, &status) != 1)
            return "the channels file does not read: " + status.reason;
        std::vector<std::string> expected;
        for (const CrashFeed& feed : feeds)
            expected.push_back(Url(feed.path));
        if (CSubscriptions().CollectAllFeeds(root.get()) != expected)
            return "the channels file lost its feeds";
        const CorvaneSettings settings = LoadSettings();
        if (settings.podcastOn != 1 || settings.podcastFormat != 1
            || settings.compression != CRASH_COMPRESSION || settings.volume != CRASH_VOLUME)
            return "the settings file lost its podcast settings";
        return {};
    }

    // Starts an update and kills it as planned. Gives its exit code (-1: killed) and what it was
    // doing then; an empty stage when the trigger never showed.
    std::pair<int, std::string> RunAndKill(const KillPlan& plan)
    {
        CliProcess process({"update", "--output", Output()}, temp.File("stderr"));
        if (process.Pid() <= 0)
            return {-1, ""};
        // Bounded: the trigger shows within one run, and a run that ended shows nothing more.
        for (int i = 0; i < 60000 && !plan.trigger.empty() && !process.Ended()
             && Stderr().find(plan.trigger) == std::string::npos;
             ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        std::this_thread::sleep_for(plan.delay);
        kill(process.Pid(), SIGKILL);
        const int exitCode = process.Wait();
        if (!plan.trigger.empty() && Stderr().find(plan.trigger) == std::string::npos)
            return {exitCode, ""};
        return {exitCode, Stage(LastLine(Stderr()))};
    }

    // What the run was doing when it was killed, from the last status line it printed.
    static std::string Stage(const std::string& lastLine)
    {
        for (const char* stage : {"Downloading", "Converting", "Finished"})
            if (lastLine.rfind(stage, 0) == 0)
                return stage;
        if (lastLine.find(" feeds)") != std::string::npos)
            return "Packing";
        return "Starting";
    }

    // Every temporary file a run may make that is still there: hidden names beside the package
    // and anywhere in the program folder, and re-compressed audio in the download cache other
    // than the one kept conversion of each episode (the complete update made every one anew).
    std::vector<std::string> LeftTemporaries() const
    {
        namespace fs = std::filesystem;
        std::vector<std::string> left;
        for (const fs::directory_entry& entry : fs::directory_iterator(temp.File("out")))
            if (entry.path().filename().string().front() == '.')
                left.push_back(entry.path().string());
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(home)) {
            const std::string name = entry.path().filename().string();
            if ((name.front() == '.'
                    && entry.path() != CCacheIndex::IndexPathIn(temp.File("home/data/")))
                || (entry.path().extension() == ".amr"
                    && entry.path().parent_path().filename() == "data" && !IsKeptAmrName(name)))
                left.push_back(entry.path().string());
        }
        for (const CrashFeed& feed : feeds) {
            for (const std::string& url : feed.enclosures) {
                const std::string mp3 = CacheFileName(url, CACHE_MP3);
                for (const fs::directory_entry& entry : fs::directory_iterator(home + "/data")) {
                    const std::string name = entry.path().filename().string();
                    if (IsWholeKeptAmrNameOf(name, mp3)
                        && entry.path() != KeptAmrPath(mp3, KeptSettings()))
                        left.push_back(entry.path().string());
                }
            }
        }
        std::sort(left.begin(), left.end());
        return left;
    }

    std::vector<CrashFeed> feeds;
    Unpacked reference; // the package of the first complete run
};

namespace {

// Kills at random moments, one within each of TIMED_KILLS equal slices of the run, so that
// downloading, converting and packing each get theirs; then kills aimed at the end, which is too
// short to be hit by chance: while the last record is packed (after its conversion shows), and
// between the last progress step and the package's commit.
std::vector<KillPlan> KillPlans(unsigned int seed, std::chrono::milliseconds run,
    const std::string& lastConversion, const std::string& lastStep)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> within(0.0, 1.0);
    std::vector<KillPlan> plans;
    const double slice = std::chrono::duration<double, std::micro>(run).count() / TIMED_KILLS;
    for (int i = 0; i < TIMED_KILLS; ++i)
        plans.push_back(
            {"", std::chrono::microseconds(static_cast<long long>(slice * (i + within(random))))});
    for (int i = 0; i < AIMED_KILLS; ++i) {
        const bool commit = i % 2 == 1;
        const double range = commit ? 3000.0 : 8000.0;
        plans.push_back({commit ? lastStep : lastConversion,
            std::chrono::microseconds(static_cast<long long>(range * within(random)))});
    }
    return plans;
}

std::string Describe(const KillPlan& plan)
{
    const std::string delay = std::to_string(plan.delay.count() / 1000) + "."
        + std::to_string(plan.delay.count() / 100 % 10) + " ms";
    return plan.trigger.empty() ? "at " + delay : delay + " after '" + plan.trigger + "'";
}

} // namespace

TEST_F(CrashTest, KilledUpdateLeavesAWholePackageAndChannelsFile)
{
    ServeCampaign();
    PrepareHome();

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    // The slices end a little before the measured end: later runs may be quicker.
    const auto run = std::clamp(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    (std::chrono::steady_clock::now() - started) * 9 / 10),
        SHORTEST_RUN, LONGEST_RUN);
    reference = Unpack(Output());
    ASSERT_TRUE(reference.ok);
    ASSERT_EQ(reference.records.size(), 9U); // three feeds, six enclosures
    int generation = 0;
    ASSERT_EQ(ProblemOfNewPackage(0, generation), "");

    const unsigned int seed = CampaignSeed();
    std::printf("crash campaign: seed %u (CORVANE_CRASH_SEED), kills spread over %lld ms\n", seed,
        static_cast<long long>(run.count()));
    const std::string lastStep
        = "(" + std::to_string(feeds.size()) + "/" + std::to_string(feeds.size()) + " feeds)";
    int newPackages = 0;
    for (const KillPlan& plan :
        KillPlans(seed, run, "Converting " + feeds.back().enclosures.back(), lastStep)) {
        const std::string before = ReadWholeFile(Output());
        const auto [exitCode, stage] = RunAndKill(plan);
        const PackageVerdict verdict = JudgePackage(before, generation);
        std::printf("  killed %-44s while %-11s exit %3d: %s package\n", Describe(plan).c_str(),
            stage.c_str(), exitCode, verdict.isNew ? "new" : "previous");
        const std::string when = Describe(plan) + " (seed " + std::to_string(seed) + ")";
        EXPECT_NE(stage, "") << "the run killed " << when << " never showed its trigger:\n"
                             << Stderr();
        EXPECT_EQ(verdict.problem, "") << "after a kill " << when << " the package " << Output()
                                       << " is neither the previous one nor complete";
        EXPECT_EQ(ProblemOfChannelsAndSettings(), "") << "after a kill " << when;
        newPackages += verdict.isNew ? 1 : 0;
        generation = verdict.generation;
    }
    std::printf("crash campaign: %d of %d kills left a new package\n", newPackages,
        TIMED_KILLS + AIMED_KILLS);

    ASSERT_EQ(Cli({"update", "--output", Output()}), 0) << Stderr();
    const PackageVerdict last = JudgePackage("", generation);
    EXPECT_TRUE(last.isNew);
    EXPECT_EQ(last.problem, "");
    EXPECT_EQ(ProblemOfChannelsAndSettings(), "");
    const std::vector<std::string> left = LeftTemporaries();
    std::string listing;
    for (const std::string& path : left)
        listing += "\n  " + path;
    EXPECT_TRUE(left.empty()) << left.size()
                              << " temporary files of killed runs are still there after a "
                                 "complete update:"
                              << listing;
}
