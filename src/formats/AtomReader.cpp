#include "formats/AtomReader.h"

#include "platform/Utf8.h"

#include <cstring>

namespace corvane {

namespace {

bool IsXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

void Assign(TextField& field, std::string_view value)
{
    AssignText(field, value.data(), value.size());
}

// The value of the attribute named name (ASCII case folding), or null.
const XML_Char* Attribute(const XML_Char** attributes, std::string_view name)
{
    for (const XML_Char** pair = attributes; pair && pair[0]; pair += 2) {
        if (EqualsNoCase(pair[0], name))
            return pair[1];
    }
    return nullptr;
}

// The elements whose text is taken: directly inside the feed, or directly inside an entry.
constexpr std::string_view feedTexts[] = {"title", "subtitle"};
constexpr std::string_view entryTexts[]
    = {"title", "summary", "content", "id", "published", "updated"};

// The entry of names that name is, under ASCII case folding, or null.
template <std::size_t N>
const std::string_view* Known(const std::string_view (&names)[N], std::string_view name)
{
    for (const std::string_view& known : names) {
        if (EqualsIgnoringAsciiCase(known, name))
            return &known;
    }
    return nullptr;
}

} // namespace

std::optional<std::string> AtomPrefixOfRoot(const XML_Char* name)
{
    const char* colon = std::strrchr(name, ':');
    const char* local = colon ? colon + 1 : name;
    if (!EqualsIgnoringAsciiCase(local, "feed"))
        return std::nullopt;
    return std::string(name, static_cast<std::size_t>(local - name));
}

CAtomReader::CAtomReader(CFeedChannel& channel_, std::string prefix_, ItemOutlet& items_)
    : channel(&channel_)
    , items(&items_)
    , prefix(std::move(prefix_))
{ }

std::optional<std::string_view> CAtomReader::AtomName(const XML_Char* name) const
{
    const std::string_view full(name);
    if (full.substr(0, prefix.size()) != prefix)
        return std::nullopt;
    const std::string_view local = full.substr(prefix.size());
    if (local.find(':') != std::string_view::npos)
        return std::nullopt; // another vocabulary's prefix
    return local;
}

void CAtomReader::HandleStart(const XML_Char* name, const XML_Char** attributes)
{
    ++depth;
    if (textDepth)
        return; // markup inside a text (xhtml): its text belongs to that text
    const std::optional<std::string_view> local = AtomName(name);
    const bool inFeed = depth == 2 && !inEntry;
    const bool inItem = depth == 3 && inEntry;
    if (!local || !(inFeed || inItem))
        return;
    if (inFeed && EqualsIgnoringAsciiCase(*local, "entry")) {
        currentItem = &items->Begin();
        inEntry = true;
        hasSummary = hasPublished = false;
        return;
    }
    if (EqualsIgnoringAsciiCase(*local, "link")) {
        TakeLink(attributes);
        return;
    }
    const std::string_view* known = inFeed ? Known(feedTexts, *local) : Known(entryTexts, *local);
    if (known) {
        textElement = std::string(*known);
        textDepth = depth;
        text.clear();
    }
}

void CAtomReader::TakeLink(const XML_Char** attributes)
{
    const XML_Char* href = Attribute(attributes, "href");
    if (!href)
        return;
    const XML_Char* rel = Attribute(attributes, "rel");
    const bool alternate = !rel || EqualsNoCase(rel, "alternate");
    if (!inEntry) {
        if (alternate && !channel->link)
            Assign(channel->link, href);
        return;
    }
    if (alternate && !currentItem->link) {
        Assign(currentItem->link, href);
    } else if (rel && EqualsNoCase(rel, "enclosure") && !currentItem->enclosureUrl) {
        // The first enclosure is the episode; later ones are other forms of it.
        Assign(currentItem->enclosureUrl, href);
        if (const XML_Char* type = Attribute(attributes, "type"))
            Assign(currentItem->enclosureType, type);
        if (const XML_Char* length = Attribute(attributes, "length"))
            Assign(currentItem->enclosureLength, length);
    }
}

void CAtomReader::HandleText(const XML_Char* piece, int length)
{
    if (textDepth && length > 0)
        text.append(piece, static_cast<std::size_t>(length));
}

void CAtomReader::StoreText(std::string_view element)
{
    const std::string_view value = Trimmed(text);
    if (!inEntry) {
        Assign(element == "title" ? channel->title : channel->description, value);
    } else if (element == "title") {
        Assign(currentItem->title, value);
    } else if (element == "summary") {
        Assign(currentItem->description, value);
        hasSummary = true;
    } else if (element == "content") {
        if (!hasSummary)
            Assign(currentItem->description, value);
    } else if (element == "id") {
        Assign(currentItem->guid, value);
    } else if (element == "published") {
        Assign(currentItem->pubDate, value);
        hasPublished = true;
    } else if (element == "updated") {
        if (!hasPublished)
            Assign(currentItem->pubDate, value);
    }
}

void CAtomReader::HandleEnd(const XML_Char*)
{
    if (textDepth == depth) {
        StoreText(textElement);
        textDepth = 0;
        text.clear();
    } else if (!textDepth && inEntry && depth == 2) {
        inEntry = false;
    }
    --depth;
}

} // namespace corvane
