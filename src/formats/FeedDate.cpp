#include "formats/FeedDate.h"

#include <array>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <utility>

namespace corvane {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when word, in any case, is name (lower case).
bool EqualsIgnoringCase(std::string_view word, std::string_view name)
{
    if (word.size() != name.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (Lower(word[i]) != name[i])
            return false;
    }
    return true;
}

// True when word, in any case, is the start of name (lower case) and at least three letters
// long: "Mar", "march" and "Sept" all name their month, "Ma" names nothing.
bool AbbreviatesName(std::string_view word, std::string_view name)
{
    return word.size() >= 3 && word.size() <= name.size()
        && EqualsIgnoringCase(word, name.substr(0, word.size()));
}

// Reads the text from left to right; every reader returns false (or nullopt) when the text
// does not hold what was asked for. A failed read ends the parse, so where it leaves the
// position does not matter.
class Cursor {
public:
    explicit Cursor(std::string_view text_)
        : text(text_)
    { }

    bool AtEnd() const { return position == text.size(); }
    std::size_t Position() const { return position; }
    char Peek() const { return AtEnd() ? '\0' : text[position]; }

    bool Skip(char c)
    {
        if (AtEnd() || text[position] != c)
            return false;
        ++position;
        return true;
    }

    // Skips white space; the count skipped.
    std::size_t SkipSpaces()
    {
        const std::size_t start = position;
        while (!AtEnd() && IsSpace(text[position]))
            ++position;
        return position - start;
    }

    // From minDigits to maxDigits decimal digits (at most nine, so the value fits). Reading
    // stops after maxDigits: "+0100" holds two fields of two digits. A longer run leaves a digit
    // where the caller expects something else, which rejects the text there.
    std::optional<int> Number(std::size_t minDigits, std::size_t maxDigits)
    {
        int value = 0;
        std::size_t count = 0;
        for (; count < maxDigits && !AtEnd() && IsDigit(text[position]); ++position, ++count)
            value = value * 10 + (text[position] - '0');
        if (count < minDigits)
            return std::nullopt;
        return value;
    }

    // A run of digits of any length, dropped: the fraction of a second.
    bool SkipDigits()
    {
        const std::size_t start = position;
        while (!AtEnd() && IsDigit(text[position]))
            ++position;
        return position > start;
    }

    // A run of letters (possibly empty).
    std::string_view Word()
    {
        const std::size_t start = position;
        while (!AtEnd() && IsLetter(text[position]))
            ++position;
        return text.substr(start, position - start);
    }

private:
    std::string_view text;
    std::size_t position = 0;
};

// What a date names, before it is checked and counted.
struct Fields {
    std::int64_t year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int offsetSeconds = 0; // east of UTC positive: local time = UTC + offset
};

bool IsLeapYear(std::int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(std::int64_t year, int month)
{
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

std::optional<std::int64_t> Count(const Fields& f)
{
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > DaysInMonth(f.year, f.month))
        return std::nullopt;
    // 60 is a leap second; it counts as the first second of the next minute.
    if (f.hour > 23 || f.minute > 59 || f.second > 60)
        return std::nullopt;
    return DaysFromCivil(f.year, f.month, f.day) * 86400 + f.hour * 3600 + f.minute * 60 + f.second
        - f.offsetSeconds;
}

// "+hhmm", "+hh:mm" and, where allowHoursAlone (ISO), "+hh"; the sign is at the cursor.
bool ReadOffset(Cursor& cursor, bool allowHoursAlone, int& offsetSeconds)
{
    const int sign = cursor.Skip('-') ? -1 : (cursor.Skip('+') ? 1 : 0);
    if (sign == 0)
        return false;
    const std::optional<int> hours = cursor.Number(2, 2);
    if (!hours || *hours > 23)
        return false;
    int minutes = 0;
    if (cursor.Skip(':') || IsDigit(cursor.Peek())) {
        const std::optional<int> read = cursor.Number(2, 2);
        if (!read || *read > 59)
            return false;
        minutes = *read;
    } else if (!allowHoursAlone) {
        return false;
    }
    offsetSeconds = sign * (*hours * 3600 + minutes * 60);
    return true;
}

// A zone name: its offset from UTC in hours. Names not listed (military letters, other local
// abbreviations) count as UTC; see the header for why.
bool ReadZoneName(Cursor& cursor, int& offsetSeconds)
{
    static constexpr std::pair<std::string_view, int> kZones[]
        = {{"gmt", 0}, {"ut", 0}, {"utc", 0}, {"z", 0}, {"est", -5}, {"edt", -4}, {"cst", -6},
            {"cdt", -5}, {"mst", -7}, {"mdt", -6}, {"pst", -8}, {"pdt", -7}};
    const std::string_view word = cursor.Word();
    if (word.empty() || word.size() > 5)
        return false;
    offsetSeconds = 0;
    for (const auto& [name, hours] : kZones) {
        if (EqualsIgnoringCase(word, name))
            offsetSeconds = hours * 3600;
    }
    return true;
}

// "HH:MM[:SS]", with hours of at least hourDigits digits (RFC 822 dates may write one, ISO 8601
// always writes two).
bool ReadClock(Cursor& cursor, Fields& fields, std::size_t hourDigits = 1)
{
    const std::optional<int> hour = cursor.Number(hourDigits, 2);
    if (!hour || !cursor.Skip(':'))
        return false;
    const std::optional<int> minute = cursor.Number(2, 2);
    if (!minute)
        return false;
    fields.hour = *hour;
    fields.minute = *minute;
    if (!cursor.Skip(':'))
        return true;
    const std::optional<int> second = cursor.Number(2, 2);
    if (!second)
        return false;
    fields.second = *second;
    return true;
}

// An optional weekday with its optional comma; the name must be one (three letters or more).
bool SkipWeekday(Cursor& cursor)
{
    static constexpr std::string_view kDays[]
        = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday"};
    if (!IsLetter(cursor.Peek()))
        return true;
    const std::string_view word = cursor.Word();
    bool known = false;
    for (std::string_view day : kDays)
        known = known || AbbreviatesName(word, day);
    if (!known)
        return false;
    cursor.Skip(',');
    cursor.SkipSpaces();
    return true;
}

std::optional<int> ReadMonthName(Cursor& cursor)
{
    static constexpr std::string_view kMonths[] = {"january", "february", "march", "april", "may",
        "june", "july", "august", "september", "october", "november", "december"};
    const std::string_view word = cursor.Word();
    for (std::size_t i = 0; i < std::size(kMonths); ++i) {
        if (AbbreviatesName(word, kMonths[i]))
            return static_cast<int>(i + 1);
    }
    return std::nullopt;
}

// "D Mon YY" or "D Mon YYYY".
bool ReadRfcDay(Cursor& cursor, Fields& fields)
{
    const std::optional<int> day = cursor.Number(1, 2);
    if (!day || cursor.SkipSpaces() == 0)
        return false;
    const std::optional<int> month = ReadMonthName(cursor);
    if (!month || cursor.SkipSpaces() == 0)
        return false;
    const std::size_t yearStart = cursor.Position();
    const std::optional<int> year = cursor.Number(2, 4);
    const std::size_t yearDigits = cursor.Position() - yearStart;
    if (!year || yearDigits == 3)
        return false;
    fields.day = *day;
    fields.month = *month;
    fields.year = *year;
    // Two-digit years as RFC 2822 reads them: 00-49 in this century, 50-99 in the last.
    if (yearDigits == 2)
        fields.year += *year < 50 ? 2000 : 1900;
    return true;
}

std::optional<std::int64_t> ParseRfc822(Cursor& cursor, Fields& fields)
{
    if (!SkipWeekday(cursor) || !ReadRfcDay(cursor, fields))
        return std::nullopt;
    if (cursor.AtEnd())
        return Count(fields);
    if (cursor.SkipSpaces() == 0 || !ReadClock(cursor, fields))
        return std::nullopt;
    cursor.SkipSpaces();
    if (cursor.AtEnd())
        return Count(fields);
    const bool zone = cursor.Peek() == '+' || cursor.Peek() == '-'
        ? ReadOffset(cursor, false, fields.offsetSeconds)
        : ReadZoneName(cursor, fields.offsetSeconds);
    cursor.SkipSpaces();
    if (!zone || !cursor.AtEnd())
        return std::nullopt;
    return Count(fields);
}

// "THH:MM[:SS[.fraction]][zone]" after an ISO date.
bool ReadIsoTime(Cursor& cursor, Fields& fields)
{
    if (!ReadClock(cursor, fields, 2))
        return false;
    // Fractions of a second follow the seconds only; they do not change the ranking.
    if ((cursor.Skip('.') || cursor.Skip(',')) && !cursor.SkipDigits())
        return false;
    if (cursor.Skip('Z') || cursor.Skip('z'))
        return true;
    if (cursor.Peek() == '+' || cursor.Peek() == '-')
        return ReadOffset(cursor, true, fields.offsetSeconds);
    return true;
}

std::optional<std::int64_t> ParseIso8601(Cursor& cursor, Fields& fields)
{
    const std::optional<int> year = cursor.Number(4, 4);
    if (!year || !cursor.Skip('-'))
        return std::nullopt;
    const std::optional<int> month = cursor.Number(2, 2);
    if (!month || !cursor.Skip('-'))
        return std::nullopt;
    const std::optional<int> day = cursor.Number(2, 2);
    if (!day)
        return std::nullopt;
    fields.year = *year;
    fields.month = *month;
    fields.day = *day;
    if (!cursor.AtEnd()) {
        if (!(cursor.Skip('T') || cursor.Skip('t') || cursor.Skip(' '))
            || !ReadIsoTime(cursor, fields))
            return std::nullopt;
    }
    if (!cursor.AtEnd())
        return std::nullopt;
    return Count(fields);
}

// ISO dates begin with four digits and a hyphen; RFC 822 dates with a weekday or a day of at
// most two digits.
bool LooksLikeIso(std::string_view text)
{
    return text.size() > 4 && IsDigit(text[0]) && IsDigit(text[1]) && IsDigit(text[2])
        && IsDigit(text[3]) && text[4] == '-';
}

} // namespace

std::int64_t DaysFromCivil(std::int64_t year, int month, int day)
{
    // Counts in 400-year eras from 1 March of year 0, so that the leap day ends each year.
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

std::optional<std::int64_t> ParseFeedDate(std::string_view text)
{
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    Cursor cursor(text);
    Fields fields;
    if (LooksLikeIso(text))
        return ParseIso8601(cursor, fields);
    return ParseRfc822(cursor, fields);
}

std::string FormatRfc822Date(std::int64_t seconds)
{
    // The inverse of DaysFromCivil, in the same 400-year eras from 1 March of year 0.
    const std::int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
    const std::int64_t secondOfDay = seconds - days * 86400;
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = (shifted >= 0 ? shifted : shifted - 146096) / 146097;
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra
        = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153; // 0 is March
    const int day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    const int month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    // 1970-01-01 was a Thursday.
    const std::int64_t weekday = ((days % 7) + 7 + 4) % 7;
    static constexpr const char* weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:%02d GMT", weekdays[weekday],
        day, months[month - 1], static_cast<long long>(year), static_cast<int>(secondOfDay / 3600),
        static_cast<int>(secondOfDay / 60 % 60), static_cast<int>(secondOfDay % 60));
    return text;
}

} // namespace corvane
