// Shared pieces of the update job's tests: a temporary home, a recording listener, feed texts.
#pragma once

#include "support/TempDir.h"
#include "support/TestHome.h"
#include "support/TestServer.h"
#include "update/PackageReader.h"
#include "update/UpdateJob.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using namespace corvane;

// Records every listener call as one line: "status <text>", "failure <text>", "range <n>",
// "step", "finished <text>".
class RecordingListener : public UpdateListener {
public:
    void OnStatus(const std::string& text) override
    {
        Add("status " + text);
        if (onStatus)
            onStatus(text);
    }
    void OnProgressRange(int maximum) override { Add("range " + std::to_string(maximum)); }
    void OnProgressStep() override { Add("step"); }
    void OnFailure(const std::string& text, const std::string& reason) override
    {
        Add("failure " + text);
        std::lock_guard lock(mutex);
        reasons.push_back(reason);
    }
    void OnFinished(const std::string& finalText, bool anyFailed) override
    {
        Add(std::string("finished ") + (anyFailed ? "failed " : "ok ") + finalText);
    }
    std::vector<std::string> Events() const
    {
        std::lock_guard lock(mutex);
        return events;
    }
    std::vector<std::string> Failures() const
    {
        std::vector<std::string> failures;
        for (const std::string& event : Events())
            if (event.rfind("failure ", 0) == 0)
                failures.push_back(event.substr(8));
        return failures;
    }
    // The reason given with each failure, in order.
    std::vector<std::string> Reasons() const
    {
        std::lock_guard lock(mutex);
        return reasons;
    }
    // Called on the job's thread after each status line is recorded.
    std::function<void(const std::string&)> onStatus;

private:
    void Add(std::string event)
    {
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
    }
    mutable std::mutex mutex;
    std::vector<std::string> events;
    std::vector<std::string> reasons;
};

// Lowers the file size limit of this process for its lifetime, as a full disk would stop a
// growing package; writes beyond it fail with EFBIG instead of raising SIGXFSZ. The limit holds
// for the whole process (and for children started meanwhile, which inherit it), so keep the
// object's life short; ctest runs each case in a process of its own. (A forked child would be
// simpler to contain, but forking while the test server's threads run can deadlock the child.)
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
        : previousHandler(signal(SIGXFSZ, SIG_IGN))
    {
        getrlimit(RLIMIT_FSIZE, &previousLimit);
        rlimit limit = previousLimit;
        limit.rlim_cur = bytes;
        active = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &previousLimit);
        signal(SIGXFSZ, previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Active() const { return active; }

private:
    using Handler = void (*)(int);
    Handler previousHandler;
    rlimit previousLimit {};
    bool active = false;
};

// The test home (TestHome: program folder, settings folder, private temporary folder, user's
// home) with its program folder made and a folder "out" for the package, and a loopback server.
class UpdateFixture : public TestHome {
protected:
    void SetUp() override
    {
        TestHome::SetUp();
        for (const std::string& folder : {home, temp.File("out")})
            ::mkdir(folder.c_str(), 0700);
        setenv("no_proxy", "*", 1);
        unsetenv("http_proxy");
        // Failing answers are tried again as in real use, after pauses of milliseconds.
        setenv("CORVANE_RETRY_PAUSE_MS", "5", 1);
    }

    std::string Output() const { return temp.File("out/corvane.mrf"); }

    // A full update with podcasts on, MP3 kept, no channel list, reporting failures.
    UpdateJobSetup Setup(std::vector<std::string> feeds) const
    {
        UpdateJobSetup setup;
        setup.feedUrls = std::move(feeds);
        setup.outputPath = Output();
        setup.channelsPath = ChannelsPath();
        setup.settings.podcastOn = 1;
        setup.settings.podcastFormat = 0;
        setup.settings.firstItemOnly = 0;
        return setup;
    }

    // Runs a job to its end (or until something cancels it) and gives its result.
    UpdateJobResult Run(UpdateJobSetup setup, RecordingListener& listener)
    {
        CUpdateJob job(std::move(setup), listener);
        std::string error;
        EXPECT_TRUE(job.Start(error)) << error;
        job.Wait();
        return job.Result();
    }

    // An RSS 2.0 document with one item per (enclosure url, type); an empty url gives an item
    // without an enclosure.
    static std::string Rss(const std::string& title,
        const std::vector<std::pair<std::string, std::string>>& enclosures)
    {
        std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">"
                           "<channel><title>"
            + title + "</title>\n";
        int number = 0;
        for (const auto& [url, type] : enclosures) {
            text += "<item><title>" + title + " " + std::to_string(++number) + "</title>";
            if (!url.empty())
                text += "<enclosure url=\"" + url + "\" length=\"100\" type=\"" + type + "\"/>";
            text += "</item>\n";
        }
        return text + "</channel></rss>\n";
    }

    static std::string TestData(const std::string& name)
    {
        return ReadWholeFile(std::string(CORVANE_TEST_DATA_DIR) + "/update/" + name);
    }

    // The records of the package at path as "type name" lines, and their data.
    struct Unpacked {
        bool ok = false;
        std::uint32_t syncFlag = 0;
        std::vector<std::string> records;
        std::vector<std::string> data;
    };
    static Unpacked Unpack(const std::string& path)
    {
        Unpacked unpacked;
        CPackageReader reader;
        unpacked.ok = reader.Open(path);
        unpacked.syncFlag = reader.SyncFlag();
        for (const PackageRecord& record : reader.Records()) {
            unpacked.records.push_back(std::to_string(record.type) + " " + record.name);
            unpacked.data.push_back(
                reader.ReadBytes(record.dataOffset, record.dataLength).value_or("<unreadable>"));
        }
        return unpacked;
    }

    TestServer server;
};
