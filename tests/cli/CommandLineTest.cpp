// corvane-cli's argument handling and its two output modes for scripts: --quiet, which leaves
// only failures on standard error, and --json, one object on standard output. Each case runs
// the built program against the loopback server in a private home.
#include "CliTestSupport.h"

#include "platform/Settings.h"
#include "update/Package.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

namespace {

class CommandLineTest : public UpdateCliFixture {
protected:
    // Runs corvane-cli capturing both outputs; a run that would hang or flood is cut off.
    static CliRun Run(const std::vector<std::string>& arguments)
    {
        CliRunOptions options;
        options.timeLimit = std::chrono::seconds(30);
        options.outputCap = 4'000'000;
        return RunCli(arguments, options);
    }

    // Standard output as the one JSON object it must be: a single line, nothing else.
    static QJsonObject OneObject(const CliRun& run)
    {
        EXPECT_FALSE(run.out.empty()) << run.err;
        EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << run.out;
        QJsonParseError error;
        const QJsonDocument document
            = QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError)
            << error.errorString().toStdString() << "\n"
            << run.out;
        EXPECT_TRUE(document.isObject()) << run.out;
        return document.object();
    }

    static std::string Text(const QJsonValue& value) { return value.toString().toStdString(); }

    // The records of the package at path as the reader sees them, in the JSON's terms.
    static std::vector<std::string> RecordsInPackage(const std::string& path)
    {
        CPackageReader reader;
        EXPECT_TRUE(reader.Open(path)) << reader.Error();
        std::vector<std::string> records;
        for (const PackageRecord& record : reader.Records()) {
            records.push_back(std::string(RecordTypeName(record.type)) + " "
                + std::to_string(record.dataLength) + " " + record.name);
        }
        return records;
    }

    static std::vector<std::string> RecordsInJson(const QJsonObject& object)
    {
        std::vector<std::string> records;
        for (const QJsonValue& value : object.value("records").toArray()) {
            const QJsonObject record = value.toObject();
            records.push_back(Text(record.value("type")) + " "
                + std::to_string(record.value("size").toInteger(-1)) + " "
                + Text(record.value("address")));
        }
        return records;
    }

    // A package's path, size and records in an update's or repack's object match the file.
    static void ExpectPackage(const QJsonObject& object, const std::string& path)
    {
        EXPECT_EQ(Text(object.value("package")), path);
        EXPECT_TRUE(object.value("packageWritten").toBool());
        EXPECT_EQ(
            object.value("size").toInteger(-1), static_cast<qint64>(ReadWholeFile(path).size()));
        EXPECT_EQ(RecordsInJson(object), RecordsInPackage(path));
        // One vocabulary: inspect lists the same records in the same words.
        const CliRun inspected = RunCli({"inspect", "--json", path});
        EXPECT_EQ(OneObject(inspected).value("records"), object.value("records"));
    }

    // One good feed with one episode (packed as the MP3 it is) and one that answers 404.
    void GoodAndMissing()
    {
        server.Serve("/audio/episode.mp3", std::string(5000, 'a'), "audio/mpeg");
        server.Serve("/good.rss", Rss("Good", {{server.Url("/audio/episode.mp3"), "audio/mpeg"}}));
        Subscribe({{"Good", server.Url("/good.rss")}, {"Missing", server.Url("/missing.rss")}});
        ASSERT_EQ(Cli({"options", "Podcast/MP3=0"}), 0);
    }

    std::string MissingFailure() const
    {
        return "Error: " + UpdateFailureText(server.Url("/missing.rss"))
            + "\n  Reason: HTTP status 404\n";
    }
};

// The names in folder, as bytes.
std::vector<std::string> NamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir))
            names.emplace_back(entry->d_name);
        closedir(dir);
    }
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name)
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

TEST_F(CommandLineTest, AnUnknownOptionIsAUsageErrorThatNamesIt)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    for (const std::vector<std::string>& arguments :
        std::vector<std::vector<std::string>> {{"update", "--bogus", "--output", Output()},
            {"update", "--output", Output(), "--bogus=1"}, {"list", "--bogus"},
            {"options", "--bogus"}, {"export", temp.File("x.opml"), "--bogus"}, {"--bogus"}}) {
        const CliRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.front();
        EXPECT_NE(run.err.find("corvane-cli: unknown option --bogus\n"), std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("usage: corvane-cli"), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    const CliRun shortOption = Run({"list", "-x"});
    EXPECT_EQ(shortOption.exitCode, 2);
    EXPECT_NE(shortOption.err.find("unknown option -x\n"), std::string::npos) << shortOption.err;
    // Nothing ran: no request, no package, no file.
    EXPECT_EQ(server.Hits("/good.rss"), 0);
    EXPECT_FALSE(FileExists(Output()));
    EXPECT_FALSE(FileExists(temp.File("x.opml")));
}

TEST_F(CommandLineTest, AMissingValueIsAUsageErrorThatNamesTheOption)
{
    for (const std::string option : {"--output", "--connections", "--feed"}) {
        const CliRun run = Run({"update", option});
        EXPECT_EQ(run.exitCode, 2) << option;
        EXPECT_NE(run.err.find(option), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    const CliRun empty = Run({"update", "--output="});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_NE(empty.err.find("--output needs a file path"), std::string::npos) << empty.err;
}

TEST_F(CommandLineTest, EqualsSignAndSpaceGiveTheSameValue)
{
    server.Serve("/a.rss", Rss("A", {}));
    server.Serve("/b.rss", Rss("B", {}));
    Subscribe({{"A", server.Url("/a.rss")}, {"B", server.Url("/b.rss")}});
    const std::string spaced = temp.File("out/spaced.mrf");
    const std::string joined = temp.File("out/joined.mrf");
    ASSERT_EQ(Run({"update", "--feed", server.Url("/b.rss"), "--output", spaced}).exitCode, 0);
    ASSERT_EQ(Run({"update", "--feed=" + server.Url("/b.rss"), "--output=" + joined}).exitCode, 0);
    EXPECT_EQ(Unpack(joined).records, (std::vector<std::string> {"0 " + server.Url("/b.rss")}));
    EXPECT_EQ(ReadWholeFile(joined), ReadWholeFile(spaced));
    EXPECT_EQ(server.Hits("/a.rss"), 0);

    ASSERT_EQ(Run({"add", "--no-fetch", "http://example.invalid/1", "--title", "One"}).exitCode, 0);
    ASSERT_EQ(Run({"add", "--no-fetch", "http://example.invalid/2", "--title=Two"}).exitCode, 0);
    EXPECT_NE(Run({"list"}).out.find("  One  <http://example.invalid/1>\n"
                                     "  Two  <http://example.invalid/2>\n"),
        std::string::npos);
}

TEST_F(CommandLineTest, AnOptionGivenTwiceIsRefusedUnlessItRepeats)
{
    server.Serve("/a.rss", Rss("A", {}));
    server.Serve("/b.rss", Rss("B", {}));
    const std::string first = temp.File("out/first.mrf");
    const std::string second = temp.File("out/second.mrf");
    const CliRun twice = Run({"update", "--output", first, "--output=" + second});
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_NE(twice.err.find("corvane-cli: --output given more than once\n"), std::string::npos)
        << twice.err;
    EXPECT_FALSE(FileExists(first));
    EXPECT_FALSE(FileExists(second));
    EXPECT_EQ(Run({"add", "http://example.invalid/", "--title", "A", "--title", "B"}).exitCode, 2);
    EXPECT_FALSE(FileExists(ChannelsPath()));

    // --feed is meant to be given once per feed.
    const CliRun feeds = Run({"update", "--feed", server.Url("/a.rss"), "--feed",
        server.Url("/b.rss"), "--output", first});
    EXPECT_EQ(feeds.exitCode, 0) << feeds.err;
    EXPECT_EQ(Unpack(first).records.size(), 2u);
}

TEST_F(CommandLineTest, EachCommandsHelpListsItsOptions)
{
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands {
        {"list", {"--json"}}, {"add", {"--title <TITLE>", "--group <GROUP>", "--quiet"}},
        {"remove", {}}, {"undo", {}}, {"import", {"--yes"}}, {"export", {"--quiet"}},
        {"options", {"--json", "--quiet"}},
        {"update",
            {"--feed <URL>", "--marked <TITLE>", "--output <PATH>", "--connections <N>", "--quiet",
                "--json", "--send <TARGET>"}},
        {"repack", {"--output <PATH>", "--quiet", "--json"}}, {"clean", {"--dry-run", "--quiet"}},
        {"send", {"--list", "--package <PATH>"}}, {"fetch", {}}, {"feed", {"--json"}},
        {"inspect", {"--json"}}, {"extract", {"--quiet"}}, {"convert", {"--quiet"}}};
    for (const auto& [command, options] : commands) {
        for (const std::string help : {"--help", "-h"}) {
            const CliRun run = Run({command, help});
            EXPECT_EQ(run.exitCode, 0) << command;
            EXPECT_EQ(run.err, "") << command;
            EXPECT_EQ(run.out.rfind("usage: corvane-cli " + command, 0), 0u) << run.out;
            EXPECT_NE(run.out.find("-h, --help"), std::string::npos) << run.out;
            for (const std::string& option : options)
                EXPECT_NE(run.out.find("  " + option + " "), std::string::npos)
                    << command << " " << option << "\n"
                    << run.out;
        }
    }
    // Asking for help works however the rest of the line is broken.
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>> {
             {"update", "--bogus", "--help"}, {"update", "--output", Output(), "--output=x", "-h"},
             {"update", "--connections", "0", "--help"}}) {
        const CliRun broken = Run(arguments);
        EXPECT_EQ(broken.exitCode, 0) << broken.err;
        EXPECT_EQ(broken.out.rfind("usage: corvane-cli update", 0), 0u) << broken.out;
    }
    EXPECT_FALSE(FileExists(Output()));
}

TEST_F(CommandLineTest, VersionPrintsTheProjectsVersion)
{
    for (const std::string option : {"--version", "-v"}) {
        const CliRun run = Run({option});
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.out, std::string("corvane-cli ") + CORVANE_VERSION + "\n");
        EXPECT_EQ(run.err, "");
    }
}

// A program folder that is a file (or a FIFO) would read as an empty tree with exit 0 and fail
// every write: refused before the command runs, naming it. A link to a folder is a folder.
TEST_F(CommandLineTest, AHomeThatIsNoFolderIsRefused)
{
    const std::string file = temp.Write("a-file", "not a folder");
    const std::string fifo = temp.File("a-fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& notFolder : {file, fifo, file + "/"}) {
        for (const std::vector<std::string>& command : std::vector<std::vector<std::string>> {
                 {"--home", notFolder, "list"}, {"--home", notFolder, "update"}}) {
            const CliRun run = Run(command);
            EXPECT_EQ(run.exitCode, 1) << notFolder << " " << command.back();
            const std::string named = notFolder == fifo ? fifo : file;
            EXPECT_NE(
                run.err.find("the program folder " + named + " is not a folder"), std::string::npos)
                << run.err;
        }
    }
    ASSERT_EQ(::symlink(home.c_str(), temp.File("link-home").c_str()), 0);
    EXPECT_EQ(Run({"--home", temp.File("link-home"), "list"}).exitCode, 0);
}

TEST_F(CommandLineTest, QuietPrintsNothingWhenAllGoesWell)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    const CliRun update = Run({"update", "--quiet", "--output", Output()});
    EXPECT_EQ(update.exitCode, 0) << update.err;
    EXPECT_EQ(update.out, "");
    EXPECT_EQ(update.err, "");
    EXPECT_TRUE(Unpack(Output()).ok);

    const CliRun repack = Run({"repack", "--quiet", "--output", temp.File("out/again.mrf")});
    EXPECT_EQ(repack.exitCode, 0) << repack.err;
    EXPECT_EQ(repack.out, "");
    EXPECT_EQ(repack.err, "");
    EXPECT_EQ(ReadWholeFile(temp.File("out/again.mrf")), ReadWholeFile(Output()));
}

// The final "Finished..." text says what the exit status says: quiet leaves it out.
TEST_F(CommandLineTest, QuietPrintsOnlyTheFailuresAndTheirReasons)
{
    GoodAndMissing();
    const CliRun run = Run({"update", "--quiet", "--output", Output()});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, MissingFailure());
    EXPECT_EQ(RecordsInPackage(Output()).size(), 2u);
}

// With no package written, the line that says so (and names the file) is itself a failure.
TEST_F(CommandLineTest, QuietKeepsTheLineThatSaysNoPackageWasWritten)
{
    temp.Write("out/corvane.mrf", "previous package");
    std::vector<std::pair<std::string, std::string>> feeds;
    for (int i = 0; i < 8; ++i) {
        const std::string path = "/" + std::to_string(i) + ".rss";
        server.Serve(path, Rss("Feed " + std::to_string(i), {}) + std::string(3000, ' '));
        feeds.emplace_back("Feed " + std::to_string(i), server.Url(path));
    }
    Subscribe(feeds);
    std::unique_ptr<CliProcess> process;
    {
        FileSizeLimit limit(8000); // inherited by the child only; see FileSizeLimit
        ASSERT_TRUE(limit.Active());
        process = std::make_unique<CliProcess>(
            std::vector<std::string> {"update", "--quiet", "--output", Output()},
            temp.File("stderr"));
    }
    ASSERT_GT(process->Pid(), 0);
    EXPECT_EQ(process->Wait(), 1);
    const std::string notWritten = "The package " + Output() + " was not written: File too large";
    EXPECT_EQ(LastLine(Stderr()), notWritten);
    std::string rest = Stderr().substr(0, Stderr().size() - notWritten.size() - 1);
    EXPECT_EQ(rest.rfind("Error: ", 0), 0u) << Stderr();
    EXPECT_EQ(Stderr().find("Finished."), std::string::npos);
    EXPECT_EQ(ReadWholeFile(Output()), "previous package");
}

TEST_F(CommandLineTest, UpdateJsonDescribesThePackageAndTheFailures)
{
    GoodAndMissing();
    for (const bool quiet : {false, true}) {
        std::vector<std::string> arguments {"update", "--json", "--output", Output()};
        if (quiet)
            arguments.push_back("--quiet");
        const CliRun run = Run(arguments);
        EXPECT_EQ(run.exitCode, 3) << run.err;
        const QJsonObject object = OneObject(run);
        ExpectPackage(object, Output());
        EXPECT_EQ(RecordsInJson(object),
            (std::vector<std::string> {"feed " + std::to_string(Unpack(Output()).data[0].size())
                    + " " + server.Url("/good.rss"),
                "mp3 5000 " + server.Url("/audio/episode.mp3")}));
        const QJsonArray failures = object.value("failures").toArray();
        ASSERT_EQ(failures.size(), 1);
        EXPECT_EQ(Text(failures[0].toObject().value("address")), server.Url("/missing.rss"));
        EXPECT_EQ(Text(failures[0].toObject().value("message")),
            UpdateFailureText(server.Url("/missing.rss")));
        EXPECT_EQ(Text(failures[0].toObject().value("reason")), "HTTP status 404");
        EXPECT_EQ(object.value("exitStatus").toInt(-1), 3);
        if (quiet) {
            EXPECT_EQ(run.err, MissingFailure());
        }
    }
}

TEST_F(CommandLineTest, RepackJsonDescribesThePackageAndAnEarlyFailure)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    const CliRun refused = Run({"repack", "--json", "--output", Output()});
    EXPECT_EQ(refused.exitCode, 1);
    const QJsonObject failed = OneObject(refused);
    EXPECT_EQ(Text(failed.value("package")), Output());
    EXPECT_FALSE(failed.value("packageWritten").toBool(true));
    EXPECT_TRUE(failed.value("size").isNull());
    EXPECT_EQ(failed.value("records").toArray().size(), 0);
    ASSERT_EQ(failed.value("failures").toArray().size(), 1);
    const QJsonObject failure = failed.value("failures").toArray()[0].toObject();
    EXPECT_TRUE(failure.value("address").isNull());
    EXPECT_NE(Text(failure.value("message")).find("Repackable"), std::string::npos);
    EXPECT_EQ(failed.value("exitStatus").toInt(-1), 1);

    ASSERT_EQ(Cli({"update", "--output", Output()}), 0);
    const std::string again = temp.File("out/again.mrf");
    const CliRun repack = Run({"repack", "--json", "--output", again});
    EXPECT_EQ(repack.exitCode, 0) << repack.err;
    const QJsonObject object = OneObject(repack);
    ExpectPackage(object, again);
    EXPECT_EQ(object.value("failures").toArray().size(), 0);
    EXPECT_EQ(object.value("exitStatus").toInt(-1), 0);
}

// update --send with --json: where the package went goes to standard error, and the object's
// exit status is the one the command ends with, a failed send included.
TEST_F(CommandLineTest, UpdateJsonWithSendKeepsStandardOutputForTheObject)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    const std::string phone = temp.File("phone");
    std::filesystem::create_directories(phone);
    CliRunOptions options;
    options.timeLimit = std::chrono::seconds(30);
    options.environment
        = {"CORVANE_MOUNTS_FILE=" + temp.File("no mounts"), "CORVANE_SENDTO_VOLUMES="};

    const CliRun sent
        = RunCli({"update", "--json", "--output", Output(), "--send", phone}, options);
    EXPECT_EQ(sent.exitCode, 0) << sent.err;
    const QJsonObject object = OneObject(sent);
    ExpectPackage(object, Output());
    EXPECT_EQ(object.value("exitStatus").toInt(-1), 0);
    EXPECT_EQ(ReadWholeFile(phone + "/corvane.mrf"), ReadWholeFile(Output()));
    EXPECT_NE(sent.err.find("Sent corvane.mrf to " + phone), std::string::npos) << sent.err;

    // A folder in the package's place on the phone: the copy cannot land.
    std::filesystem::remove(phone + "/corvane.mrf");
    std::filesystem::create_directories(phone + "/corvane.mrf/taken");
    const CliRun refused
        = RunCli({"update", "--json", "--output", Output(), "--send", phone}, options);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    const QJsonObject failed = OneObject(refused);
    EXPECT_TRUE(failed.value("packageWritten").toBool());
    EXPECT_EQ(failed.value("exitStatus").toInt(-1), 1);
    EXPECT_TRUE(FileExists(phone + "/corvane.mrf/taken"));
}

// "depth kind title <address>" for every node, in tree order: of the JSON tree...
void Flatten(const QJsonObject& node, std::vector<std::string>& lines)
{
    lines.push_back(std::to_string(node.value("depth").toInt(-1)) + " "
        + node.value("kind").toString().toStdString() + " "
        + node.value("title").toString().toStdString() + " <"
        + node.value("address").toString().toStdString() + "> "
        + node.value("mark").toString().toStdString());
    EXPECT_EQ(node.contains("children"), node.value("kind").toString() == "group");
    for (const QJsonValue& child : node.value("children").toArray())
        Flatten(child.toObject(), lines);
}

// ...and of the channels file.
std::vector<std::string> FlattenChannels()
{
    CSubscriptions subscriptions;
    subscriptions.Load();
    std::vector<std::string> lines;
    ForEachNode(subscriptions.Root(), [&](const COutlineItem* node, int depth) {
        const bool feed = node->IsFeed() && !node->HasChildren();
        lines.push_back(std::to_string(depth) + (feed ? " feed " : " group ")
            + node->title.value_or("") + " <" + node->xmlurl.value_or("") + "> unchecked");
    });
    return lines;
}

TEST_F(CommandLineTest, ListJsonIsTheChannelsFilesTree)
{
    {
        CSubscriptions subscriptions;
        subscriptions.Load();
        COutlineItem* news = subscriptions.NewGroup(subscriptions.Root(), "News", "").node;
        ASSERT_NE(news, nullptr);
        COutlineItem* local = subscriptions.NewGroup(news, "Local \xc3\xa9", "").node;
        ASSERT_NE(local, nullptr);
        ASSERT_TRUE(subscriptions.NewFeed(local, "Town", "http://town.invalid/", "", "").changed);
        ASSERT_TRUE(subscriptions.NewFeed(news, "World", "http://world.invalid/", "", "").changed);
        ASSERT_TRUE(subscriptions.NewGroup(subscriptions.Root(), "Empty", "").changed);
        ASSERT_TRUE(
            subscriptions.NewFeed(subscriptions.Root(), "Talk", "http://talk.invalid/rss", "", "")
                .changed);
    }
    const CliRun run = Run({"list", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines;
    Flatten(OneObject(run), lines);
    EXPECT_EQ(lines, FlattenChannels());
    // The root, two groups and three feeds: the empty group is not stored in the channels file.
    EXPECT_EQ(lines.size(), 6u) << ::testing::PrintToString(lines);
}

// The JSON value of a setting as LoadSettings (or LoadWindowPlacement) has it.
QJsonValue Loaded(const SettingInfo& setting)
{
    const CorvaneSettings settings = LoadSettings();
    const WindowPlacement placement = LoadWindowPlacement();
    return std::visit(
        [&](auto member) -> QJsonValue {
            using Member = decltype(member);
            if constexpr (std::is_same_v<Member, std::string CorvaneSettings::*>)
                return QString::fromStdString(settings.*member);
            else if constexpr (std::is_same_v<Member, int WindowPlacement::*>)
                return placement.*member;
            else
                return static_cast<qint64>(settings.*member);
        },
        setting.member);
}

TEST_F(CommandLineTest, OptionsJsonHoldsEverySettingAsLoaded)
{
    ASSERT_EQ(Cli({"options", "Podcast/Volume=2", "Update/Hour=7", "Podcast/Length=90000",
                  "Path/FeedFile=" + temp.File("out/elsewhere.mrf")}),
        0)
        << Stderr();
    const CliRun run = Run({"options", "--json"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const QJsonObject object = OneObject(run);
    EXPECT_EQ(object.size(), static_cast<qsizetype>(AllSettings().size()));
    for (const SettingInfo& setting : AllSettings()) {
        const QString name = QString(setting.section) + "/" + setting.entry;
        EXPECT_EQ(object.value(name), Loaded(setting)) << name.toStdString();
    }
    EXPECT_EQ(object.value("Podcast/Volume").toInt(), 2);
    EXPECT_EQ(Text(object.value("Path/FeedFile")), temp.File("out/elsewhere.mrf"));

    const CliRun withEntry = Run({"options", "--json", "Podcast/Volume"});
    EXPECT_EQ(withEntry.exitCode, 2);
    EXPECT_EQ(withEntry.out, "");

    // --quiet sets without a word and still shows what is asked for.
    const CliRun quiet = Run({"options", "--quiet", "Podcast/Volume=3"});
    EXPECT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(Run({"options", "Podcast/Volume", "--quiet"}).out, "Podcast/Volume=3\n");
}

// A file name is bytes: one that is not UTF-8 is written and read under exactly that name.
TEST_F(CommandLineTest, AFileNameThatIsNotUtf8IsKeptByteForByte)
{
    server.Serve("/good.rss", Rss("Good", {}));
    Subscribe({{"Good", server.Url("/good.rss")}});
    const std::string opml = temp.File("\xff.opml");
    const CliRun exported = Run({"export", opml});
    EXPECT_EQ(exported.exitCode, 0) << exported.err;
    EXPECT_TRUE(Contains(NamesIn(temp.Path()), "\xff.opml"));
    EXPECT_NE(ReadWholeFile(opml).find(server.Url("/good.rss")), std::string::npos);

    const CliRun imported = Run({"import", opml, "--yes"});
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    EXPECT_NE(Run({"list"}).out.find("Good  <" + server.Url("/good.rss") + ">"), std::string::npos);

    const std::string package = temp.File("out/\xfe\xc3(.mrf");
    const CliRun update = Run({"update", "--output=" + package});
    EXPECT_EQ(update.exitCode, 0) << update.err;
    EXPECT_TRUE(Contains(NamesIn(temp.File("out")), "\xfe\xc3(.mrf"));
    EXPECT_EQ(Unpack(package).records, (std::vector<std::string> {"0 " + server.Url("/good.rss")}));
    EXPECT_FALSE(FileExists(temp.File("\xef\xbf\xbd.opml")));
}

} // namespace
