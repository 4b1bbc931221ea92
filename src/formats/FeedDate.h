// Dates as feeds write them, turned into seconds since 1970-01-01 00:00:00 UTC so that items can
// be ranked by age. A pure function: no locale, no time zone database, no C library time calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The moment text names, in seconds since the epoch (UTC), or nullopt when text is no date.
// Surrounding white space is ignored. Two shapes are read:
//
// RFC 822/1123 as RSS writes it: "[Weekday,] D Mon YYYY [HH:MM[:SS] [zone]]", for example
// "Tue, 5 Mar 2024 10:20:30 +0100". The weekday is optional and not checked against the date
// (feeds get it wrong often enough that a date must not be lost for it), but it must be a day's
// name (three letters or more). Day one or two digits;
// month an English name, in any case, its first three letters or more ("Mar", "Sept", "March");
// year four digits, or two (00-49 mean 2000-2049, 50-99 mean 1950-1999). The zone is an offset
// (+0100, -0530, also +01:00), or GMT, UT, UTC, Z and the North American names EST/EDT, CST/CDT,
// MST/MDT, PST/PDT. Any other name of letters alone (a military letter, a local abbreviation) is
// taken as UTC: its meaning is not reliably known, and an error of a few hours still ranks the item
// among its neighbours, where rejecting it would rank it behind every dated item. A missing time is
// midnight and a missing zone UTC.
//
// ISO 8601 as Atom and some RSS feeds write it: "YYYY-MM-DD[(T|space)HH:MM[:SS[.fraction]]
// [Z|+HH:MM|+HHMM|+HH]]", for example "2024-03-05T10:20:30.25+01:00". A fraction is dropped; a
// date alone is midnight UTC, a time without zone is UTC.
//
// Rejected: anything else, and any field out of its range (month 13, 31 April, 29 February of a
// common year, hour 24, minute 60; a second of 60 is accepted as a leap second).
std::optional<std::int64_t> ParseFeedDate(std::string_view text);

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar (negative before).
// month 1..12, day 1..31; the caller checks the ranges.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day);

// The moment as RFC 822 writes it in UTC, for example "Tue, 05 Mar 2024 09:20:30 GMT", the form
// OPML heads and RSS dates use. ParseFeedDate reads it back to the same second.
std::string FormatRfc822Date(std::int64_t seconds);

} // namespace corvane
