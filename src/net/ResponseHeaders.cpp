#include "net/ResponseHeaders.h"

#include "platform/Utf8.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <limits>

namespace corvane {

namespace {

constexpr std::int64_t LongestRetryAfter = 365LL * 24 * 60 * 60;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsDigits(std::string_view text)
{
    return !text.empty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// -1 when unreadable.
std::time_t HttpDate(const std::string& text)
{
    return text.empty() ? -1 : curl_getdate(text.c_str(), nullptr);
}

} // namespace

std::string FormatHttpDate(std::time_t when)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm parts {};
    if (!::gmtime_r(&when, &parts))
        return std::string();
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[parts.tm_wday],
        parts.tm_mday, months[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour, parts.tm_min,
        parts.tm_sec);
    return text;
}

void ResponseHeaders::Take(std::string_view line)
{
    if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
        *this = ResponseHeaders();
        return;
    }
    const auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const std::string_view name = Trimmed(line.substr(0, colon));
    const std::string_view value = Trimmed(line.substr(colon + 1));
    const std::pair<const char*, std::string*> fields[] = {
        {"ETag", &etag},
        {"Last-Modified", &lastModified},
        {"Date", &date},
        {"Content-Range", &contentRange},
        {"Content-Length", &contentLength},
        {"Retry-After", &retryAfter},
    };
    for (const auto& [fieldName, field] : fields) {
        if (EqualsIgnoringAsciiCase(name, fieldName))
            field->assign(value);
    }
}

bool ParseByteCount(std::string_view text, std::uint64_t& count)
{
    if (!IsDigits(text))
        return false;
    std::uint64_t value = 0;
    for (char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            return false;
        value = value * 10 + digit;
    }
    count = value;
    return true;
}

bool ParseContentRange(std::string_view text, ContentRange& range)
{
    text = Trimmed(text);
    if (text.size() < 6 || !EqualsIgnoringAsciiCase(text.substr(0, 5), "bytes")
        || !IsBlank(text[5]))
        return false;
    text = Trimmed(text.substr(6));
    const auto dash = text.find('-');
    const auto slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash)
        return false;
    ContentRange read;
    if (!ParseByteCount(text.substr(0, dash), read.first)
        || !ParseByteCount(text.substr(dash + 1, slash - dash - 1), read.last)
        || read.last < read.first)
        return false;
    const std::string_view total = text.substr(slash + 1);
    if (total != "*") {
        std::uint64_t value = 0;
        if (!ParseByteCount(total, value) || value <= read.last)
            return false;
        read.total = value;
    }
    range = read;
    return true;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view text, std::time_t now)
{
    text = Trimmed(text);
    std::int64_t delay = 0;
    if (IsDigits(text)) {
        std::uint64_t seconds = 0;
        delay = ParseByteCount(text, seconds) ? static_cast<std::int64_t>(
                    std::min<std::uint64_t>(seconds, static_cast<std::uint64_t>(LongestRetryAfter)))
                                              : LongestRetryAfter;
    } else {
        const std::time_t when = HttpDate(std::string(text));
        if (when == -1)
            return std::nullopt;
        delay = std::clamp<std::int64_t>(
            static_cast<std::int64_t>(when) - static_cast<std::int64_t>(now), 0, LongestRetryAfter);
    }
    return std::chrono::seconds(delay);
}

std::string StrongEtag(const ResponseHeaders& headers)
{
    const std::string& tag = headers.etag;
    // An entity tag is a quoted string; anything else is no tag a server would match.
    if (tag.size() < 2 || tag.front() != '"' || tag.back() != '"')
        return std::string();
    return tag;
}

std::string StrongLastModified(const ResponseHeaders& headers)
{
    const std::time_t modified = HttpDate(headers.lastModified);
    const std::time_t date = HttpDate(headers.date);
    if (modified == -1 || date == -1 || date - modified < 1)
        return std::string();
    return headers.lastModified;
}

bool WeakLastModified(const ResponseHeaders& headers)
{
    const std::time_t modified = HttpDate(headers.lastModified);
    const std::time_t date = HttpDate(headers.date);
    return modified != -1 && date != -1 && date - modified < 1;
}

} // namespace corvane
