#include "formats/FeedDate.h"

#include <gtest/gtest.h>

#include <string>

using namespace corvane;

namespace {

// 2024-03-05 10:20:30 UTC.
constexpr std::int64_t kMarch5 = 1709634030;
constexpr std::int64_t kHour = 3600;

std::optional<std::int64_t> Parse(const std::string& text)
{
    return ParseFeedDate(text);
}

} // namespace

TEST(FeedDate, DaysFromCivilAcrossEraAndLeapBoundaries)
{
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(1969, 12, 31), -1);
    EXPECT_EQ(DaysFromCivil(2000, 2, 29) * 86400 + 12 * kHour, 951825600);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1) - DaysFromCivil(2000, 2, 28), 2);
    EXPECT_EQ(DaysFromCivil(1900, 3, 1) - DaysFromCivil(1900, 2, 28), 1);
    EXPECT_EQ(DaysFromCivil(1600, 3, 1) * 86400, -11670912000);
    EXPECT_EQ(DaysFromCivil(1, 1, 1) * 86400, -62135596800);
    EXPECT_EQ(DaysFromCivil(9999, 12, 31) * 86400 + 86399, 253402300799);
}

TEST(FeedDate, Rfc822WithAndWithoutWeekday)
{
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("05 Mar 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("Tue 05 Mar 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("Tuesday, 05 Mar 2024 10:20:30 GMT"), kMarch5);
    // The weekday is not checked against the date: the date is what ranks the item.
    EXPECT_EQ(Parse("Fri, 05 Mar 2024 10:20:30 GMT"), kMarch5);
}

TEST(FeedDate, Rfc822DayYearAndSecondsForms)
{
    EXPECT_EQ(Parse("Tue, 5 Mar 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 Mar 24 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("Wed, 31 Dec 99 23:59:59 GMT"), 946684799);
    EXPECT_EQ(Parse("1 Jan 49 00:00 GMT"), 2493072000);
    EXPECT_EQ(Parse("1 Jan 50 00:00 GMT"), -631152000);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20 GMT"), kMarch5 - 30);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 9:20:30 GMT"), kMarch5 - kHour);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024"), 1709596800);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20:30"), kMarch5); // no zone: UTC
    EXPECT_EQ(Parse("Thu, 01 Jan 1970 00:00:00 +0000"), 0);
    EXPECT_EQ(Parse("Sun, 20 Jul 1969 20:17:40 GMT"), -14182940);
    EXPECT_EQ(Parse("Thu, 29 Feb 2024 00:00:00 GMT"), 1709164800);
    // A leap second is the first second of the next minute.
    EXPECT_EQ(Parse("Sat, 31 Dec 2016 23:59:60 GMT"), Parse("Sun, 01 Jan 2017 00:00:00 GMT"));
}

TEST(FeedDate, Rfc822MonthAndDayNamesInAnyCase)
{
    EXPECT_EQ(Parse("tue, 05 mar 2024 10:20:30 gmt"), kMarch5);
    EXPECT_EQ(Parse("TUE, 05 MAR 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 March 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("Tues, 05 mArCh 2024 10:20:30 GMT"), kMarch5);
    EXPECT_EQ(Parse("10 Sept 2024 00:00:00 GMT"), Parse("10 Sep 2024 00:00:00 GMT"));
    const char* months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 1; month <= 12; ++month) {
        EXPECT_EQ(Parse(std::string("1 ") + months[month - 1] + " 2023 00:00:00 GMT"),
            DaysFromCivil(2023, month, 1) * 86400)
            << months[month - 1];
    }
}

TEST(FeedDate, Rfc822Zones)
{
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 11:20:30 +0100"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 04:50:30 -0530"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 11:20:30 +01:00"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20:30 -0000"), kMarch5);
    for (const char* utc : {"GMT", "UT", "UTC", "Z", "gmt", "utc"})
        EXPECT_EQ(Parse(std::string("Tue, 05 Mar 2024 10:20:30 ") + utc), kMarch5) << utc;
    const std::pair<const char*, int> named[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
        {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
    for (const auto& [zone, hours] : named) {
        EXPECT_EQ(Parse(std::string("Tue, 05 Mar 2024 10:20:30 ") + zone), kMarch5 - hours * kHour)
            << zone;
    }
    // Unknown names and military letters count as UTC.
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20:30 CEST"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20:30 A"), kMarch5);
    EXPECT_EQ(Parse("Tue, 05 Mar 2024 10:20:30 m"), kMarch5);
}

TEST(FeedDate, SurroundingWhiteSpaceIsIgnored)
{
    EXPECT_EQ(Parse("  \t\r\nTue, 05 Mar 2024 10:20:30 GMT \n "), kMarch5);
    EXPECT_EQ(Parse("Tue,  05   Mar\t2024  10:20:30   GMT"), kMarch5);
    EXPECT_EQ(Parse("\n 2024-03-05T10:20:30Z\n"), kMarch5);
}

TEST(FeedDate, Iso8601)
{
    EXPECT_EQ(Parse("2024-03-05T10:20:30Z"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05t10:20:30z"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05 10:20:30Z"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T11:20:30+01:00"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T11:20:30+0100"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T11:20:30+01"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T04:50:30-05:30"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T10:20:30.999Z"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T10:20:30,5+00:00"), kMarch5);
    EXPECT_EQ(Parse("2024-03-05T10:20Z"), kMarch5 - 30);
    EXPECT_EQ(Parse("2024-03-05T10:20:30"), kMarch5); // no zone: UTC
    EXPECT_EQ(Parse("2024-03-05"), 1709596800);
    EXPECT_EQ(Parse("1970-01-01T00:00:00Z"), 0);
    EXPECT_EQ(Parse("1969-12-31T23:59:59Z"), -1);
}

TEST(FeedDate, NonsenseIsRejected)
{
    for (const char* bad :
        {"", "   ", "yesterday", "Tue, 05 Foo 2024 10:20:30 GMT", "Tue, 05 Ma 2024 10:20:30 GMT",
            "Tue, 32 Mar 2024 10:20:30 GMT", "Tue, 0 Mar 2024 10:20:30 GMT",
            "Tue, 31 Apr 2024 10:20:30 GMT", "Thu, 29 Feb 2023 00:00:00 GMT",
            "Sun, 29 Feb 1900 00:00:00 GMT", "Tue, 05 Mar 2024 24:00:00 GMT",
            "Tue, 05 Mar 2024 10:60:00 GMT", "Tue, 05 Mar 2024 10:20:61 GMT",
            "Tue, 05 Mar 2024 10:20:30 +2400", "Tue, 05 Mar 2024 10:20:30 +0160",
            "Tue, 05 Mar 2024 10:20:30 +01", "Tue, 05 Mar 2024 10:20:30 +01000",
            "Tue, 05 Mar 2024 10:20:30 GMT junk", "Tue, 05 Mar 2024 10:20:30 GMT+1",
            "Tue, 05 Mar 2024 10:20:30 LONGNAME", "Tue, 05 Mar 202 10:20:30 GMT",
            "Tue, 05 Mar 20245 10:20:30 GMT", "Tue, 123 Mar 2024 10:20:30 GMT",
            "Blursday, 05 Mar 2024 10:20:30 GMT", "Tue, 05 Mar 2024 10:2:30 GMT",
            "Tue, 05 Mar 2024 10", "Tue, 05Mar 2024", "Tue,", "2024-13-05T10:20:30Z", "2024-00-05",
            "2024-02-30", "2024-03-32", "2024-3-5", "2024-03-05T", "2024-03-05T10Z",
            "2024-03-05T10:20:30.Z", "2024-03-05T10:20:30+1", "2024-03-05T10:20:30Q",
            "2024-03-05X10:20:30Z", "2024-03-05T25:00:00Z", "20245-03-05"}) {
        EXPECT_EQ(Parse(bad), std::nullopt) << "'" << bad << "'";
    }
}

TEST(FeedDate, FormatRfc822DateWritesUtcAndReadsBack)
{
    EXPECT_EQ(FormatRfc822Date(kMarch5), "Tue, 05 Mar 2024 10:20:30 GMT");
    EXPECT_EQ(FormatRfc822Date(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_EQ(FormatRfc822Date(-1), "Wed, 31 Dec 1969 23:59:59 GMT");
    EXPECT_EQ(FormatRfc822Date(951825600), "Tue, 29 Feb 2000 12:00:00 GMT");
    // Every day across several leap years and both sides of the epoch comes back to the second.
    for (std::int64_t day = -800; day < 20000; day += 7) {
        const std::int64_t moment = day * 86400 + 12345;
        EXPECT_EQ(Parse(FormatRfc822Date(moment)), moment) << FormatRfc822Date(moment);
    }
}
