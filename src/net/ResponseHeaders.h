// The few header fields of a response that the fetcher acts on, and their parsers. Internal to
// src/net.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The fields as sent, without surrounding white space; empty when absent.
struct ResponseHeaders {
    std::string etag;
    std::string lastModified;
    std::string date;
    std::string contentRange;
    std::string contentLength;
    std::string retryAfter;

    // Takes one header line as libcurl hands it over (CR LF included). A status line begins
    // another response and clears what the one before said, so that after redirects and interim
    // answers the fields are the final response's. Of a field sent twice the last one counts.
    void Take(std::string_view line);
};

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::optional<std::uint64_t> total; // empty for "*"
};

// Reads "bytes <first>-<last>/<total>" (total may be "*"). False for anything else, for last
// before first, and for a total not beyond last.
bool ParseContentRange(std::string_view text, ContentRange& range);

// A whole decimal number without sign that fits 64 bits; false otherwise.
bool ParseByteCount(std::string_view text, std::uint64_t& count);

// Retry-After as a delay from now: delta-seconds, or an HTTP date (one in the past is 0 s). Empty
// when text is neither. Delays are capped at a year, far beyond any pause taken.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view text, std::time_t now);

// A time as an HTTP date in its preferred form, "Sun, 06 Nov 1994 08:49:37 GMT" (English names
// whatever the locale), for request headers such as If-Modified-Since.
std::string FormatHttpDate(std::time_t when);

// The validators a client may send back in If-Range: the ETag when it is a strong one (a quoted
// tag, not a weak "W/..."), and the Last-Modified when the response's Date is at least one second
// later (an earlier one may name two versions written within the same second). Empty when not
// usable.
std::string StrongEtag(const ResponseHeaders& headers);
std::string StrongLastModified(const ResponseHeaders& headers);
// A Last-Modified less than a second before the response's Date (or after it): another version
// may follow within the same second and carry the same Last-Modified. False when either is
// absent or unreadable.
bool WeakLastModified(const ResponseHeaders& headers);

} // namespace corvane
