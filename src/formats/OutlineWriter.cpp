#include "formats/OutlineWriter.h"

#include "formats/FeedDate.h"
#include "formats/OutlineReader.h"
#include "platform/AtomicFile.h"
#include "platform/Utf8.h"

#include <algorithm>
#include <vector>

namespace corvane {

namespace {

constexpr const char* lineEnd = "\r\n";

// Whether an XML document may hold scalar: not a control character other than tab, line feed
// and carriage return, not U+FFFE or U+FFFF (surrogates never come out of the UTF-8 repair).
bool IsXmlCharacter(char32_t scalar)
{
    if (scalar < 0x20)
        return scalar == '\t' || scalar == '\n' || scalar == '\r';
    return scalar != 0xFFFE && scalar != 0xFFFF;
}

// The value repaired as all text is (platform/Utf8.h), and with every character that cannot
// stand in an XML document replaced by U+FFFD too. Values read from XML or typed into the
// program never change; a value with such bytes (from a command line, say) would otherwise make
// the written file stop being well-formed at that point, and every subscription after it would
// be lost on the next read.
std::string WellFormedText(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const Utf8Scalar scalar = DecodeUtf8At(value, i);
        if (scalar.valid && IsXmlCharacter(scalar.value))
            out.append(value, i, scalar.length);
        else
            AppendUtf8(out, 0xFFFD);
        i += scalar.length;
    }
    return out;
}

// A reader turns a raw line break inside an attribute value into a space, and the package's
// channel list must hold no line break but its own CR LF: line breaks go as character
// references, which read back as the line breaks they were.
void AppendAttributeValue(std::string& out, const std::string& escaped)
{
    for (const char c : escaped) {
        if (c == '\n')
            out += "&#10;";
        else if (c == '\r')
            out += "&#13;";
        else
            out += c;
    }
}

void AppendAttribute(std::string& out, const char* name, const TextField& value)
{
    if (!value)
        return;
    std::string escaped = WellFormedText(*value);
    EscapeXml(escaped);
    out += ' ';
    out += name;
    out += "=\"";
    AppendAttributeValue(out, escaped);
    out += '"';
}

void WriteGroupStart(const COutlineItem& node, std::string& out)
{
    out += "<outline";
    AppendAttribute(out, "title", node.title);
    AppendAttribute(out, "description", node.description);
    out += '>';
    out += lineEnd;
}

void WriteChildless(const COutlineItem& node, std::string& out)
{
    if (!node.xmlurl)
        return; // an empty group leaves no trace
    out += "<outline";
    AppendAttribute(out, "title", node.title);
    AppendAttribute(out, "type", node.type);
    AppendAttribute(out, "htmlurl", node.htmlurl);
    AppendAttribute(out, "xmlurl", node.xmlurl);
    AppendAttribute(out, "description", node.description);
    AppendAttribute(out, "text", node.text);
    out += "/>";
    out += lineEnd;
}

// --- OPML 2.0 for other programs ----------------------------------------------------------

// Tabs, because a tab at the start of a line is no part of any text for lax readers (ours
// included), where spaces would be. Indentation stops growing here, so a very deep tree writes in
// size linear in its nodes.
constexpr std::size_t kOpml2IndentLevels = 32;

void AppendIndent(std::string& out, std::size_t depth)
{
    out.append(std::min(depth, kOpml2IndentLevels), '\t');
}

const TextField& FirstPresent(const TextField& first, const TextField& second)
{
    return (first && !first->empty()) ? first : second;
}

// "text" is what OPML requires and what most readers show, so it carries the name this program
// shows: the title, else the node's text; a feed with neither is named by its address. "title"
// carries the same name.
void AppendOpml2Names(std::string& out, const COutlineItem& node, bool feed)
{
    TextField name = FirstPresent(node.title, node.text);
    if (feed && (!name || name->empty()))
        name = node.xmlurl;
    if (!name)
        name = std::string();
    AppendAttribute(out, "text", name);
    AppendAttribute(out, "title", name);
}

// A feed's own choices as attributes in this program's namespace; other programs pass them by.
void AppendFeedOptions(std::string& out, const FeedOptions& options)
{
    const std::string prefix = std::string(" ") + FEED_OPTIONS_PREFIX + ":";
    if (options.podcast)
        out += prefix + "podcast=\"" + PodcastText(options.podcast) + "\"";
    if (options.newest)
        out += prefix + "newest=\"" + NewestText(options.newest) + "\"";
    if (options.audio != FeedAudio::Default)
        out += prefix + "audio=\"" + AudioText(options.audio) + "\"";
}

void WriteOpml2Node(
    const COutlineItem& node, std::size_t depth, const FeedOptionsTable* options, std::string& out)
{
    const bool feed = node.IsFeed() && !node.HasChildren();
    AppendIndent(out, depth);
    out += "<outline";
    AppendOpml2Names(out, node, feed);
    if (feed) {
        AppendAttribute(out, "type", std::string("rss"));
        AppendAttribute(out, "xmlUrl", node.xmlurl);
        AppendAttribute(out, "htmlUrl", node.htmlurl);
        if (options)
            AppendFeedOptions(out, FeedOptionsOf(*options, *node.xmlurl));
    }
    AppendAttribute(out, "description", node.description);
    out += node.HasChildren() ? ">\n" : "/>\n";
}

} // namespace

void EscapeXml(std::string& text)
{
    // One pass gives the same result as the five replacements in order: the ampersands of the
    // entities added later are never escaped again in either.
    std::string::size_type special = text.find_first_of("&\"'<>");
    if (special == std::string::npos)
        return;
    std::string escaped;
    escaped.reserve(text.size() + 16);
    escaped.append(text, 0, special);
    for (std::string::size_type i = special; i < text.size(); ++i) {
        switch (text[i]) {
        case '&':
            escaped += "&amp;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += text[i];
            break;
        }
    }
    text.swap(escaped);
}

void WriteOutline(const COutlineItem& node, std::string& out)
{
    // The groups whose closing tag is still due, innermost last.
    std::vector<const COutlineItem*> open;
    const COutlineItem* current = &node;
    for (;;) {
        if (current->firstChild) {
            WriteGroupStart(*current, out);
            open.push_back(current);
            current = current->firstChild.get();
            continue;
        }
        WriteChildless(*current, out);
        // Move on to the next sibling, closing every group whose last child this was; the
        // siblings of node itself are not part of its output.
        for (;;) {
            if (open.empty())
                return;
            if (current->nextSibling) {
                current = current->nextSibling.get();
                break;
            }
            current = open.back();
            open.pop_back();
            out += "</outline>";
            out += lineEnd;
        }
    }
}

std::string OutlineDocumentText(const COutlineItem& root)
{
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
    out += "<opml version=\"1.0\">\r\n";
    out += "<head>\r\n";
    out += "<title>News Subscriptions</title>\r\n";
    out += "</head>\r\n";
    out += "<body>\r\n";
    for (const COutlineItem* child = root.firstChild.get(); child; child = child->nextSibling.get())
        WriteOutline(*child, out);
    out += "</body>\r\n";
    out += "</opml>\r\n";
    return out;
}

int WriteOutlineFile(const std::string& path, const COutlineItem& root, std::string* error)
{
    std::string reason;
    if (WriteFileAtomically(path, OutlineDocumentText(root), reason))
        return 1;
    if (error)
        *error = reason;
    return 0;
}

std::string Opml2DocumentText(
    const COutlineItem& root, std::int64_t created, const FeedOptionsTable* options)
{
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<opml version=\"2.0\"";
    // Declared only when used, so a list without choices is what it always was.
    if (options && !options->empty())
        out += std::string(" xmlns:") + FEED_OPTIONS_PREFIX + "=\"" + FEED_OPTIONS_NAMESPACE + "\"";
    out += ">\n";
    out += "\t<head>\n";
    out += "\t\t<title>News Subscriptions</title>\n";
    out += "\t\t<dateCreated>" + FormatRfc822Date(created) + "</dateCreated>\n";
    out += "\t</head>\n";
    out += "\t<body>\n";
    // Children of the root at depth 2 (inside opml and body); closing tags as each subtree ends.
    ForEachNode(&root, [&](const COutlineItem* node, int depth) {
        if (depth == 0)
            return;
        WriteOpml2Node(*node, static_cast<std::size_t>(depth) + 1, options, out);
        if (node->HasChildren())
            return;
        // Close every group whose last descendant this node is.
        const COutlineItem* closing = node;
        int level = depth;
        while (!closing->nextSibling && level > 1) {
            closing = closing->parent;
            --level;
            AppendIndent(out, static_cast<std::size_t>(level) + 1);
            out += "</outline>\n";
        }
    });
    out += "\t</body>\n";
    out += "</opml>\n";
    return out;
}

} // namespace corvane
