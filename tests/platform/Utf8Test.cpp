// The one UTF-8 repair, and the writers that use it agreeing on the same bad bytes (the JSON
// printer of corvane-cli calls the same decoder).
#include "platform/Utf8.h"

#include "formats/OutlineWriter.h"
#include "model/Records.h"
#include "update/Package.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace corvane;

namespace {

const std::string FFFD = "\xEF\xBF\xBD";

// Ill-formed bytes and what the repair makes of them: one U+FFFD per maximal subpart.
const std::vector<std::pair<std::string, std::string>>& BadCases()
{
    static const std::vector<std::pair<std::string, std::string>> cases = {
        {"\xFF", FFFD},
        {"a\x80z", "a" + FFFD + "z"},
        {"\xC0\xAF", FFFD + FFFD}, // overlong: the lead cannot start anything
        {"\xE0\x80\xAF", FFFD + FFFD + FFFD}, // overlong: the second byte breaks it
        {"\xED\xA0\x80", FFFD + FFFD + FFFD}, // a surrogate
        {"\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD}, // above U+10FFFF
        {"\xE2\x82", FFFD}, // cut short at the end: one subpart
        {"\xE2\x82z", FFFD + "z"}, // cut short, and the breaking byte starts afresh
        {"\xF0\x9F\x98", FFFD},
        {"\xF0\x9F\x98\xE2\x82\xAC", FFFD + "\xE2\x82\xAC"},
        {"\xC3", FFFD},
    };
    return cases;
}

// What the OPML writer puts into an attribute for title.
std::string WrittenTitle(const std::string& title)
{
    COutlineItem item;
    item.title = title;
    item.xmlurl = std::string("http://x/");
    std::string out;
    WriteOutline(item, out);
    const std::string start = "title=\"";
    const auto begin = out.find(start) + start.size();
    return out.substr(begin, out.find('"', begin) - begin);
}

} // namespace

TEST(Utf8, ValidTextStaysAsItWas)
{
    const std::string text = "plain \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF";
    EXPECT_EQ(RepairUtf8(text), text);
    EXPECT_EQ(RepairUtf8(""), "");
}

TEST(Utf8, EachMaximalIllFormedSubpartBecomesOneReplacement)
{
    for (const auto& [bad, repaired] : BadCases())
        EXPECT_EQ(RepairUtf8(bad), repaired) << testing::PrintToString(bad);
}

TEST(Utf8, DecodeGivesTheScalarAndTheBytesTaken)
{
    const Utf8Scalar euro = DecodeUtf8At("x\xE2\x82\xAC", 1);
    EXPECT_TRUE(euro.valid);
    EXPECT_EQ(euro.value, U'\u20AC');
    EXPECT_EQ(euro.length, 3u);
    const Utf8Scalar cut = DecodeUtf8At("\xF0\x9F\x98z", 0);
    EXPECT_FALSE(cut.valid);
    EXPECT_EQ(cut.value, U'\uFFFD');
    EXPECT_EQ(cut.length, 3u);
}

TEST(Utf8, ThePackageNamesAndTheOutlineWriterAgree)
{
    for (const auto& [bad, repaired] : BadCases()) {
        const std::string shown = testing::PrintToString(bad);
        EXPECT_EQ(Utf8ToUtf16Le(bad), Utf8ToUtf16Le(repaired)) << shown;
        EXPECT_EQ(WrittenTitle(bad), repaired) << shown;
    }
}

TEST(Utf8, TheOutlineWriterAlsoReplacesWhatXmlCannotHold)
{
    EXPECT_EQ(WrittenTitle("a\x01z"), "a" + FFFD + "z");
    EXPECT_EQ(WrittenTitle("a\xEF\xBF\xBEz"), "a" + FFFD + "z"); // U+FFFE
    EXPECT_EQ(WrittenTitle("tab\there"), "tab\there");
}
