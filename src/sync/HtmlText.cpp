#include "sync/HtmlText.h"

#include "platform/AsciiText.h"
#include "platform/Utf8.h"

#include <cctype>
#include <cstdlib>
#include <string>

namespace corvane {

namespace {

// A '<' that opens markup: followed by a letter, '/', '!' or '?', and closed by a '>' later.
bool StartsTag(std::string_view html, std::size_t at)
{
    if (at + 1 >= html.size() || html.find('>', at) == std::string_view::npos)
        return false;
    const unsigned char next = static_cast<unsigned char>(html[at + 1]);
    return std::isalpha(next) || next == '/' || next == '!' || next == '?';
}

// The tag's name in lower case, without its '/'.
std::string TagName(std::string_view tag)
{
    std::size_t start = 1;
    if (start < tag.size() && tag[start] == '/')
        ++start;
    std::size_t end = start;
    while (end < tag.size() && std::isalnum(static_cast<unsigned char>(tag[end])))
        ++end;
    return AsciiLower(tag.substr(start, end - start));
}

bool BreaksLine(const std::string& name)
{
    static const char* const names[] = {"br", "p", "div", "li", "ul", "ol", "tr", "h1", "h2", "h3",
        "h4", "h5", "h6", "blockquote", "pre", "hr", "table", "dd", "dt"};
    for (const char* candidate : names)
        if (name == candidate)
            return true;
    return false;
}

// Where the markup that starts at html[at] ends (one past it): a comment through "-->", a
// script or style through its end tag, any other tag through its '>'.
std::size_t SkipMarkup(std::string_view html, std::size_t at, std::string& name)
{
    if (html.substr(at, 4) == "<!--") {
        const std::size_t end = html.find("-->", at + 4);
        name.clear();
        return end == std::string_view::npos ? html.size() : end + 3;
    }
    const std::size_t close = html.find('>', at);
    const std::size_t end = close == std::string_view::npos ? html.size() : close + 1;
    name = TagName(html.substr(at, end - at));
    if ((name == "script" || name == "style") && html[at + 1] != '/') {
        const std::size_t endTag = AsciiLower(html.substr(end)).find("</" + name);
        if (endTag == std::string::npos)
            return html.size();
        const std::size_t after = html.find('>', end + endTag);
        return after == std::string_view::npos ? html.size() : after + 1;
    }
    return end;
}

// Decodes the reference at html[at] ('&') into out; gives the bytes taken (1: not one).
std::size_t DecodeReference(std::string_view html, std::size_t at, std::string& out)
{
    const std::size_t semicolon = html.find(';', at);
    if (semicolon == std::string_view::npos || semicolon - at > 10) {
        out += '&';
        return 1;
    }
    const std::string_view body = html.substr(at + 1, semicolon - at - 1);
    static const std::pair<const char*, char32_t> named[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'},
        {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}, {"ndash", 0x2013}, {"mdash", 0x2014},
        {"hellip", 0x2026}, {"rsquo", 0x2019}, {"lsquo", 0x2018}, {"rdquo", 0x201d},
        {"ldquo", 0x201c}, {"copy", 0xa9}, {"eacute", 0xe9}};
    for (const auto& [name, value] : named) {
        if (body == name) {
            AppendUtf8(out, value);
            return semicolon - at + 1;
        }
    }
    if (body.size() >= 2 && body[0] == '#') {
        const bool hex = body[1] == 'x' || body[1] == 'X';
        const std::string digits(body.substr(hex ? 2 : 1));
        char* end = nullptr;
        const unsigned long value = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
        if (!digits.empty() && *end == '\0' && value > 0 && value <= 0x10ffff
            && (value < 0xd800 || value > 0xdfff)) {
            AppendUtf8(out, static_cast<char32_t>(value));
            return semicolon - at + 1;
        }
    }
    out += '&';
    return 1;
}

// Blanks to single spaces, lines trimmed, empty lines dropped.
std::string Tidy(std::string_view text)
{
    std::string tidy, line;
    auto endLine = [&tidy, &line] {
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (!line.empty())
            tidy += (tidy.empty() ? "" : "\n") + line;
        line.clear();
    };
    for (const char character : text) {
        if (character == '\n') {
            endLine();
        } else if (character == ' ' || character == '\t' || character == '\r' || character == '\f'
            || character == '\v') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += character;
        }
    }
    endLine();
    return tidy;
}

} // namespace

std::string PlainTextOfHtml(std::string_view html)
{
    const std::string repaired = RepairUtf8(html);
    const std::string_view source(repaired);
    std::string text;
    text.reserve(source.size());
    // In HTML a line break of the source is a blank; in plain text it is meant.
    bool markup = false;
    for (std::size_t at = source.find('<'); at != std::string_view::npos && !markup;
         at = source.find('<', at + 1))
        markup = StartsTag(source, at);
    std::string name;
    for (std::size_t at = 0; at < source.size();) {
        if (source[at] == '<' && StartsTag(source, at)) {
            at = SkipMarkup(source, at, name);
            if (BreaksLine(name))
                text += '\n';
        } else if (source[at] == '&') {
            at += DecodeReference(source, at, text);
        } else {
            text += source[at] == '\n' && markup ? ' ' : source[at];
            ++at;
        }
    }
    return Tidy(text);
}

std::string EscapeHtml(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char character : text) {
        switch (character) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += character;
        }
    }
    return escaped;
}

} // namespace corvane
