#include "formats/OutlineReader.h"

#include "formats/CorvaneDoc.h"
#include "platform/Diagnostics.h"

namespace corvane {

namespace {

constexpr NamedField<COutlineItem> outlineFields[] = {
    {"title", &COutlineItem::title},
    {"type", &COutlineItem::type},
    {"htmlurl", &COutlineItem::htmlurl},
    {"xmlurl", &COutlineItem::xmlurl},
    {"text", &COutlineItem::text},
    {"version", &COutlineItem::version},
    {"description", &COutlineItem::description},
};

constexpr NamedField<COutlineHead> headFields[] = {
    {"title", &COutlineHead::title},
    {"datecreated", &COutlineHead::datecreated},
    {"datemodified", &COutlineHead::datemodified},
    {"ownername", &COutlineHead::ownername},
    {"owneremail", &COutlineHead::owneremail},
};

template <typename Parse>
int ReadOutlineWith(std::unique_ptr<COutlineHead>& head, std::unique_ptr<COutlineItem>& root,
    XmlReadStatus* status, FeedOptionsTable* feedOptions, Parse&& parse)
{
    if (feedOptions)
        feedOptions->clear();
    head.reset();
    root.reset();
    root = std::make_unique<COutlineItem>();
    head = std::make_unique<COutlineHead>();
    root->title = "My Subscriptions";
    COutlineReader reader(*head, *root);
    reader.feedOptions = feedOptions;
    ExpatImpl parser;
    if (!parser.Create(status))
        return 0;
    parser.SetHandler(reader);
    return parse(parser);
}

} // namespace

COutlineReader::COutlineReader(COutlineHead& head_, COutlineItem& root_)
    : head(&head_)
    , root(&root_)
    , currentNode(&root_)
{ }

void COutlineReader::ReadNamespaces(const XML_Char** attributes)
{
    for (const XML_Char** pair = attributes; pair && pair[0]; pair += 2) {
        const std::string_view attribute = pair[0];
        if (attribute.starts_with("xmlns:") && std::string_view(pair[1]) == FEED_OPTIONS_NAMESPACE)
            optionPrefixes.insert(std::string(attribute.substr(6)) + ":");
    }
}

void COutlineReader::ReadFeedOptions(const COutlineItem& node, const XML_Char** attributes)
{
    if (!node.xmlurl || optionPrefixes.empty())
        return;
    FeedOptions options;
    for (const XML_Char** pair = attributes; pair && pair[0]; pair += 2) {
        const std::string_view attribute = pair[0];
        const std::size_t colon = attribute.find(':');
        if (colon == std::string_view::npos
            || !optionPrefixes.count(std::string(attribute.substr(0, colon + 1))))
            continue;
        FeedOptions candidate = options;
        if (ApplyFeedOption(candidate, std::string(attribute.substr(colon + 1)), pair[1]).empty())
            options = candidate;
    }
    if (!options.IsDefault())
        SetFeedOptionsOf(*feedOptions, *node.xmlurl, options);
}

void COutlineReader::HandleStart(const XML_Char* name, const XML_Char** attributes)
{
    if (feedOptions)
        ReadNamespaces(attributes);
    if (EqualsNoCase(name, "opml")) {
        DebugLine("We got an OPML document.\n");
    } else if (EqualsNoCase(name, "outline")) {
        readState = InOutline;
        auto node = std::make_unique<COutlineItem>();
        COutlineItem* added = node.get();
        COutlineItem* hint = (lastLeft && lastLeft->parent == currentNode) ? lastLeft : nullptr;
        currentNode->AppendChild(std::move(node), hint);
        currentNode = added;
        for (const XML_Char** pair = attributes; pair && pair[0]; pair += 2) {
            for (const NamedField<COutlineItem>& entry : outlineFields) {
                if (EqualsNoCase(pair[0], entry.name)) {
                    (added->*entry.field).emplace(pair[1]);
                    break;
                }
            }
            DebugLine("Attribute %s: %s\n", pair[0], pair[1]);
        }
        // Most programs write only "text", the one name OPML requires; without this the list
        // would show and store blank names.
        if (!added->title && added->text)
            added->title = added->text;
        if (feedOptions)
            ReadFeedOptions(*added, attributes);
    } else if (EqualsNoCase(name, "head")) {
        readState = InHead;
    }
}

void COutlineReader::HandleText(const XML_Char* text, int length)
{
    AppendPendingText(pendingText, text, length);
}

void COutlineReader::HandleEnd(const XML_Char* name)
{
    if (readState == InHead) {
        if (EqualsNoCase(name, "head")) {
            readState = OutsideHead;
        } else {
            StoreNamedField(*head, headFields, name, pendingText);
        }
    } else if (readState == InOutline) {
        // Inside the body only outlines are expected, so the end of any element closes the node
        // that the matching start opened.
        if (currentNode != root) {
            lastLeft = currentNode;
            currentNode = currentNode->parent;
        }
    }
    pendingText.clear();
}

int ReadOutlineDocument(const std::string& path, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, XmlReadStatus* status, std::size_t pieceSize,
    FeedOptionsTable* feedOptions)
{
    return ReadOutlineWith(head, root, status, feedOptions,
        [&](ExpatImpl& parser) { return parser.ParseFile(path, pieceSize, status); });
}

int ReadOutlineBytes(std::string_view bytes, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, XmlReadStatus* status, std::size_t pieceSize,
    FeedOptionsTable* feedOptions)
{
    return ReadOutlineWith(head, root, status, feedOptions,
        [&](ExpatImpl& parser) { return parser.ParseBytes(bytes, pieceSize, status); });
}

int CCorvaneDoc::ReadOutlineFile(const std::string& path, std::unique_ptr<COutlineHead>& head,
    std::unique_ptr<COutlineItem>& root, std::string* unreadable, FeedOptionsTable* feedOptions)
{
    XmlReadStatus status;
    const int result
        = ReadOutlineDocument(path, head, root, &status, ExpatImpl::PIECE_SIZE, feedOptions);
    if (unreadable && status.inputFailed)
        *unreadable = status.reason;
    return result;
}

int CCorvaneDoc::LoadSubscriptions(const std::string& path)
{
    return ReadOutlineFile(path, head, root);
}

} // namespace corvane
