// The small dialogs: texts, tab order, OK and Cancel, and Auto Retrieve against the loopback
// server.
#include "UiTestSupport.h"

#include "support/TestServer.h"
#include "ui/AboutDlg.h"
#include "ui/ChannelProp.h"
#include "ui/DialogUnits.h"
#include "ui/DlgDeleteConfirm.h"
#include "ui/DlgFeedChooser.h"
#include "ui/DlgFeedOptions.h"
#include "ui/DlgGroupProp.h"
#include "ui/DlgImportConfirm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeWidget>

#include <chrono>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

QStringList Texts(const QWidget& dialog)
{
    QStringList texts;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        if (!label->text().isEmpty())
            texts << label->text();
    }
    for (const QPushButton* button : dialog.findChildren<QPushButton*>())
        texts << button->text();
    return texts;
}

QPushButton* Button(const QWidget& dialog, const QString& text)
{
    for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

TEST(Dialogs, CaptionsTextsAndDefaultButtons)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Corvane"));
    EXPECT_TRUE(Texts(about).contains(QStringLiteral("Version 1.2")));
    ASSERT_NE(Button(about, QStringLiteral("OK")), nullptr);
    EXPECT_TRUE(Button(about, QStringLiteral("OK"))->isDefault());

    CDlgDeleteConfirm remove;
    EXPECT_EQ(remove.windowTitle(), QStringLiteral("Warning"));
    EXPECT_TRUE(Texts(remove).contains(
        QStringLiteral("The selected item or group will be deleted, continue?")));
    EXPECT_TRUE(Button(remove, QStringLiteral("Yes"))->isDefault());

    CDlgImportConfirm import;
    EXPECT_TRUE(Texts(import).contains(
        QStringLiteral("All current channels will be overwritten by imported ones, continue?")));
    EXPECT_NE(Button(import, QStringLiteral("Cancel")), nullptr);

    CChannelProp channel;
    EXPECT_EQ(channel.windowTitle(), QStringLiteral("Channel Properties"));
    EXPECT_EQ(channel.size(), CDialogUnits(channel.font()).Size(275, 134));
    CDlgGroupProp group;
    EXPECT_EQ(group.windowTitle(), QStringLiteral("Group Properties"));
    EXPECT_EQ(group.TitleEdit()->text(), QStringLiteral("Group"));
}

TEST(Dialogs, LabelsAreNotCutOff)
{
    CChannelProp channel;
    CDlgDeleteConfirm remove;
    for (const QWidget* dialog :
        {static_cast<QWidget*>(&channel), static_cast<QWidget*>(&remove)}) {
        for (const QLabel* label : dialog->findChildren<QLabel*>()) {
            if (label->text().isEmpty() || label->wordWrap())
                continue;
            EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()))
                << label->text().toStdString();
            EXPECT_LE(label->geometry().right(), dialog->width());
        }
    }
}

TEST(Dialogs, ChannelTabOrderStartsWithTitle)
{
    CChannelProp channel;
    channel.show();
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), channel.TitleEdit());
    QWidget* order[] = {channel.TitleEdit(), channel.XmlUrlEdit(), channel.HtmlUrlEdit(),
        channel.DescriptionEdit()};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        EXPECT_EQ(order[i]->nextInFocusChain(), order[i + 1]) << i;
}

TEST(Dialogs, OkCopiesFieldsAndCancelDoesNot)
{
    CDlgGroupProp group;
    group.title = "Kept";
    group.UpdateData(false);
    group.TitleEdit()->setText(QStringLiteral("Typed"));
    group.reject();
    EXPECT_EQ(group.result(), QDialog::Rejected);
    EXPECT_EQ(group.title, "Kept");

    CChannelProp channel;
    EXPECT_EQ(channel.XmlUrlEdit()->text(), QStringLiteral("http://"));
    channel.TitleEdit()->setText(QStringLiteral("Caf\u00e9"));
    const QString longText(40000, QLatin1Char('d')); // beyond QLineEdit's default 32767
    channel.DescriptionEdit()->setText(longText);
    channel.accept();
    EXPECT_EQ(channel.title, "Caf\xC3\xA9");
    EXPECT_EQ(channel.description.size(), 40000u);
}

class AutoRetrieveTest : public ::testing::Test {
protected:
    void Retrieve(const std::string& address)
    {
        dialog.XmlUrlEdit()->setText(QString::fromStdString(address));
        dialog.OnAutoRetrieve();
        WaitForRetrieve();
    }
    void WaitForRetrieve()
    {
        QElapsedTimer waited;
        waited.start();
        while (dialog.Retrieving() && waited.elapsed() < 10000)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_FALSE(dialog.Retrieving());
    }
    void Prefill()
    {
        dialog.TitleEdit()->setText(QStringLiteral("old title"));
        dialog.HtmlUrlEdit()->setText(QStringLiteral("http://old.example/"));
        dialog.DescriptionEdit()->setText(QStringLiteral("old description"));
    }
    // No file of the fetch may stay behind in the private temporary folder.
    int TemporaryLeftovers() const
    {
        const QDir folder(QString::fromStdString(environment.RuntimeFolder() + "/corvane"));
        return static_cast<int>(
            folder.entryList({QStringLiteral("NEW*")}, QDir::AllEntries | QDir::Hidden).size());
    }

    PrivateEnvironment environment;
    ScriptedPrompts prompts;
    TestServer server;
    CChannelProp dialog;
};

TEST_F(AutoRetrieveTest, FillsTrimmedFieldsFromTheFeed)
{
    server.Serve("/feed.xml",
        "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel>"
        "<title>\n\t  Example Feed \r\n</title><link>  http://example.org/  </link>"
        "<description>\tAll the news\t</description>"
        "<item><title>one</title></item></channel></rss>",
        "application/rss+xml");
    Prefill();
    Retrieve(server.Url("/feed.xml"));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("Example Feed"));
    EXPECT_EQ(dialog.HtmlUrlEdit()->text(), QStringLiteral("http://example.org/"));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), QStringLiteral("All the news"));
    EXPECT_EQ(server.Hits("/feed.xml"), 1);
    // A fresh download, never a conditional request against a placeholder file.
    const auto headers = server.RequestHeaders("/feed.xml");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].count("If-Modified-Since"), 0u);
    EXPECT_EQ(TemporaryLeftovers(), 0);
    EXPECT_EQ(dialog.cursor().shape(), Qt::ArrowCursor); // the busy cursor is gone
}

TEST_F(AutoRetrieveTest, AFeedWithoutDescriptionClearsTheField)
{
    server.Serve("/plain.xml", "<rss><channel><title>Only a title</title></channel></rss>");
    Prefill();
    Retrieve(server.Url("/plain.xml"));
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("Only a title"));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), QString());
    EXPECT_EQ(dialog.HtmlUrlEdit()->text(), QString());
}

TEST_F(AutoRetrieveTest, NotFoundShowsTheFailureAndKeepsTheFields)
{
    Prefill();
    const std::string address = server.Url("/missing.xml");
    Retrieve(address);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(prompts.messages[0].text.startsWith(
        QStringLiteral("Failed to get %1, please check the URL and the Internet connection.")
            .arg(QString::fromStdString(address))))
        << prompts.messages[0].text.toStdString();
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("404")))
        << prompts.messages[0].text.toStdString();
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("old title"));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), QStringLiteral("old description"));
    EXPECT_EQ(TemporaryLeftovers(), 0);
}

TEST_F(AutoRetrieveTest, ADocumentThatIsNoFeedIsSaidAndKeepsTheFields)
{
    server.Serve("/page.html", "<html><body><p>Hello</p></body></html>", "text/html");
    server.Serve("/text", "Just text", "text/plain");
    for (const char* path : {"/page.html", "/text"}) {
        prompts.messages.clear();
        Prefill();
        Retrieve(server.Url(path));
        ASSERT_EQ(prompts.messages.size(), 1u) << path;
        EXPECT_TRUE(prompts.messages[0].text.startsWith(
            QString::fromStdString(server.Url(path) + " is not a feed: the document is")))
            << prompts.messages[0].text.toStdString();
        EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("old title"));
        EXPECT_EQ(dialog.HtmlUrlEdit()->text(), QStringLiteral("http://old.example/"));
        EXPECT_EQ(dialog.DescriptionEdit()->text(), QStringLiteral("old description"));
    }
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
}

TEST_F(AutoRetrieveTest, AWebsiteOffersItsAnnouncedFeedsAndFillsXmlUrlWithThePickedOne)
{
    const auto link = [](const char* type, const char* href) {
        return std::string("<link rel=\"alternate\" type=\"application/") + type + "+xml\" href=\""
            + href + "\">";
    };
    server.Serve("/one/", "<html><head>" + link("rss", "a.xml") + "</head></html>", "text/html");
    server.Serve("/two/",
        "<html><head>" + link("rss", "/one/a.xml") + link("atom", "/b.atom") + "</head></html>",
        "text/html");
    server.Serve("/one/a.xml", "<rss><channel><title>A</title></channel></rss>");
    server.Serve("/b.atom",
        "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>B</title><subtitle>Bs</subtitle>"
        "</feed>");
    // One announced feed: taken without asking.
    Retrieve(server.Url("/one/"));
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
    EXPECT_EQ(dialog.XmlUrlEdit()->text().toStdString(), server.Url("/one/a.xml"));
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("A"));

    // Several: the chooser lists them; the second is picked, then retrieved.
    int listed = 0;
    prompts.answerDialog = [&listed](QDialog& shown) {
        auto* chooser = dynamic_cast<CDlgFeedChooser*>(&shown);
        if (!chooser)
            return 2;
        listed = chooser->List()->count();
        chooser->List()->setCurrentRow(1);
        return 1;
    };
    Retrieve(server.Url("/two/"));
    WaitForRetrieve(); // the picked feed's fetch
    EXPECT_EQ(listed, 2);
    EXPECT_EQ(dialog.XmlUrlEdit()->text().toStdString(), server.Url("/b.atom"));
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("B"));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), QStringLiteral("Bs"));

    // Cancel in the chooser changes nothing.
    prompts.answerDialog = [](QDialog&) { return 2; };
    Prefill();
    Retrieve(server.Url("/two/"));
    EXPECT_FALSE(dialog.Retrieving());
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("old title"));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(AutoRetrieveTest, RunsOnAWorkerAndTheButtonCancelsIt)
{
    server.Serve("/slow.xml", "<rss><channel><title>Late</title></channel></rss>");
    server.SetDelay("/slow.xml", std::chrono::milliseconds(3000));
    Prefill();
    dialog.XmlUrlEdit()->setText(QString::fromStdString(server.Url("/slow.xml")));
    dialog.OnAutoRetrieve();
    // The call returned at once: the fetch runs on and the button offers to stop it.
    EXPECT_TRUE(dialog.Retrieving());
    EXPECT_EQ(dialog.AutoRetrieveButton()->text(), QStringLiteral("Stop"));
    QApplication::processEvents();
    dialog.AutoRetrieveButton()->click();
    EXPECT_FALSE(dialog.Retrieving());
    EXPECT_EQ(dialog.AutoRetrieveButton()->text(), QStringLiteral("Auto Retrieve"));
    QApplication::processEvents();
    EXPECT_TRUE(prompts.messages.empty()); // a cancel is no failure to report
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("old title"));
    EXPECT_EQ(TemporaryLeftovers(), 0);
}

TEST_F(AutoRetrieveTest, WhatTheUserTypesDuringTheFetchIsKept)
{
    server.Serve("/feed.xml",
        "<rss><channel><title>Fetched title</title><link>http://fetched.example/</link>"
        "<description>Fetched description</description></channel></rss>");
    Prefill();
    const QString address = QString::fromStdString(server.Url("/feed.xml"));
    dialog.XmlUrlEdit()->setText(address);
    dialog.OnAutoRetrieve();
    // The outcome arrives queued, so these edits come before it, as typing during the fetch.
    dialog.TitleEdit()->setText(QStringLiteral("Typed title"));
    dialog.XmlUrlEdit()->setText(address + QStringLiteral("?edited"));
    WaitForRetrieve();
    EXPECT_EQ(dialog.TitleEdit()->text(), QStringLiteral("Typed title"));
    EXPECT_EQ(dialog.XmlUrlEdit()->text(), address + QStringLiteral("?edited"));
    EXPECT_EQ(dialog.HtmlUrlEdit()->text(), QStringLiteral("http://fetched.example/"));
    EXPECT_EQ(dialog.DescriptionEdit()->text(), QStringLiteral("Fetched description"));
    dialog.accept();
    EXPECT_EQ(dialog.title, "Typed title");
    EXPECT_EQ(dialog.description, "Fetched description");
}

TEST(Dialogs, OkRefusesAFeedWithoutAddress)
{
    ScriptedPrompts prompts;
    for (const QString& address : {QString(), QStringLiteral("  \t ")}) {
        CChannelProp dialog;
        dialog.TitleEdit()->setText(QStringLiteral("No address"));
        dialog.XmlUrlEdit()->setText(address);
        dialog.accept();
        EXPECT_NE(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.title, ""); // nothing was taken over
    }
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("XML URL")));
}

TEST(Dialogs, MessagesFromTheCoreReadAsSentences)
{
    const std::pair<QString, QString> cases[]
        = {{"cannot write x: no space", "Cannot write x: no space"},
            {"Failed to get a.\n\ncould not connect", "Failed to get a.\n\nCould not connect"},
            {"/tmp/x: gone", "/tmp/x: gone"}, {"one\ntwo", "One\ntwo"}, {"", ""},
            {"  \u00e9chec", "  \u00c9chec"}};
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(Capitalized(text), expected) << text.toStdString();
}

TEST_F(AutoRetrieveTest, ClosingTheDialogStopsTheFetch)
{
    server.Serve("/slow.xml", "<rss><channel><title>Late</title></channel></rss>");
    server.SetDelay("/slow.xml", std::chrono::milliseconds(3000));
    dialog.XmlUrlEdit()->setText(QString::fromStdString(server.Url("/slow.xml")));
    dialog.OnAutoRetrieve();
    ASSERT_TRUE(dialog.Retrieving());
    dialog.reject();
    EXPECT_FALSE(dialog.Retrieving());
    QApplication::processEvents();
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(TemporaryLeftovers(), 0);
}

TEST_F(AutoRetrieveTest, AddressCheckComesBeforeAnyFetch)
{
    Retrieve("http://"); // the initial text: 7 characters
    Retrieve("ftp://example.org/feed.xml"); // long enough, but no http
    ASSERT_EQ(prompts.messages.size(), 2u);
    for (const auto& message : prompts.messages) {
        EXPECT_EQ(message.caption, QStringLiteral("Error"));
        EXPECT_EQ(message.text, QStringLiteral("Please enter a valid URL."));
    }
    EXPECT_TRUE(CChannelProp::LooksLikeAddress("feed:http://x.example/"));
    EXPECT_TRUE(CChannelProp::LooksLikeAddress("https://x.example/"));
    EXPECT_FALSE(CChannelProp::LooksLikeAddress("http://x."));
}

} // namespace

// The controls show the feed's choices, OK gives back what they hold (each "As the global
// setting" as unset), and the episode list is judged with the choices as they are being edited.
TEST(Dialogs, FeedOptionsRoundTripAndTheListFollowsTheEditedChoices)
{
    CDlgFeedOptions dialog;
    dialog.address = "http://a/feed";
    dialog.options = FeedOptions {false, 3, FeedAudio::Amr};
    std::vector<FeedOptions> asked;
    dialog.listEpisodes = [&asked](const FeedOptions& options) {
        asked.push_back(options);
        FeedEpisodes feed;
        EpisodeRow row;
        row.title = "Episode";
        row.verdict = options.podcast == std::optional<bool>(false) ? EpisodeVerdict::PodcastsOff
                                                                    : EpisodeVerdict::Taken;
        feed.episodes.push_back(row);
        return feed;
    };
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.PodcastCombo()->currentIndex(), 2);
    EXPECT_EQ(dialog.NewestSpin()->value(), 3);
    EXPECT_EQ(dialog.AudioCombo()->currentIndex(), 2);
    ASSERT_EQ(dialog.EpisodeList()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.EpisodeList()->topLevelItem(0)->text(4),
        QStringLiteral("podcasts off for this feed"));

    dialog.PodcastCombo()->setCurrentIndex(0);
    ASSERT_FALSE(asked.empty());
    EXPECT_FALSE(asked.back().podcast.has_value());
    EXPECT_EQ(dialog.EpisodeList()->topLevelItem(0)->text(4), QStringLiteral("taken"));
    dialog.NewestSpin()->setValue(-1);
    dialog.AudioCombo()->setCurrentIndex(1);
    dialog.accept();
    EXPECT_EQ(dialog.options, (FeedOptions {std::nullopt, std::nullopt, FeedAudio::Mp3}));

    // Channel Properties offers the choices only for a feed that has them to open.
    CChannelProp channel;
    channel.show();
    QApplication::processEvents();
    EXPECT_FALSE(channel.FeedOptionsButton()->isVisible());
    int opened = 0;
    CChannelProp existing;
    existing.onFeedOptions = [&opened] { ++opened; };
    existing.show();
    QApplication::processEvents();
    ASSERT_TRUE(existing.FeedOptionsButton()->isVisible());
    existing.FeedOptionsButton()->click();
    EXPECT_EQ(opened, 1);
    EXPECT_LE(existing.FeedOptionsButton()->geometry().right(),
        Button(existing, QStringLiteral("OK"))->geometry().left());
}
