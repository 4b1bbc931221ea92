// corvane-cli feed: reads a feed document the way an update does and shows what came out.
#include "cli/CliJson.h"
#include "cli/Commands.h"
#include "formats/RssReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <string>

namespace corvane {

namespace {

struct NamedField {
    const char* name;
    const TextField* value;
};

template <std::size_t N> QJsonObject JsonObject(const NamedField (&fields)[N])
{
    QJsonObject object;
    for (const NamedField& field : fields)
        object.insert(field.name,
            field.value->has_value() ? QJsonValue(JsonText(**field.value)) : QJsonValue());
    return object;
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

// The channel's fields, then each item's: as text into out, or as one JSON object.
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
    if (!json) {
        out += "channel\n";
        PrintText(out, channelFields);
    }
    QJsonArray items;
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
            items.append(JsonObject(itemFields));
        } else {
            out += "item " + std::to_string(number) + "\n";
            PrintText(out, itemFields);
        }
    }
    if (json) {
        const QJsonObject object {
            {"ok", result == 1}, {"channel", JsonObject(channelFields)}, {"items", items}};
        out += QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
    } else {
        out += std::to_string(number) + (number == 1 ? " item\n" : " items\n");
    }
}

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

int RunFeed(CommandLine& arguments)
{
    arguments.Describe("Reads the feed document at PATH as an update reads it and shows the\n"
                       "channel's fields and its items (fields that did not occur are left out;\n"
                       "an empty one shows as \"\"). An http or https URL is downloaded first\n"
                       "into a private temporary file, which is deleted afterwards.");
    arguments.Positional("PATH-OR-URL", "the feed document, or its http or https address");
    arguments.Flag("json",
        "one JSON object {\"ok\": ..., \"channel\": {...}, \"items\": [...]} with every\n"
        "field, absent ones as null");
    arguments.CountError("feed needs exactly one PATH");
    arguments.Epilogue("Exit status: 0 read, 1 unreadable or not well-formed (what was read\n"
                       "before the fault is still shown), 2 wrong usage.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const bool json = arguments.Has("json");
    const std::string& path = arguments.Positionals()[0];
    if (IsWebAddress(path)) {
        const std::string downloaded = DownloadToPrivateFile(path);
        if (downloaded.empty())
            return EXIT_FAILED;
        const int code = ShowFeedDocument(downloaded, path, json);
        std::remove(downloaded.c_str());
        return code;
    }
    return ShowFeedDocument(path, path, json);
}

} // namespace corvane
