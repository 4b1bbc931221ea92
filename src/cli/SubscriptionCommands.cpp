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
#include "cli/Commands.h"

#include "platform/Paths.h"
#include "subscriptions/Subscriptions.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

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

// The subscriptions as the desktop program would find them at start, with the undo depth of
// the earlier calls. Null, after saying why, when the channels file stands there but cannot be
// read at all: a command must neither show nor save over a tree it never saw.
std::unique_ptr<CSubscriptions> Open()
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

// Usage errors and --help, shared by every command here. Returns -1 to go on.
int CheckUsage(CommandArguments& arguments, const char* usage,
    const std::vector<std::string>& positionals, std::size_t minimum, std::size_t maximum)
{
    if (arguments.WantsHelp()) {
        std::printf("%s", usage);
        return EXIT_DONE;
    }
    std::string error = arguments.UsageError();
    if (error.empty() && positionals.size() < minimum)
        error = "missing argument";
    if (error.empty() && positionals.size() > maximum)
        error = "unexpected argument '" + positionals[maximum] + "'";
    if (!error.empty()) {
        PrintError(error);
        std::fprintf(stderr, "%s", usage);
        return EXIT_USAGE;
    }
    return -1;
}

bool AskToContinue(const std::string& question)
{
    std::fprintf(stderr, "%s [y/N] ", question.c_str());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer))
        return false;
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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

const char* kListUsage
    = "usage: corvane-cli list\n"
      "Shows the subscription tree, indented: groups by title, feeds by title and address.\n"
      "Deeper than 32 levels the depth shows as a number instead, as in \"[depth 40] title\".\n";

const char* kAddUsage
    = "usage: corvane-cli add URL [--title TITLE] [--group GROUP]\n"
      "Adds a feed with the address URL as the last child of the root, or of the first group\n"
      "titled GROUP. Saves the channels file with a backup that 'undo' restores.\n";

const char* kRemoveUsage
    = "usage: corvane-cli remove TITLE-OR-URL\n"
      "Removes the first group or feed, in display order, whose title or address is the text\n"
      "given (a group with everything in it).\n";

const char* kUndoUsage
    = "usage: corvane-cli undo\n"
      "Restores the channels file as it was before the last change made by corvane-cli, one\n"
      "step per call, as far back as the backups of this session reach.\n";

const char* kImportUsage
    = "usage: corvane-cli import FILE [--yes]\n"
      "       corvane-cli import --merge FILE\n"
      "Replaces all subscriptions with those of the OPML file FILE. Asks first unless --yes.\n"
      "With --merge, adds the feeds of FILE whose address is not subscribed yet, in groups\n"
      "named as in FILE, and removes nothing.\n";

const char* kExportUsage
    = "usage: corvane-cli export [--format opml|opml2] FILE\n"
      "Writes all subscriptions to FILE as OPML: as the channels file (opml, the default), or\n"
      "as OPML 2.0 for other programs (opml2).\n";

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

} // namespace

int RunList(CommandArguments& arguments)
{
    const std::vector<std::string> positionals = arguments.Positionals();
    if (const int code = CheckUsage(arguments, kListUsage, positionals, 0, 0); code >= 0)
        return code;
    auto subscriptions = Open();
    if (!subscriptions)
        return EXIT_FAILED;
    const COutlineItem* root = subscriptions->Root();
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
    return EXIT_DONE;
}

int RunAdd(CommandArguments& arguments)
{
    const std::optional<std::string> title = arguments.TakeOption("--title");
    const std::optional<std::string> group = arguments.TakeOption("--group");
    const std::vector<std::string> positionals = arguments.Positionals();
    if (const int code = CheckUsage(arguments, kAddUsage, positionals, 1, 1); code >= 0)
        return code;
    const std::string& url = positionals[0];
    if (url.empty()) {
        PrintError("the feed address is empty");
        return EXIT_USAGE;
    }

    auto subscriptions = Open();
    if (!subscriptions)
        return EXIT_FAILED;
    COutlineItem* parent = subscriptions->Root();
    if (group) {
        parent = nullptr;
        ForEachNode(subscriptions->Root(), [&](COutlineItem* node, int depth) {
            if (depth > 0 && !node->IsFeed() && node->title && *node->title == *group) {
                parent = node;
                return false;
            }
            return true;
        });
        if (!parent) {
            PrintError("no group titled '" + *group + "' in " + GetChannelsFilePath());
            return EXIT_FAILED;
        }
    }
    const TreeChange change = subscriptions->NewFeed(parent, title.value_or(""), url, "", "");
    return Finish(*subscriptions, change.save);
}

int RunRemove(CommandArguments& arguments)
{
    const std::vector<std::string> positionals = arguments.Positionals();
    if (const int code = CheckUsage(arguments, kRemoveUsage, positionals, 1, 1); code >= 0)
        return code;
    const std::string& wanted = positionals[0];

    auto subscriptions = Open();
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

int RunUndo(CommandArguments& arguments)
{
    const std::vector<std::string> positionals = arguments.Positionals();
    if (const int code = CheckUsage(arguments, kUndoUsage, positionals, 0, 0); code >= 0)
        return code;
    auto subscriptions = Open();
    if (!subscriptions)
        return EXIT_FAILED;
    if (!subscriptions->CanUndo()) {
        PrintError("nothing to undo");
        return EXIT_FAILED;
    }
    const SaveResult undone = subscriptions->Undo();
    return Finish(*subscriptions, undone);
}

int RunImport(CommandArguments& arguments)
{
    const bool yes = arguments.TakeFlag("--yes");
    const std::optional<std::string> merge = arguments.TakeOption("--merge");
    const std::vector<std::string> positionals = arguments.Positionals();
    const std::size_t wanted = merge ? 0 : 1;
    if (const int code = CheckUsage(arguments, kImportUsage, positionals, wanted, wanted);
        code >= 0)
        return code;

    auto subscriptions = Open();
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

int RunExport(CommandArguments& arguments)
{
    const std::string format = arguments.TakeOption("--format").value_or("opml");
    const std::vector<std::string> positionals = arguments.Positionals();
    if (const int code = CheckUsage(arguments, kExportUsage, positionals, 1, 1); code >= 0)
        return code;
    if (format != "opml" && format != "opml2") {
        PrintError("unknown export format '" + format + "' (expected opml or opml2)");
        return EXIT_USAGE;
    }
    auto subscriptions = Open();
    if (!subscriptions)
        return EXIT_FAILED;
    const SaveResult written = subscriptions->ExportOpml(
        positionals[0], format == "opml2" ? OpmlExport::Opml2 : OpmlExport::ChannelsFile);
    if (!written.ok) {
        PrintError(written.message);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

} // namespace corvane
