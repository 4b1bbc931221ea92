// Names that FAT32 and exFAT take, their collisions, and description texts without markup.
#include "sync/SafeNames.h"
#include "sync/HtmlText.h"
#include "sync/SyncManifest.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {

TEST(SafeNames, MakesNamesThatFatTakes)
{
    const QString longName = QString(200, QChar(0xe9));
    QString faces;
    for (int i = 0; i < 100; ++i)
        faces += QString::fromUcs4(U"\U0001F600", 1);
    const struct {
        QString text;
        QString extension;
        int limit;
        QString expected;
    } cases[] = {
        {"a/b\\c:d*e?f\"g<h>i|j", ".mp3", 120, "a_b_c_d_e_f_g_h_i_j.mp3"},
        {"Title. . ", ".mp3", 120, "Title.mp3"},
        {"  line\nbreak\t\ttab  ", "", 60, "line break tab"},
        {QString::fromLatin1("\x01"
                             "bell\x7f"),
            "", 60, "_bell_"},
        {"con", ".mp3", 120, "con_.mp3"},
        {"COM1", "", 60, "COM1_"},
        {"Nul.txt", "", 60, "Nul.txt_"},
        {"COMA", "", 60, "COMA"},
        {"", ".amr", 120, "Untitled.amr"},
        {"...", "", 60, "Untitled"},
        {longName, ".mp3", 120, QString(116, QChar(0xe9)) + ".mp3"},
        {"ab   cd " + longName, "", 8, "ab cd " + QString(2, QChar(0xe9))},
        {"ab   cd   " + longName, "", 6, "ab cd"}, // the cut ends in a blank, which goes
        // 21 units leave room for ten faces and a half: the half goes.
        {faces, ".mp3", 25, faces.left(20) + ".mp3"},
    };
    for (const auto& test : cases) {
        const QString name = SafeName(test.text, test.extension, test.limit);
        EXPECT_EQ(name, test.expected) << test.text.toStdString();
        EXPECT_LE(name.size(), test.limit);
    }
}

TEST(SafeNames, ClaimsKeepNamesApartAsFatComparesThem)
{
    NameClaims claims;
    claims.Take("Foreign.mp3");
    EXPECT_EQ(claims.Claim("Same", ".mp3", 120), "Same.mp3");
    EXPECT_EQ(claims.Claim("Same", ".mp3", 120), "Same (2).mp3");
    EXPECT_EQ(claims.Claim("SAME", ".mp3", 120), "SAME (3).mp3");
    EXPECT_EQ(claims.Claim("A:B", ".mp3", 120), "A_B.mp3");
    EXPECT_EQ(claims.Claim("a/b", ".mp3", 120), "a_b (2).mp3");
    EXPECT_EQ(claims.Claim("foreign", ".mp3", 120), "foreign (2).mp3");
    EXPECT_EQ(claims.Claim("Same", ".amr", 120), "Same.amr");
    // A numbered name still fits: the stem gives way to the number.
    const QString stem(130, QLatin1Char('x'));
    const QString first = claims.Claim(stem, ".mp3", 120);
    const QString second = claims.Claim(stem, ".mp3", 120);
    EXPECT_EQ(first.size(), 120);
    EXPECT_EQ(second, QString(112, QLatin1Char('x')) + " (2).mp3");
}

TEST(HtmlText, DescriptionsBecomeTextWithoutMarkup)
{
    const struct {
        const char* html;
        const char* text;
    } cases[] = {
        {"<p>Hello <b>world</b></p><p>Next</p>", "Hello world\nNext"},
        {"Before<script>alert('x<p>')</script> after<style>p{}</style>", "Before after"},
        {"<img src=\"http://tracker.example/p.gif\">Fish &amp; chips &lt;3 &#233;&#x263A; &bogus;",
            "Fish & chips <3 \xc3\xa9\xe2\x98\xba &bogus;"},
        {"a < b and c<d", "a < b and c<d"},
        {"line one\n\n  line   two", "line one\nline two"},
        {"<!-- hidden <p> -->shown<br/>next", "shown\nnext"},
        {"<ul><li>one</li><li>two</li></ul>", "one\ntwo"},
        {"cut <a href=\"x\"", "cut <a href=\"x\""}, // an unclosed tag is text
        {"bad \xff byte", "bad \xef\xbf\xbd byte"},
    };
    for (const auto& test : cases)
        EXPECT_EQ(PlainTextOfHtml(test.html), test.text) << test.html;
    EXPECT_EQ(EscapeHtml("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
}

TEST(SyncManifest, ReadsBackWhatItWritesAndPassesOverBadLines)
{
    SyncManifest manifest;
    manifest.entries["Feed/2024-03-05 A.mp3"] = {false, 1234, "abc"};
    manifest.entries["Odd\t%name\r\n/x.amr"] = {true, 0, ""};
    const std::string text = manifest.Text();
    EXPECT_EQ(SyncManifest::FromText(text), manifest);
    EXPECT_EQ(text.find("Odd\t"), std::string::npos);

    const SyncManifest mixed = SyncManifest::FromText(
        text + "ok\tnot a number\tkey\tpath\nweird\t1\tk\tp\nok\t1\tk\t\nok\t5\tk\tgood.mp3\n");
    EXPECT_EQ(mixed.entries.size(), 3u);

    // A manifest on a device is anyone's to write: no path of it leads out of the sync folder.
    const SyncManifest planted = SyncManifest::FromText("corvane-sync 1\n"
                                                        "ok\t5\tk\t../outside.mp3\n"
                                                        "ok\t5\tk\t/etc/passwd\n"
                                                        "ok\t5\tk\tFeed/../../x\n"
                                                        "ok\t5\tk\tFeed//x\n"
                                                        "ok\t5\tk\t.\\..\\x\n"
                                                        "ok\t5\tk\t.corvane-sync\n"
                                                        "ok\t5\tk\tFeed/..x.mp3\n");
    ASSERT_EQ(planted.entries.size(), 1u);
    EXPECT_EQ(planted.entries.begin()->first, "Feed/..x.mp3");
    EXPECT_EQ(mixed.entries.at("good.mp3").size, 5u);
    EXPECT_TRUE(SyncManifest::FromText("something else\nok\t1\tk\tp\n").entries.empty());
}

} // namespace
