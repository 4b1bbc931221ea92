// The header fields the fetcher reads, and the metadata of a partial download.
#include "net/ResponseHeaders.h"
#include "net/PartialDownload.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {

using namespace std::chrono_literals;

TEST(ResponseHeaders, KeepTheFinalResponsesFields)
{
    ResponseHeaders headers;
    headers.Take("HTTP/1.1 302 Found\r\n");
    headers.Take("ETag: \"redirect\"\r\n");
    headers.Take("Retry-After: 5\r\n");
    headers.Take("HTTP/1.1 200 OK\r\n");
    headers.Take("etag:   \"final\"  \r\n");
    headers.Take("CONTENT-RANGE: bytes 1-2/3\r\n");
    headers.Take("Content-Length: 10\r\n");
    headers.Take("Last-Modified: Sun, 09 Sep 2001 01:46:40 GMT\r\n");
    headers.Take("\r\n");
    EXPECT_EQ(headers.etag, "\"final\"");
    EXPECT_EQ(headers.contentRange, "bytes 1-2/3");
    EXPECT_EQ(headers.contentLength, "10");
    EXPECT_EQ(headers.lastModified, "Sun, 09 Sep 2001 01:46:40 GMT");
    EXPECT_EQ(headers.retryAfter, "");
}

TEST(ContentRange, ReadsTheByteRangeForm)
{
    ContentRange range;
    ASSERT_TRUE(ParseContentRange("bytes 100-199/200", range));
    EXPECT_EQ(range.first, 100u);
    EXPECT_EQ(range.last, 199u);
    EXPECT_EQ(range.total, std::optional<std::uint64_t>(200));
    ASSERT_TRUE(ParseContentRange("  Bytes 0-0/*", range));
    EXPECT_FALSE(range.total.has_value());
    ASSERT_TRUE(ParseContentRange("bytes 5000000000-5000000001/5000000002", range));
    EXPECT_EQ(range.first, 5000000000u);
}

TEST(ContentRange, RefusesAnythingElse)
{
    ContentRange range;
    for (const char* text : {"", "bytes", "bytes */200", "items 0-1/2", "bytes 10-5/20",
             "bytes 0-199/199", "bytes -1-5/9", "bytes 1-2", "bytes 1/2-3", "bytes 0-1/2x",
             "bytes 0-99999999999999999999/1", "bytes=0-1/2"})
        EXPECT_FALSE(ParseContentRange(text, range)) << text;
}

TEST(RetryAfter, IsSecondsOrADate)
{
    const std::time_t now = 1600000000;
    EXPECT_EQ(ParseRetryAfter("120", now), std::optional<std::chrono::seconds>(120s));
    EXPECT_EQ(ParseRetryAfter(" 0 ", now), std::optional<std::chrono::seconds>(0s));
    // 1600000000 is Sun, 13 Sep 2020 12:26:40 GMT.
    EXPECT_EQ(ParseRetryAfter("Sun, 13 Sep 2020 12:28:40 GMT", now),
        std::optional<std::chrono::seconds>(120s));
    EXPECT_EQ(ParseRetryAfter("Sun, 13 Sep 2020 12:00:00 GMT", now),
        std::optional<std::chrono::seconds>(0s));
    EXPECT_EQ(ParseRetryAfter("99999999999999999999999", now),
        std::optional<std::chrono::seconds>(365 * 24 * 3600s));
    for (const char* text : {"", "soon", "-5", "1.5"})
        EXPECT_FALSE(ParseRetryAfter(text, now).has_value()) << text;
}

TEST(Validators, OnlyStrongOnesAreSentBack)
{
    ResponseHeaders headers;
    headers.etag = "\"abc\"";
    EXPECT_EQ(StrongEtag(headers), "\"abc\"");
    headers.etag = "W/\"abc\"";
    EXPECT_EQ(StrongEtag(headers), "");
    headers.etag = "abc";
    EXPECT_EQ(StrongEtag(headers), "");

    headers.lastModified = "Sun, 09 Sep 2001 01:46:40 GMT";
    EXPECT_EQ(StrongLastModified(headers), ""); // no Date to judge it by
    headers.date = "Sun, 09 Sep 2001 01:46:40 GMT";
    EXPECT_EQ(StrongLastModified(headers), ""); // may have changed within that second
    headers.date = "Sun, 09 Sep 2001 01:46:41 GMT";
    EXPECT_EQ(StrongLastModified(headers), "Sun, 09 Sep 2001 01:46:40 GMT");
    headers.lastModified = "yesterday";
    EXPECT_EQ(StrongLastModified(headers), "");
}

TEST(PartialMetadata, RoundTrips)
{
    PartialMetadata written;
    written.address = "http://example.invalid/a b?x=1&y=2";
    written.etag = "\"v1\"";
    written.lastModified = "Sun, 09 Sep 2001 01:46:40 GMT";
    written.length = 123456789012ULL;
    PartialMetadata read;
    ASSERT_TRUE(PartialMetadata::Parse(written.Serialize(), read));
    EXPECT_EQ(read.address, written.address);
    EXPECT_EQ(read.etag, written.etag);
    EXPECT_EQ(read.lastModified, written.lastModified);
    EXPECT_EQ(read.length, written.length);
    EXPECT_EQ(read.Validator(), "\"v1\"");

    written.etag.clear();
    written.length.reset();
    ASSERT_TRUE(PartialMetadata::Parse(written.Serialize(), read));
    EXPECT_FALSE(read.length.has_value());
    EXPECT_EQ(read.Validator(), written.lastModified);
}

TEST(PartialMetadata, RefusesWhatItCannotCarryOrDoesNotName)
{
    PartialMetadata metadata;
    metadata.address = "http://example.invalid/\nx";
    metadata.etag = "\"v1\"";
    EXPECT_EQ(metadata.Serialize(), "");

    metadata.address = "http://example.invalid/x";
    const std::string whole = metadata.Serialize();
    PartialMetadata read;
    EXPECT_FALSE(PartialMetadata::Parse(whole.substr(0, whole.size() - 1), read)); // cut off
    EXPECT_FALSE(PartialMetadata::Parse("something else\n" + whole, read));
    EXPECT_FALSE(PartialMetadata::Parse("", read));
    metadata.etag.clear();
    EXPECT_FALSE(PartialMetadata::Parse(metadata.Serialize(), read)); // no validator
    metadata.etag = "\"v1\"";
    metadata.address.clear();
    EXPECT_FALSE(PartialMetadata::Parse(metadata.Serialize(), read)); // no address
    std::string badLength = whole;
    badLength.replace(badLength.find("length="), 7, "length=12x");
    EXPECT_FALSE(PartialMetadata::Parse(badLength, read));
}

} // namespace
