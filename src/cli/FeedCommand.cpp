// corvane-cli feed: reads a feed document the way an update does and shows what came out.
#include "cli/Commands.h"
#include "formats/RssReader.h"

#include <cstdio>
#include <string>

namespace corvane {

namespace {

struct NamedField {
    const char* name;
    const TextField* value;
};

template <std::size_t N> void PrintJsonObject(std::string& out, const NamedField (&fields)[N])
{
    out += '{';
    for (std::size_t i = 0; i < N; ++i) {
        if (i)
            out += ", ";
        out += JsonString(fields[i].name);
        out += ": ";
        out += fields[i].value->has_value() ? JsonString(**fields[i].value) : "null";
    }
    out += '}';
}

// Present fields only, one per line; an empty one shows as "".
template <std::size_t N> void PrintText(std::string& out, const NamedField (&fields)[N])
{
    for (const NamedField& field : fields) {
        if (!field.value->has_value())
            continue;
        out += "  ";
        out += field.name;
        out += ": ";
        out += (*field.value)->empty() ? "\"\"" : **field.value;
        out += '\n';
    }
}

void Describe(const CFeedChannel& channel, bool json, int result, std::string& out)
{
    const NamedField channelFields[] = {
        {"title", &channel.title},
        {"link", &channel.link},
        {"description", &channel.description},
        {"language", &channel.language},
        {"copyright", &channel.copyright},
        {"managingEditor", &channel.managingEditor},
        {"webMaster", &channel.webMaster},
        {"pubDate", &channel.pubDate},
        {"lastBuildDate", &channel.lastBuildDate},
        {"category", &channel.category},
        {"generator", &channel.generator},
        {"docs", &channel.docs},
        {"ttl", &channel.ttl},
        {"rating", &channel.rating},
        {"skipHours", &channel.skipHours},
        {"skipDays", &channel.skipDays},
    };
    if (json) {
        out += "{\"ok\": ";
        out += result == 1 ? "true" : "false";
        out += ", \"channel\": ";
        PrintJsonObject(out, channelFields);
        out += ", \"items\": [";
    } else {
        out += "channel\n";
        PrintText(out, channelFields);
    }
    std::size_t number = 0;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get()) {
        const NamedField itemFields[] = {
            {"title", &item->title},
            {"link", &item->link},
            {"description", &item->description},
            {"author", &item->author},
            {"category", &item->category},
            {"comments", &item->comments},
            {"enclosure", &item->enclosure},
            {"guid", &item->guid},
            {"pubDate", &item->pubDate},
            {"source", &item->source},
            {"enclosureUrl", &item->enclosureUrl},
            {"enclosureType", &item->enclosureType},
            {"enclosureLength", &item->enclosureLength},
        };
        ++number;
        if (json) {
            if (number > 1)
                out += ", ";
            PrintJsonObject(out, itemFields);
        } else {
            out += "item " + std::to_string(number) + "\n";
            PrintText(out, itemFields);
        }
    }
    if (json)
        out += "]}\n";
    else
        out += std::to_string(number) + (number == 1 ? " item\n" : " items\n");
}

const char* const usage
    = "usage: corvane-cli feed PATH-OR-URL [--json]\n"
      "\n"
      "Reads the feed document at PATH as an update reads it and shows the\n"
      "channel's fields and its items (fields that did not occur are left out;\n"
      "an empty one shows as \"\"). An http or https URL is downloaded first\n"
      "into a private temporary file, which is deleted afterwards.\n"
      "  --json  one JSON object {\"ok\": ..., \"channel\": {...}, \"items\":\n"
      "          [...]} with every field, absent ones as null\n"
      "Exit status: 0 read, 1 unreadable or not well-formed (what was read\n"
      "before the fault is still shown), 2 wrong usage.\n";

} // namespace

int ShowFeedDocument(const std::string& path, const std::string& shownName, bool json)
{
    std::unique_ptr<CFeedChannel> channel;
    XmlReadStatus status;
    const int result = ReadFeedDocument(path, channel, &status);
    std::string out;
    Describe(*channel, json, result, out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (result != 1) {
        PrintError(shownName + ": " + status.reason);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

int RunFeed(CommandArguments& arguments)
{
    if (arguments.WantsHelp()) {
        std::fputs(usage, stdout);
        return EXIT_DONE;
    }
    const bool json = arguments.TakeFlag("--json");
    const std::vector<std::string> positionals = arguments.Positionals();
    if (!arguments.UsageError().empty() || positionals.size() != 1) {
        PrintError(!arguments.UsageError().empty() ? arguments.UsageError()
                                                   : "feed needs exactly one PATH");
        std::fputs(usage, stderr);
        return EXIT_USAGE;
    }
    if (IsWebAddress(positionals[0])) {
        const std::string downloaded = DownloadToPrivateFile(positionals[0]);
        if (downloaded.empty())
            return EXIT_FAILED;
        const int code = ShowFeedDocument(downloaded, positionals[0], json);
        std::remove(downloaded.c_str());
        return code;
    }
    return ShowFeedDocument(positionals[0], positionals[0], json);
}

} // namespace corvane
