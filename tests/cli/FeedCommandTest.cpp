// corvane-cli feed, run as a program: the JSON shape, exit codes, messages.
#include "support/CliRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

const std::string dataDir = std::string(CORVANE_TEST_DATA_DIR) + "/formats";

// A run that would hang is ended after a minute.
CliRun Cli(const std::vector<std::string>& arguments)
{
    return RunCli(arguments);
}

QJsonObject ParseObject(const std::string& text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << text;
    EXPECT_TRUE(document.isObject());
    return document.object();
}

} // namespace

TEST(FeedCommand, JsonHasEveryFieldAbsentAsNull)
{
    const CliRun run = Cli({"feed", dataDir + "/sample.rss", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const QJsonObject object = ParseObject(run.out);
    EXPECT_EQ(object.keys(), (QStringList {"channel", "items", "ok"}));
    EXPECT_EQ(object.value("ok"), QJsonValue(true));

    const QJsonObject channel = object.value("channel").toObject();
    EXPECT_EQ(channel.size(), 16);
    EXPECT_EQ(channel.value("title").toString(), "Corvane Sample Radio");
    EXPECT_EQ(channel.value("copyright"), QJsonValue("")); // present and empty
    EXPECT_TRUE(channel.value("skipDays").isNull()); // absent
    EXPECT_TRUE(channel.contains("managingEditor"));

    const QJsonArray items = object.value("items").toArray();
    ASSERT_EQ(items.size(), 2);
    const QJsonObject first = items.at(0).toObject();
    EXPECT_EQ(first.size(), 13);
    EXPECT_EQ(first.value("title").toString(), QString::fromUtf8("Episode 2: Caf\xC3\xA9 & Tea"));
    EXPECT_EQ(first.value("description").toString(), "<p>The second episode.</p>");
    EXPECT_EQ(first.value("enclosureLength").toString(), "4821033");
    EXPECT_EQ(first.value("enclosure"), QJsonValue(""));
    const QJsonObject second = items.at(1).toObject();
    EXPECT_EQ(second.value("enclosureUrl").toString(), "http://podcasts.example.org/sample/1.mp3");
    EXPECT_TRUE(second.value("enclosureLength").isNull());
    EXPECT_TRUE(second.value("link").isNull());
}

TEST(FeedCommand, TextFormShowsPresentFields)
{
    const CliRun run = Cli({"feed", dataDir + "/windows-1252.rss"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("title: Preise in \xE2\x82\xAC\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("title: \xE2\x80\x9CZitat\xE2\x80\x9D\n"), std::string::npos);
    EXPECT_EQ(run.out.find("link"), std::string::npos);
}

TEST(FeedCommand, FailuresExitOneWithTheFileAndReason)
{
    TempDir folder;
    const std::string broken
        = folder.Write("broken.rss", "<rss><channel><title>kept</title>\n<item></channel>");
    const CliRun run = Cli({"feed", broken, "--json"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find(broken), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("line 2"), std::string::npos) << run.err;
    // Still exactly one object on standard output, with what was read before the fault.
    const QJsonObject object = ParseObject(run.out);
    EXPECT_EQ(object.value("ok"), QJsonValue(false));
    EXPECT_EQ(object.value("channel").toObject().value("title").toString(), "kept");

    const CliRun missing = Cli({"feed", folder.File("none.rss")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("none.rss: cannot open"), std::string::npos) << missing.err;
}

TEST(FeedCommand, FifoOrFolderEndsAtOnceWithTheFileAndReason)
{
    TempDir folder;
    ASSERT_EQ(mkfifo(folder.File("feed.fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(folder.File("feed.d"));
    for (const char* name : {"feed.fifo", "feed.d"}) {
        const CliRun run = Cli({"feed", folder.File(name), "--json"});
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_NE(run.err.find(folder.File(name) + ": not a regular file"), std::string::npos)
            << run.err;
        EXPECT_EQ(ParseObject(run.out).value("ok"), QJsonValue(false)) << name;
    }
}

TEST(FeedCommand, UsageAndHelp)
{
    EXPECT_EQ(Cli({"feed"}).exitCode, 2);
    EXPECT_EQ(Cli({"feed", "a", "b"}).exitCode, 2);
    const CliRun unknown = Cli({"feed", "x.rss", "--xml"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("--xml"), std::string::npos);
    const CliRun help = Cli({"feed", "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: corvane-cli feed "), std::string::npos);
}
