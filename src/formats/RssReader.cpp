#include "formats/RssReader.h"

#include "formats/AtomReader.h"
#include "formats/CorvaneDoc.h"
#include "platform/Diagnostics.h"

namespace corvane {

namespace {

// Matched in this order; the first match stores.
constexpr NamedField<CFeedChannel> channelFields[] = {
    {"title", &CFeedChannel::title},
    {"link", &CFeedChannel::link},
    {"description", &CFeedChannel::description},
    {"language", &CFeedChannel::language},
    {"copyright", &CFeedChannel::copyright},
    {"managingEditor", &CFeedChannel::managingEditor},
    {"webMaster", &CFeedChannel::webMaster},
    {"pubDate", &CFeedChannel::pubDate},
    {"lastBuildDate", &CFeedChannel::lastBuildDate},
    {"category", &CFeedChannel::category},
    {"generator", &CFeedChannel::generator},
    {"docs", &CFeedChannel::docs},
    {"ttl", &CFeedChannel::ttl},
    {"rating", &CFeedChannel::rating},
    {"skipHours", &CFeedChannel::skipHours},
    {"skipDays", &CFeedChannel::skipDays},
};

constexpr NamedField<CFeedItem> itemFields[] = {
    {"title", &CFeedItem::title},
    {"link", &CFeedItem::link},
    {"description", &CFeedItem::description},
    {"author", &CFeedItem::author},
    {"category", &CFeedItem::category},
    {"comments", &CFeedItem::comments},
    {"enclosure", &CFeedItem::enclosure},
    {"guid", &CFeedItem::guid},
    {"pubDate", &CFeedItem::pubDate},
    {"source", &CFeedItem::source},
};

void SetFromValue(TextField& field, const XML_Char* value)
{
    field.emplace(value);
}

// Steps shared by the file and memory entries: a fresh channel in the slot whatever happens,
// a reader on it, a parser; parse runs the reading loop.
// With each, the items go to it instead of the channel.
template <typename Parse>
int ReadFeedWith(std::unique_ptr<CFeedChannel>& channel, XmlReadStatus* status, Parse&& parse,
    const FeedItemCallback* each = nullptr)
{
    channel.reset();
    channel = std::make_unique<CFeedChannel>();
    CFeedReader reader(*channel, each);
    ExpatImpl parser;
    if (!parser.Create(status))
        return 0;
    parser.SetHandler(reader);
    const int result = parse(parser);
    reader.items.Finish();
    return result;
}

} // namespace

CFeedReader::CFeedReader(CFeedChannel& channel_, const FeedItemCallback* each)
    : channel(&channel_)
    , items(channel_, each)
{ }

void CFeedReader::HandleStart(const XML_Char* name, const XML_Char** attributes)
{
    if (!rootSeen) {
        rootSeen = true;
        if (std::optional<std::string> prefix = AtomPrefixOfRoot(name))
            atom = std::make_unique<CAtomReader>(*channel, std::move(*prefix), items);
    }
    if (atom) {
        atom->HandleStart(name, attributes);
        return;
    }
    if (EqualsNoCase(name, "rss") || EqualsNoCase(name, "rdf")) {
        DebugLine("We got an RSS document.\n");
    } else if (EqualsNoCase(name, "item")) {
        readState = InItem;
        currentItem = &items.Begin();
    } else if (EqualsNoCase(name, "textInput")) {
        readState = InTextInput;
    } else if (EqualsNoCase(name, "image")) {
        readState = InImage;
    } else if (EqualsNoCase(name, "enclosure")) {
        // An enclosure before the first item has nowhere to go; one after an item ended still
        // fills that item, since currentItem is kept.
        if (!attributes || !attributes[0] || !currentItem)
            return;
        for (const XML_Char** pair = attributes; pair[0]; pair += 2) {
            const XML_Char* attributeName = pair[0];
            const XML_Char* value = pair[1];
            if (EqualsNoCase(attributeName, "url"))
                SetFromValue(currentItem->enclosureUrl, value);
            else if (EqualsNoCase(attributeName, "type"))
                SetFromValue(currentItem->enclosureType, value);
            if (EqualsNoCase(attributeName, "length"))
                SetFromValue(currentItem->enclosureLength, value);
            DebugLine("Attribute %s: %s\n", attributeName, value);
        }
    }
}

void CFeedReader::HandleText(const XML_Char* text, int length)
{
    if (atom) {
        atom->HandleText(text, length);
        return;
    }
    AppendPendingText(pendingText, text, length);
}

void CFeedReader::HandleEnd(const XML_Char* name)
{
    if (atom) {
        atom->HandleEnd(name);
        return;
    }
    switch (readState) {
    case InChannel:
        StoreNamedField(*channel, channelFields, name, pendingText);
        break;
    case InImage:
        if (EqualsNoCase(name, "image"))
            readState = InChannel;
        break;
    case InTextInput:
        if (EqualsNoCase(name, "textInput"))
            readState = InChannel;
        break;
    case InItem:
        if (!StoreNamedField(*currentItem, itemFields, name, pendingText)
            && EqualsNoCase(name, "item"))
            readState = InChannel;
        break;
    }
    // Every end tag, known or not, discards what was gathered; the capacity stays for the next.
    pendingText.clear();
}

int ReadFeedDocument(const std::string& path, std::unique_ptr<CFeedChannel>& channel,
    XmlReadStatus* status, std::size_t pieceSize)
{
    return ReadFeedWith(channel, status,
        [&](ExpatImpl& parser) { return parser.ParseFile(path, pieceSize, status); });
}

int ReadFeedBytes(std::string_view bytes, std::unique_ptr<CFeedChannel>& channel,
    XmlReadStatus* status, std::size_t pieceSize)
{
    return ReadFeedWith(channel, status,
        [&](ExpatImpl& parser) { return parser.ParseBytes(bytes, pieceSize, status); });
}

int ReadFeedDocumentItems(const std::string& path, std::unique_ptr<CFeedChannel>& channel,
    const FeedItemCallback& each, XmlReadStatus* status, std::size_t pieceSize)
{
    return ReadFeedWith(
        channel, status,
        [&](ExpatImpl& parser) { return parser.ParseFile(path, pieceSize, status); }, &each);
}

int CCorvaneDoc::ReadFeedFile(const std::string& path, std::unique_ptr<CFeedChannel>& channel)
{
    return ReadFeedDocument(path, channel);
}

} // namespace corvane
