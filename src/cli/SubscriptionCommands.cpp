// The subscription commands of corvane-cli: list, add, remove, undo, import and export, over the
// same channels file, backups and settings as the desktop program.
//
// Undo across runs. Each call of corvane-cli is a run of its own, while the desktop program
// counts its backups from 0 at each start. So that "corvane-cli undo" can step back through
// the saves of earlier calls, the command-line program keeps its undo depth (the number of its
// newest backup) in the file "cli-undo-depth" in the program folder's backup folder, beside the
// backups themselves: a call in another program folder keeps a depth and backups of its own. Every
// saving command starts from that depth and writes the new one; undo steps it back. The backups are
// the desktop program's: a desktop run that saves meanwhile overwrites them from number 1 up, and
// an undo then restores what that run saved.
#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "platform/AsciiText.h"
#include "platform/Paths.h"
#include "subscriptions/FeedOptionsFile.h"
#include "subscriptions/Subscriptions.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

namespace corvane {

namespace {

std::string DepthFilePath()
{
    const std::string folder = GetBackupFolder();
    return folder.empty() ? std::string() : folder + "cli-undo-depth";
}

std::uint32_t ReadDepth()
{
    const std::string path = DepthFilePath();
    if (path.empty())
        return 0;
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    const std::optional<long long> depth = ParseInteger(text, 0, 4294967295LL);
    return depth ? static_cast<std::uint32_t>(*depth) : 0;
}

void WriteDepth(std::uint32_t depth)
{
    const std::string path = DepthFilePath();
    if (path.empty())
        return;
    std::ofstream out(path, std::ios::trunc);
    out << depth << '\n';
}

// Ends a command that changed the tree: keeps the depth and reports a failed save.
int Finish(const CSubscriptions& subscriptions, const SaveResult& save)
{
    WriteDepth(subscriptions.BackupCount());
    if (!save.ok) {
        PrintError(save.message);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

// Every command here that changes the tree prints nothing on success; --quiet is accepted so
// that scripts can pass it to every command alike.
void DeclareQuiet(CommandLine& arguments)
{
    arguments.Flag("quiet", "print nothing but failures (this command prints nothing else)");
}

// Writes text to standard output; a write that fails (a full disk, a closed pipe) is a failure
// with its reason, not a success.
int WriteToStandardOutput(const std::string& text)
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()
        || std::fflush(stdout) != 0) {
        PrintError("cannot write to standard output: "
            + std::generic_category().message(errno ? errno : EIO));
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

bool AskToContinue(const std::string& question)
{
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    answer = AsciiLower(answer);
    return answer == "y" || answer == "yes";
}

// Indentation stops growing at this depth, so a tree nested 100,000 deep lists in output that
// grows with the number of nodes rather than with the square of the depth.
constexpr int kListIndentLevels = 32;

// The start of a node's line in the list: two spaces a level, and past kListIndentLevels the
// depth as a number instead of more spaces.
std::string ListIndent(int depth)
{
    std::string indent(static_cast<std::size_t>(std::min(depth, kListIndentLevels)) * 2, ' ');
    if (depth > kListIndentLevels)
        indent += "[depth " + std::to_string(depth) + "] ";
    return indent;
}

// Nested objects stop at this depth: deeper nodes are listed, with their depth, as siblings of
// the node at this depth, so a tree 100,000 levels deep gives JSON that any
// reader can take in (Qt's and Python's readers refuse far less nesting).
constexpr int kJsonNestingLevels = 64;

// A merge, after the arguments are read: the summary on success.
int MergeFile(CSubscriptions& subscriptions, const std::string& path)
{
    std::string unreadable;
    const MergeOutcome merged = subscriptions.MergeOpml(path, &unreadable);
    if (!merged.foundFeeds) {
        if (!unreadable.empty())
            PrintError(unreadable);
        PrintError("No feed was found in the input file. Please check it.");
        return EXIT_FAILED;
    }
    std::printf("%s\n", merged.Summary().c_str());
    if (!merged.change.changed)
        return EXIT_DONE;
    return Finish(subscriptions, merged.change.save);
}

const char* MarkName(int mark)
{
    switch (mark) {
    case MARK_CHECKED:
        return "checked";
    case MARK_MIXED:
        return "mixed";
    default:
        return "unchecked";
    }
}

QJsonObject NodeObject(const CSubscriptions& subscriptions, const COutlineItem* node, int depth)
{
    const bool feed = node->IsFeed() && !node->HasChildren();
    QJsonObject object {{"kind", feed ? "feed" : "group"},
        {"title", JsonText(node->title ? *node->title : "")}, {"depth", depth},
        {"mark", MarkName(subscriptions.Mark(node))}};
    if (node->xmlurl)
        object.insert("address", JsonText(*node->xmlurl));
    if (feed) {
        if (const FeedOptions options = subscriptions.FeedOptionsFor(*node->xmlurl);
            !options.IsDefault())
            object.insert("options", FeedOptionsJson(options));
    }
    if (!feed)
        object.insert("children", QJsonArray());
    return object;
}

// A group whose children are still coming in the walk below.
struct OpenGroup {
    QJsonObject object;
    QJsonArray children;
    int level; // its depth, at most kJsonNestingLevels
};

// The tree as one object, built in one walk: each group is closed into its parent's children
// when the walk leaves it.
QJsonObject TreeObject(const CSubscriptions& subscriptions)
{
    std::vector<OpenGroup> open;
    const auto closeFrom = [&open](int level) {
        while (open.size() > 1 && open.back().level >= level) {
            OpenGroup done = std::move(open.back());
            open.pop_back();
            if (done.object.contains("children"))
                done.object.insert("children", done.children);
            open.back().children.append(done.object);
        }
    };
    ForEachNode(subscriptions.Root(), [&](const COutlineItem* node, int depth) {
        const int level = std::min(depth, kJsonNestingLevels);
        closeFrom(level);
        open.push_back({NodeObject(subscriptions, node, depth), QJsonArray(), level});
        return true;
    });
    closeFrom(1);
    if (open.empty())
        return QJsonObject();
    open.front().object.insert("children", open.front().children);
    return open.front().object;
}

void PrintTree(const CSubscriptions& subscriptions)
{
    const COutlineItem* root = subscriptions.Root();
    std::printf("%s\n", root->title ? root->title->c_str() : "");
    ForEachNode(root, [](const COutlineItem* node, int depth) {
        if (depth == 0)
            return true; // the root's title is printed above
        const std::string indent = ListIndent(depth);
        const std::string title = node->title ? *node->title : "";
        if (node->IsFeed() && !node->HasChildren()) {
            std::printf("%s%s%s<%s>\n", indent.c_str(), title.c_str(), title.empty() ? "" : "  ",
                node->xmlurl->c_str());
        } else {
            std::printf("%s%s/\n", indent.c_str(), title.c_str());
        }
        return true;
    });
}

} // namespace

std::unique_ptr<CSubscriptions> OpenSubscriptions()
{
    auto subscriptions = std::make_unique<CSubscriptions>();
    std::string unreadable;
    subscriptions->Load(&unreadable);
    if (!unreadable.empty()) {
        PrintError(unreadable);
        return nullptr;
    }
    subscriptions->SetBackupCount(ReadDepth());
    return subscriptions;
}

int RunList(CommandLine& arguments)
{
    arguments.Describe(
        "Shows the subscription tree, indented: groups by title, feeds by title and address.\n"
        "Deeper than 32 levels the depth shows as a number instead, as in \"[depth 40] title\".");
    arguments.Flag("json",
        "one JSON object instead: the root, each node with \"kind\" (group or feed), \"title\",\n"
        "\"depth\", \"mark\" (checked, unchecked, mixed), a feed's \"address\" and a group's\n"
        "\"children\"; a feed with choices of its own has \"options\" (see feed-options); nodes "
        "deeper than 64 levels stand, with their depth, beside the node at\n"
        "level 64 that leads to them");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    if (arguments.Has("json"))
        PrintJson(TreeObject(*subscriptions));
    else
        PrintTree(*subscriptions);
    // What could be read is shown, but not as if it were the whole list.
    if (const SaveResult& read = subscriptions->ChannelsRead(); !read) {
        PrintError(read.message);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

namespace {

// The group of --group, or the root; null after saying that no such group exists.
COutlineItem* AddTarget(CSubscriptions& subscriptions, const std::optional<std::string>& group)
{
    if (!group)
        return subscriptions.Root();
    COutlineItem* parent = nullptr;
    ForEachNode(subscriptions.Root(), [&](COutlineItem* node, int depth) {
        if (depth > 0 && !node->IsFeed() && node->title && *node->title == *group) {
            parent = node;
            return false;
        }
        return true;
    });
    if (!parent)
        PrintError("no group titled '" + *group + "' in " + GetChannelsFilePath());
    return parent;
}

void DeclareAdd(CommandLine& arguments)
{
    arguments.Describe(
        "Adds the feed at each URL as the last child of the root, or of the first group titled\n"
        "GROUP, with one save of the channels file and one backup that 'undo' restores.\n"
        "Each address must be http or https (without a scheme, http is meant) and not in the\n"
        "tree yet. Its document is fetched (several addresses side by side) and must be a feed,\n"
        "whose title, site address and description the new feed takes; a website address\n"
        "subscribes to the feed its page announces, or when it announces none, to the first of\n"
        "feed, rss, rss.xml, feed.xml, atom.xml and index.xml under the page's folder or the\n"
        "site's root that is one. An address refused is named with the reason; the others are\n"
        "still added.");
    arguments.MoreOf("URL", "the feed's or the website's address (one or more)");
    arguments.Option("title", "TITLE", "the feed's title, instead of the feed's own (one URL)");
    arguments.Option("group", "GROUP", "add to the first group with this title");
    arguments.Flag("allow-duplicate", "add a feed even when its address is in the tree already");
    arguments.Flag("no-fetch", "save the addresses as given, without fetching anything");
    arguments.Option("pick", "N",
        "a website announcing several feeds: subscribe to its feed number N (one URL)");
    arguments.Option("connections", "N",
        "check at most N addresses at once, also of one host (1 to 64; default 8 at once, 6 of\n"
        "one host)");
    DeclareQuiet(arguments);
    arguments.Epilogue("A website address names the feed it led to on standard output.\n"
                       "Exit status: 0 all added, 1 an address was refused (nothing added for "
                       "it), 2 wrong usage,\n130 interrupted (nothing added).\n");
}

// The request of add's arguments; nullopt after a usage error (code says which).
std::optional<AddRequest> ReadAddRequest(const CommandLine& arguments, int& code)
{
    AddRequest request;
    request.urls = arguments.Positionals();
    request.title = arguments.Value("title");
    request.allowDuplicate = arguments.Has("allow-duplicate");
    request.noFetch = arguments.Has("no-fetch");
    request.quiet = arguments.Has("quiet");
    if (request.urls.empty())
        code = arguments.UsageError("add needs at least one URL");
    else if (request.urls.size() > 1 && (request.title || arguments.Value("pick")))
        code = arguments.UsageError("--title and --pick go with one URL only");
    else if (request.noFetch && arguments.Value("pick"))
        code = arguments.UsageError("--pick needs the page fetched; it cannot go with --no-fetch");
    else
        code = EXIT_DONE;
    const auto number = [&](const char* name, long long maximum) -> std::optional<long long> {
        const std::optional<std::string> text = arguments.Value(name);
        if (!text || code != EXIT_DONE)
            return std::nullopt;
        const std::optional<long long> value = ParseInteger(*text, 1, maximum);
        if (!value)
            code = arguments.UsageError("bad value '" + *text + "' for --" + name
                + ": expected a whole number from 1 to " + std::to_string(maximum));
        return value;
    };
    if (const std::optional<long long> pick = number("pick", 1000))
        request.pick = static_cast<int>(*pick);
    if (const std::optional<long long> connections = number("connections", 64))
        request.connections = request.connectionsPerHost = static_cast<int>(*connections);
    if (code != EXIT_DONE)
        return std::nullopt;
    return request;
}

} // namespace

int RunAdd(CommandLine& arguments)
{
    DeclareAdd(arguments);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    int code = EXIT_DONE;
    std::optional<AddRequest> request = ReadAddRequest(arguments, code);
    if (!request)
        return code;
    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    COutlineItem* parent = AddTarget(*subscriptions, arguments.Value("group"));
    if (!parent)
        return EXIT_FAILED;
    std::stop_source stop;
    request->stop = stop.get_token();
    bool anyRefused = false;
    std::vector<CSubscriptions::FeedFields> feeds;
    if (RunUntilInterrupted(
            [&] { feeds = CheckNewFeeds(*subscriptions, *request, anyRefused); }, stop)) {
        PrintError("interrupted; nothing was added");
        return EXIT_INTERRUPTED;
    }
    if (!feeds.empty()) {
        if (const int saved = Finish(*subscriptions, subscriptions->NewFeeds(parent, feeds).save);
            saved != EXIT_DONE)
            return saved;
    }
    if (anyRefused && request->urls.size() > 1)
        PrintError("added " + std::to_string(feeds.size()) + " of "
            + std::to_string(request->urls.size()) + " addresses");
    return anyRefused ? EXIT_FAILED : EXIT_DONE;
}

int RunRemove(CommandLine& arguments)
{
    arguments.Describe(
        "Removes the first group or feed, in display order, whose title or address is the text\n"
        "given (a group with everything in it).");
    arguments.Positional("TITLE-OR-URL", "the title or address of the group or feed");
    DeclareQuiet(arguments);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const std::string& wanted = arguments.Positionals()[0];

    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    COutlineItem* found = nullptr;
    ForEachNode(subscriptions->Root(), [&](COutlineItem* node, int depth) {
        const bool named
            = (node->title && *node->title == wanted) || (node->xmlurl && *node->xmlurl == wanted);
        if (depth > 0 && named) {
            found = node;
            return false;
        }
        return true;
    });
    if (!found) {
        PrintError(
            "no group or feed titled or addressed '" + wanted + "' in " + GetChannelsFilePath());
        return EXIT_FAILED;
    }
    const TreeChange change = subscriptions->Delete(found);
    return Finish(*subscriptions, change.save);
}

int RunUndo(CommandLine& arguments)
{
    arguments.Describe(
        "Restores the channels file as it was before the last change made by corvane-cli, one\n"
        "step per call, as far back as the backups of this session reach.");
    DeclareQuiet(arguments);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    if (!subscriptions->CanUndo()) {
        PrintError("nothing to undo");
        return EXIT_FAILED;
    }
    const SaveResult undone = subscriptions->Undo();
    return Finish(*subscriptions, undone);
}

int RunImport(CommandLine& arguments)
{
    arguments.Describe(
        "Replaces all subscriptions with those of the OPML file FILE. Asks first unless --yes.\n"
        "With --merge FILE, adds the feeds of FILE whose address is not subscribed yet, in groups\n"
        "named as in FILE, and removes nothing.");
    arguments.Optional("FILE", "the OPML file");
    arguments.Flag("yes", "do not ask");
    arguments.Option("merge", "FILE", "add the new feeds of FILE instead of replacing the tree");
    DeclareQuiet(arguments);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const bool yes = arguments.Has("yes");
    const std::optional<std::string> merge = arguments.Value("merge");
    const std::vector<std::string> positionals = arguments.Positionals();
    if (merge && !positionals.empty())
        return arguments.UsageError("import --merge takes its FILE after --merge only");
    if (!merge && positionals.size() != 1)
        return arguments.UsageError("import needs one FILE");

    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    if (merge)
        return MergeFile(*subscriptions, *merge);
    const std::string& path = positionals[0];
    if (!yes
        && !AskToContinue("All current channels will be overwritten by imported ones, continue?")) {
        PrintError("nothing imported");
        return EXIT_FAILED;
    }
    std::string unreadable;
    const TreeChange change = subscriptions->ImportOpml(path, &unreadable);
    if (!change.changed) {
        if (!unreadable.empty())
            PrintError(unreadable);
        PrintError("No feed was found in the input file. Please check it.");
        return EXIT_FAILED;
    }
    return Finish(*subscriptions, change.save);
}

int RunExport(CommandLine& arguments)
{
    arguments.Describe("Writes all subscriptions to FILE as OPML: as the channels file (opml, the\n"
                       "default), or as OPML 2.0 for other programs (opml2).");
    arguments.Positional("FILE", "the OPML file to write; - writes to standard output");
    arguments.Option("format", "FORMAT", "opml (the default) or opml2");
    DeclareQuiet(arguments);
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const std::string format = arguments.Value("format").value_or("opml");
    if (format != "opml" && format != "opml2")
        return arguments.UsageError(
            "unknown export format '" + format + "' (expected opml or opml2)");
    auto subscriptions = OpenSubscriptions();
    if (!subscriptions)
        return EXIT_FAILED;
    const OpmlExport kind = format == "opml2" ? OpmlExport::Opml2 : OpmlExport::ChannelsFile;
    // "-" is standard output, as for most tools; a file of that name is "./-".
    if (arguments.Positionals()[0] == "-")
        return WriteToStandardOutput(subscriptions->ExportText(kind));
    const SaveResult written = subscriptions->ExportOpml(arguments.Positionals()[0], kind);
    if (!written.ok) {
        PrintError(written.message);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

} // namespace corvane
