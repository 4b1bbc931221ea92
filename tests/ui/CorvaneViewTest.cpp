// The subscription tree view: marks, menus and their enablement, double clicks, keys, the Edit
// commands, OPML import and export, the update commands. Drag and drop: TreeDragTest.cpp.
#include "ViewFixture.h"

#include "platform/Paths.h"
#include "platform/Settings.h"
#include "support/TempDir.h"
#include "ui/CommandIds.h"
#include "ui/DlgFeedOptions.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>

#include <gtest/gtest.h>

using namespace corvane;

namespace {

TEST_F(ViewTest, InitialTreeIsExpandedWithNothingSelectedAndEverythingUnmarked)
{
    ASSERT_TRUE(Find("My Subscriptions").isValid());
    EXPECT_FALSE(view->SelectedItem().isValid());
    for (const char* title : {"My Subscriptions", "News", "Alpha Daily", "Inner Feed"})
        EXPECT_EQ(Mark(title), MARK_UNCHECKED) << title;
    EXPECT_TRUE(view->ScheduleTimer().isActive());
    EXPECT_EQ(view->ScheduleTimer().interval(), 1000);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(environment.Home() + "/data")));
}

TEST_F(ViewTest, TheStateOutlivesItsViewAndANewViewShowsTheSameTree)
{
    ClickMark("Weather");
    view->setCurrentIndex(Find("Alpha Daily"));
    ASSERT_TRUE(view->OnCommand(CommandId::EDIT_CUT));
    view.reset();
    EXPECT_EQ(state.Subscriptions().BackupCount(), 1u);

    view = std::make_unique<CCorvaneView>(state);
    EXPECT_EQ(&view->Subscriptions(), &state.Subscriptions());
    EXPECT_EQ(&view->UpdateController(), &state.UpdateController());
    EXPECT_EQ(Mark("Weather"), MARK_CHECKED);
    EXPECT_EQ(Node("Alpha Daily"), nullptr);
    EXPECT_TRUE(view->CommandEnabled(CommandId::EDIT_UNDO).value_or(false));
    view->OnCommand(CommandId::EDIT_UNDO);
    EXPECT_NE(Node("Alpha Daily"), nullptr);
}

TEST_F(ViewTest, HitTestTellsStateImageIconAndLabelApart)
{
    const QModelIndex news = Find("News");
    EXPECT_EQ(
        view->HitTest(view->StateImageRect(news).center()).part, CCorvaneView::HitPart::StateImage);
    EXPECT_EQ(view->HitTest(view->IconRect(news).center()).part, CCorvaneView::HitPart::Icon);
    EXPECT_EQ(view->HitTest(view->LabelRect(news).center()).part, CCorvaneView::HitPart::Label);
    EXPECT_EQ(
        view->HitTest(QPoint(5, Viewport()->height() - 3)).part, CCorvaneView::HitPart::Nowhere);
}

TEST_F(ViewTest, MarkClicksFollowChildrenUpAndDown)
{
    ClickMark("Alpha Daily");
    EXPECT_EQ(Mark("Alpha Daily"), MARK_CHECKED);
    EXPECT_EQ(Mark("News"), MARK_MIXED);
    EXPECT_EQ(Mark("My Subscriptions"), MARK_MIXED);

    ClickMark("Beta Times");
    EXPECT_EQ(Mark("News"), MARK_CHECKED);
    EXPECT_EQ(Mark("My Subscriptions"), MARK_MIXED); // the other groups are unmarked

    ClickMark("News"); // a checked group: unmarks its whole subtree
    EXPECT_EQ(Mark("Alpha Daily"), MARK_UNCHECKED);
    EXPECT_EQ(Mark("Beta Times"), MARK_UNCHECKED);
    EXPECT_EQ(Mark("News"), MARK_UNCHECKED);
    EXPECT_EQ(Mark("My Subscriptions"), MARK_UNCHECKED);

    ClickMark("Inner Feed"); // mixed reaches up two levels; a mixed group's click unmarks
    EXPECT_EQ(Mark("Deep"), MARK_CHECKED);
    EXPECT_EQ(Mark("Podcasts"), MARK_MIXED);
    ClickMark("Podcasts"); // mixed: unmarks everything below
    EXPECT_EQ(Mark("Podcasts"), MARK_UNCHECKED);
    EXPECT_EQ(Mark("Inner Feed"), MARK_UNCHECKED);
    ClickMark("Podcasts"); // unchecked: marks everything below
    EXPECT_EQ(Mark("Science Hour"), MARK_CHECKED);
    EXPECT_EQ(Mark("Inner Feed"), MARK_CHECKED);
    EXPECT_EQ(view->Subscriptions().BackupCount(), 0u); // marks are never saved
}

TEST_F(ViewTest, ClickOnLabelSelectsWithoutMarking)
{
    SendMouse(Viewport(), QEvent::MouseButtonPress, LabelPoint("Weather"));
    SendMouse(Viewport(), QEvent::MouseButtonRelease, LabelPoint("Weather"), Qt::LeftButton,
        Qt::NoButton);
    EXPECT_EQ(view->SelectedItem(), Find("Weather"));
    EXPECT_EQ(Mark("Weather"), MARK_UNCHECKED);
}

TEST_F(ViewTest, EditCommandsFollowSelectionClipboardAndBackups)
{
    using namespace CommandId;
    auto enabled = [this](int id) { return view->CommandEnabled(id).value_or(false); };
    // Nothing selected.
    EXPECT_FALSE(enabled(EDIT_CUT));
    EXPECT_FALSE(enabled(EDIT_COPY));
    EXPECT_FALSE(enabled(EDIT_PASTE));
    EXPECT_FALSE(enabled(EDIT_UNDO));
    EXPECT_FALSE(enabled(REPACK));
    EXPECT_TRUE(enabled(UPDATE_ALL));
    EXPECT_FALSE(view->CommandEnabled(PARSE).has_value());

    view->setCurrentIndex(Find("My Subscriptions"));
    EXPECT_FALSE(enabled(EDIT_CUT)); // the root has no parent
    EXPECT_FALSE(enabled(EDIT_PASTE)); // no clipboard yet

    view->setCurrentIndex(Find("Alpha Daily"));
    EXPECT_TRUE(enabled(EDIT_CUT));
    EXPECT_TRUE(enabled(EDIT_COPY));
    EXPECT_TRUE(view->OnCommand(EDIT_COPY));
    EXPECT_FALSE(enabled(EDIT_PASTE)); // a feed takes no paste

    view->setCurrentIndex(Find("Podcasts"));
    EXPECT_TRUE(enabled(EDIT_PASTE));
    EXPECT_TRUE(view->OnCommand(EDIT_PASTE));
    EXPECT_EQ(
        Children("Podcasts"), (std::vector<std::string> {"Science Hour", "Deep", "Alpha Daily"}));
    EXPECT_TRUE(enabled(EDIT_UNDO));
    EXPECT_EQ(view->Subscriptions().BackupCount(), 1u);
}

TEST_F(ViewTest, ItemMenuEnablementOnFeedGroupAndRoot)
{
    std::map<QString, bool> states;
    auto capture = [&states](QMenu& menu) {
        states = Enablement(menu);
        return nullptr;
    };
    RightClick(LabelPoint("Alpha Daily"), capture);
    EXPECT_EQ(view->ContextItem(), Find("Alpha Daily"));
    EXPECT_EQ(view->SelectedItem(), Find("Alpha Daily"));
    EXPECT_FALSE(states["&Group"]);
    EXPECT_FALSE(states["&Feed"]);
    EXPECT_FALSE(states["&Paste"]);
    EXPECT_TRUE(states["Cu&t"]);
    EXPECT_TRUE(states["&Copy"]);
    EXPECT_TRUE(states["&Delete"]);
    EXPECT_TRUE(states["Propert&ies"]);
    EXPECT_TRUE(states["&Sort By Name"]);

    RightClick(LabelPoint("News"), capture);
    EXPECT_TRUE(states["&Group"]);
    EXPECT_TRUE(states["&Feed"]);
    EXPECT_FALSE(states["&Paste"]); // no clipboard

    view->Subscriptions().Copy(Node("Weather"));
    RightClick(LabelPoint("News"), capture);
    EXPECT_TRUE(states["&Paste"]);

    RightClick(LabelPoint("My Subscriptions"), capture);
    EXPECT_FALSE(states["Cu&t"]);
    EXPECT_FALSE(states["&Copy"]);
    EXPECT_FALSE(states["&Delete"]);
    EXPECT_FALSE(states["Propert&ies"]);
    EXPECT_TRUE(states["&Paste"]);
    EXPECT_TRUE(states["&Sort By Name"]);
}

TEST_F(ViewTest, RightClickOnEmptyAreaOffersOnlyNewAndAddsUnderRoot)
{
    QStringList topLevel;
    AnswerWith("Fresh Group");
    RightClick(QPoint(200, Viewport()->height() - 5), [&topLevel](QMenu& menu) {
        for (QAction* action : menu.actions())
            topLevel << action->text();
        return FindAction(menu, QStringLiteral("&Group"));
    });
    EXPECT_EQ(topLevel, QStringList {QStringLiteral("&New")});
    EXPECT_FALSE(view->SelectedItem().isValid());
    EXPECT_EQ(Children("My Subscriptions"),
        (std::vector<std::string> {"News", "Podcasts", "Weather", "Fresh Group"}));
    EXPECT_EQ(prompts.dialogsRun, QStringList {QStringLiteral("CDlgGroupProp")});
}

TEST_F(ViewTest, NewFeedWithDefaultsKeepsHttpAddressesAndCancelAddsNothing)
{
    view->SetContextItem(Find("News"));
    prompts.answerDialog = [](QDialog& dialog) {
        dialog.accept();
        return 1;
    };
    view->OnNewFeed();
    COutlineItem* added = Node("News")->LastChild();
    ASSERT_NE(added, Node("Beta Times"));
    EXPECT_EQ(added->xmlurl.value_or("?"), "http://");
    EXPECT_EQ(added->htmlurl.value_or("?"), "http://");
    EXPECT_FALSE(added->title.has_value());

    prompts.answerDialog = nullptr; // Cancel
    view->OnNewGroup();
    EXPECT_EQ(Node("News")->LastChild(), added);
    EXPECT_EQ(view->Subscriptions().BackupCount(), 1u);
}

TEST_F(ViewTest, DoubleClickOpensPropertiesOnlyForChildlessItems)
{
    SendMouse(Viewport(), QEvent::MouseButtonDblClick, LabelPoint("Weather"));
    EXPECT_EQ(prompts.dialogsRun, QStringList {QStringLiteral("CChannelProp")});
    EXPECT_EQ(view->ContextItem(), Find("Weather"));

    prompts.dialogsRun.clear();
    const bool wasExpanded = view->isExpanded(Find("News"));
    SendMouse(Viewport(), QEvent::MouseButtonPress, LabelPoint("News"));
    SendMouse(
        Viewport(), QEvent::MouseButtonRelease, LabelPoint("News"), Qt::LeftButton, Qt::NoButton);
    SendMouse(Viewport(), QEvent::MouseButtonDblClick, LabelPoint("News"));
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
    EXPECT_NE(view->isExpanded(Find("News")), wasExpanded);
}

TEST_F(ViewTest, PropertiesKeepFieldsLeftEmptyAndRenameTheItem)
{
    COutlineItem* alpha = Node("Alpha Daily");
    alpha->description = "old description";
    view->SetContextItem(Find("Alpha Daily"));
    QString shownUrl;
    prompts.answerDialog = [&shownUrl](QDialog& dialog) {
        auto& channel = dynamic_cast<CChannelProp&>(dialog);
        shownUrl = channel.XmlUrlEdit()->text();
        channel.TitleEdit()->setText(QStringLiteral("Alpha Ünïcode"));
        channel.DescriptionEdit()->clear();
        dialog.accept();
        return 1;
    };
    view->OnProperties();
    EXPECT_EQ(shownUrl, QStringLiteral("http://alpha.example/rss"));
    EXPECT_EQ(alpha->title.value_or(""),
        "Alpha \xC3\x9Cn\xC3\xAF"
        "code"); // stored as UTF-8
    EXPECT_EQ(alpha->description.value_or(""), "old description");
    EXPECT_EQ(Find("Alpha Ünïcode").data().toString(), QStringLiteral("Alpha Ünïcode"));
}

TEST_F(ViewTest, DeleteKeyAsksAndShiftDeleteReleaseDoesNot)
{
    view->setCurrentIndex(Find("Weather"));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &release); // Cancel
    EXPECT_EQ(prompts.dialogsRun, QStringList {QStringLiteral("CDlgDeleteConfirm")});
    ASSERT_NE(Node("Weather"), nullptr);

    prompts.answerDialog = [](QDialog&) { return 1; };
    QApplication::sendEvent(view.get(), &release);
    EXPECT_EQ(Node("Weather"), nullptr);
    EXPECT_EQ(view->Subscriptions().BackupCount(), 1u);

    // The release of Shift+Delete (the Cut keys) must not delete whatever is selected next.
    prompts.dialogsRun.clear();
    view->setCurrentIndex(Find("Alpha Daily"));
    QKeyEvent shiftRelease(QEvent::KeyRelease, Qt::Key_Delete, Qt::ShiftModifier);
    QApplication::sendEvent(view.get(), &shiftRelease);
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
    EXPECT_NE(Node("Alpha Daily"), nullptr);

    // The root is never deleted by the key.
    view->setCurrentIndex(Find("My Subscriptions"));
    QApplication::sendEvent(view.get(), &release);
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
}

TEST_F(ViewTest, CutThenPasteTwiceMakesTwoCopiesAndThreeBackups)
{
    view->setCurrentIndex(Find("Weather"));
    ASSERT_TRUE(view->OnCommand(CommandId::EDIT_CUT));
    EXPECT_EQ(Node("Weather"), nullptr);
    view->SetContextItem(Find("News"));
    view->OnPaste();
    view->SetContextItem(Find("Deep"));
    view->OnPaste();
    EXPECT_EQ(
        Children("News"), (std::vector<std::string> {"Alpha Daily", "Beta Times", "Weather"}));
    EXPECT_EQ(Children("Deep"), (std::vector<std::string> {"Inner Feed", "Weather"}));
    EXPECT_NE(Node("News")->LastChild(), Node("Deep")->LastChild());
    EXPECT_EQ(view->Subscriptions().BackupCount(), 3u);

    // Undo walks back one save at a time.
    view->OnCommand(CommandId::EDIT_UNDO);
    EXPECT_EQ(Children("Deep"), (std::vector<std::string> {"Inner Feed"}));
    EXPECT_EQ(view->Subscriptions().BackupCount(), 2u);
    view->OnCommand(CommandId::EDIT_UNDO);
    view->OnCommand(CommandId::EDIT_UNDO);
    EXPECT_NE(Node("Weather"), nullptr);
    EXPECT_EQ(Node("Weather")->parent, Node("My Subscriptions"));
    EXPECT_FALSE(view->CommandEnabled(CommandId::EDIT_UNDO).value_or(true));
    EXPECT_TRUE(view->isExpanded(view->Model().RootIndex()));
}

TEST_F(ViewTest, SortByNameFromAFeedSortsItsSiblings)
{
    Node("Alpha Daily")->title = "gamma";
    Node("Beta Times")->title = "Beta";
    view->SetContextItem(Find("gamma"));
    view->OnSortByName();
    EXPECT_EQ(Children("News"), (std::vector<std::string> {"Beta", "gamma"}));
    view->SetContextItem(Find("Weather"));
    view->OnSortByName();
    EXPECT_EQ(
        Children("My Subscriptions"), (std::vector<std::string> {"News", "Podcasts", "Weather"}));
}

// --- OPML import and export, Send To, Help, updates ------------------------------------------

TEST_F(ViewTest, ImportCancelledAtEitherStepChangesNothing)
{
    const std::string before = ReadWholeFile(environment.ChannelsFile());
    const std::string opml = environment.Folder().Write(
        "import.opml", "<opml><body><outline title=\"Only\" xmlUrl=\"http://o/\"/></body></opml>");
    prompts.openFileAnswer.clear();
    view->OnImportOpml();
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
    EXPECT_EQ(prompts.lastDefaultSuffix, QStringLiteral("opml"));
    EXPECT_TRUE(prompts.lastFilter.contains(QStringLiteral("*.opml *.xml")));

    prompts.openFileAnswer = QString::fromStdString(opml);
    view->OnImportOpml(); // the confirmation is cancelled
    EXPECT_EQ(prompts.dialogsRun, QStringList {QStringLiteral("CDlgImportConfirm")});
    EXPECT_NE(Node("News"), nullptr);
    EXPECT_EQ(ReadWholeFile(environment.ChannelsFile()), before);
    EXPECT_EQ(view->Subscriptions().BackupCount(), 0u);
}

TEST_F(ViewTest, ImportConfirmedReplacesTreeAndClearsRepackable)
{
    view->Subscriptions().SetRepackable(1);
    ClickMark("Weather");
    prompts.openFileAnswer = QString::fromStdString(environment.Folder().Write("import.opml",
        "<opml><body><outline title=\"Imported\"><outline title=\"One\" xmlUrl=\"http://one/\"/>"
        "</outline></body></opml>"));
    prompts.answerDialog = [](QDialog&) { return 1; };
    view->OnImportOpml();
    EXPECT_EQ(Node("News"), nullptr);
    EXPECT_EQ(Children("Imported"), (std::vector<std::string> {"One"}));
    EXPECT_EQ(view->SelectedItem(), view->Model().RootIndex());
    EXPECT_EQ(Mark("My Subscriptions"), MARK_UNCHECKED);
    EXPECT_EQ(view->Subscriptions().Repackable(), 0);
    EXPECT_EQ(LoadSettings().repackable, 0);
    EXPECT_NE(ReadWholeFile(environment.ChannelsFile()).find("Imported"), std::string::npos);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ViewTest, ImportOfAnEmptyBodyTellsNoFeedWasFound)
{
    prompts.openFileAnswer = QString::fromStdString(
        environment.Folder().Write("empty.opml", "<opml><head/><body></body></opml>"));
    prompts.answerDialog = [](QDialog&) { return 1; };
    view->OnImportOpml();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].caption, QStringLiteral("Error"));
    EXPECT_EQ(prompts.messages[0].text,
        QStringLiteral("No feed was found in the input file. Please check it."));
    EXPECT_EQ(prompts.messages[0].icon, QMessageBox::Warning);
    EXPECT_NE(Node("News"), nullptr);

    // A file that does not exist gives the same message.
    prompts.openFileAnswer = QString::fromStdString(environment.Folder().File("missing.opml"));
    view->OnImportOpml();
    EXPECT_EQ(prompts.messages.size(), 2u);
}

TEST_F(ViewTest, ExportWritesTheTreeAndReportsAFileItCannotWrite)
{
    prompts.saveFileAnswer = QString::fromStdString(environment.Folder().File("out.xml"));
    view->OnExportOpml();
    EXPECT_EQ(prompts.lastDefaultSuffix, QStringLiteral("xml"));
    EXPECT_NE(
        ReadWholeFile(environment.Folder().File("out.xml")).find("Inner Feed"), std::string::npos);
    EXPECT_TRUE(prompts.messages.empty());

    prompts.saveFileAnswer
        = QString::fromStdString(environment.Folder().File("no/such/folder/out.xml"));
    view->OnExportOpml();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].caption, QStringLiteral("Error"));
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("out.xml")));
}

TEST_F(ViewTest, ExportOffersOpml2AsTheSecondFilter)
{
    prompts.saveFileAnswer = QString::fromStdString(environment.Folder().File("first.xml"));
    view->OnExportOpml();
    EXPECT_EQ(prompts.lastFilter,
        QStringLiteral("OPML Files (*.xml);;OPML 2.0 for other programs (*.opml)"));
    // The first entry is the default and writes the channels file's form.
    EXPECT_EQ(
        ReadWholeFile(environment.Folder().File("first.xml"))
            .rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<opml version=\"1.0\">\r\n", 0),
        0u);

    prompts.saveFileAnswer = QString::fromStdString(environment.Folder().File("other.opml"));
    prompts.saveFilterAnswer = QStringLiteral("OPML 2.0 for other programs (*.opml)");
    view->OnExportOpml();
    const std::string text = ReadWholeFile(environment.Folder().File("other.opml"));
    EXPECT_NE(text.find("<opml version=\"2.0\">"), std::string::npos);
    EXPECT_NE(text.find("text=\"Inner Feed\" title=\"Inner Feed\" type=\"rss\""), std::string::npos)
        << text;
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ViewTest, MergeAddsNewFeedsWithoutAskingAndSaysHowMany)
{
    prompts.openFileAnswer = QString::fromStdString(environment.Folder().Write("merge.opml",
        "<opml><body><outline text=\"News\"><outline text=\"Gamma\" xmlUrl=\"http://gamma/\"/>"
        "</outline><outline text=\"Again\" xmlUrl=\"http://weather.example/rss\"/></body></opml>"));
    const std::uint32_t count = view->Subscriptions().BackupCount();
    view->OnMergeOpml();
    EXPECT_TRUE(prompts.dialogsRun.isEmpty());
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(
        prompts.messages[0].text, QStringLiteral("Added 1 feed, skipped 1 already subscribed."));
    EXPECT_EQ(prompts.messages[0].icon, QMessageBox::Information);
    const std::vector<std::string> news = Children("News");
    ASSERT_FALSE(news.empty());
    EXPECT_EQ(news.back(), "Gamma");
    EXPECT_NE(Node("Weather"), nullptr);
    EXPECT_EQ(view->Subscriptions().BackupCount(), count + 1);

    prompts.openFileAnswer = QString::fromStdString(
        environment.Folder().Write("none.opml", "<opml><body></body></opml>"));
    view->OnMergeOpml();
    ASSERT_EQ(prompts.messages.size(), 2u);
    EXPECT_EQ(prompts.messages[1].text,
        QStringLiteral("No feed was found in the input file. Please check it."));
}

TEST_F(ViewTest, SendToWithoutPackageWarnsAndWithPackageShowsTheMenu)
{
    QString shownFor;
    host->showSendTo = [&shownFor](const QString& path, const QPoint&) { shownFor = path; };
    view->OnSendTo();
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(prompts.messages[0].text,
        QStringLiteral("The updated feeds file does not exist. Please update feeds first."));
    EXPECT_TRUE(shownFor.isEmpty());

    const std::string package = environment.Folder().Write("corvane.mrf", "package");
    CorvaneSettings options = view->Subscriptions().Settings();
    options.outputPath = package;
    view->Subscriptions().ApplyOptions(options);
    view->OnSendTo();
    EXPECT_EQ(shownFor, QString::fromStdString(package));
    EXPECT_EQ(prompts.messages.size(), 1u);
}

TEST_F(ViewTest, HelpOpensTheProgramsOwnHelpPage)
{
    QUrl opened;
    host->openUrl = [&opened](const QUrl& url) {
        opened = url;
        return true;
    };
    view->OnCommand(CommandId::HELP_CONTENTS);
    EXPECT_TRUE(opened.isLocalFile());
    EXPECT_TRUE(opened.toLocalFile().endsWith(QStringLiteral("help/index.html")));
    EXPECT_TRUE(QFileInfo::exists(opened.toLocalFile()));
}

TEST_F(ViewTest, HelpWithoutALauncherNamesTheHelpFile)
{
    host->openUrl = [](const QUrl&) { return false; };
    view->OnCommand(CommandId::HELP_CONTENTS);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_TRUE(prompts.messages[0].text.contains(QStringLiteral("help/index.html")))
        << prompts.messages[0].text.toStdString();
}

TEST_F(ViewTest, UpdateCommandsThatFindNothingSaySoInTheStatusBar)
{
    std::vector<UpdateRequest> started;
    host->runUpdate = [&started](const UpdateRequest& request) { started.push_back(request); };
    view->Subscriptions().NewGroup(Node("My Subscriptions"), "Empty", "");
    const struct {
        const char* select; // nothing when null
        int command;
        const char* said;
    } cases[] = {{nullptr, CommandId::UPDATE_MARKED, "No feed is marked"},
        {nullptr, CommandId::UPDATE_CURRENT, "No feed or group is selected"},
        {"Empty", CommandId::UPDATE_CURRENT, "The selected group holds no feed"}};
    for (const auto& test : cases) {
        host->statusTexts.clear();
        if (test.select)
            view->setCurrentIndex(Find(test.select));
        else
            view->clearSelection();
        view->OnCommand(test.command);
        ASSERT_EQ(host->statusTexts.size(), 1) << test.said;
        EXPECT_TRUE(host->statusTexts[0].startsWith(QString::fromLatin1(test.said)))
            << host->statusTexts[0].toStdString();
    }
    EXPECT_TRUE(started.empty());
    view->setCurrentIndex(Find("Weather"));
    host->statusTexts.clear();
    view->OnCommand(CommandId::UPDATE_CURRENT);
    EXPECT_EQ(started.size(), 1u);
    EXPECT_TRUE(host->statusTexts.isEmpty());
}

TEST_F(ViewTest, ShiftF10AndTheMenuKeyOpenTheSelectedItemsMenu)
{
    enum class Key { ShiftF10, MenuKey };
    const struct {
        Key key;
        const char* selected; // nothing when null
        bool itemMenu;
    } cases[] = {{Key::ShiftF10, "Beta Times", true}, {Key::MenuKey, "Podcasts", true},
        {Key::ShiftF10, nullptr, false}, {Key::MenuKey, nullptr, false}};
    for (const auto& test : cases) {
        if (test.selected)
            view->setCurrentIndex(Find(test.selected));
        else
            view->clearSelection();
        bool shown = false;
        QPoint shownAt;
        host->execMenu = [&](QMenu& menu, const QPoint& at) {
            shown = true;
            shownAt = at;
            EXPECT_EQ(FindAction(menu, QStringLiteral("Propert&ies")) != nullptr, test.itemMenu);
            return FindAction(menu, QStringLiteral("&Copy"));
        };
        if (test.key == Key::ShiftF10) {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
            QApplication::sendEvent(view.get(), &press);
        } else {
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
            QApplication::sendEvent(view.get(), &menu);
        }
        ASSERT_TRUE(shown);
        const QModelIndex expected
            = test.selected ? Find(test.selected) : view->Model().RootIndex();
        EXPECT_EQ(view->ContextItem(), expected);
        if (test.selected) {
            // Below the item's label, where the keyboard user looks.
            EXPECT_EQ(shownAt, Viewport()->mapToGlobal(view->LabelRect(expected).bottomLeft()));
        }
    }
    // The Copy chosen from the last item menu copied that item: Paste on a group now works.
    view->setCurrentIndex(Find("News"));
    EXPECT_TRUE(view->CommandEnabled(CommandId::EDIT_PASTE).value_or(false));
}

TEST_F(ViewTest, EditStatesFollowAMouseClickAtOnce)
{
    int changes = 0;
    bool pasteEnabled = false;
    QObject::connect(view.get(), &CCorvaneView::commandStatesChanged, [&] {
        ++changes;
        pasteEnabled = view->CommandEnabled(CommandId::EDIT_PASTE).value_or(false);
    });
    view->Subscriptions().Copy(Node("Weather"));
    for (const char* group : {"News", "Podcasts"}) {
        SendMouse(Viewport(), QEvent::MouseButtonPress, LabelPoint(group));
        SendMouse(Viewport(), QEvent::MouseButtonRelease, LabelPoint(group), Qt::LeftButton,
            Qt::NoButton);
        // The last report came after the click's selection, so a shortcut is not refused.
        EXPECT_TRUE(pasteEnabled) << group;
    }
    EXPECT_GT(changes, 0);
}

TEST_F(ViewTest, UpdateCommandsCollectFeedsAndStartOnlyWithSome)
{
    std::vector<UpdateRequest> started;
    host->runUpdate = [&started](const UpdateRequest& request) { started.push_back(request); };
    view->OnCommand(CommandId::UPDATE_MARKED);
    EXPECT_TRUE(started.empty()); // nothing marked: nothing starts

    view->setCurrentIndex(Find("Podcasts"));
    view->OnCommand(CommandId::UPDATE_CURRENT);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].feedUrls,
        (std::vector<std::string> {"http://science.example/rss", "http://inner.example/rss"}));
    EXPECT_FALSE(started[0].repack);

    ClickMark("Beta Times");
    ClickMark("Weather");
    view->OnCommand(CommandId::UPDATE_MARKED);
    ASSERT_EQ(started.size(), 2u);
    EXPECT_EQ(started[1].feedUrls,
        (std::vector<std::string> {"http://beta.example/rss", "http://weather.example/rss"}));

    view->OnCommand(CommandId::UPDATE_ALL);
    ASSERT_EQ(started.size(), 3u);
    EXPECT_EQ(started[2].feedUrls.size(), 5u);

    EXPECT_FALSE(view->CommandEnabled(CommandId::REPACK).value_or(true));
    view->Subscriptions().SetRepackable(1);
    EXPECT_TRUE(view->CommandEnabled(CommandId::REPACK).value_or(false));
    view->OnCommand(CommandId::REPACK);
    ASSERT_EQ(started.size(), 4u);
    EXPECT_TRUE(started[3].repack);
}

} // namespace

// Feed Options opens from a feed's context menu and from its Channel Properties, and OK keeps
// what the dialog holds for the feed's address (the channels file untouched).
TEST_F(ViewTest, FeedOptionsFromTheMenuAndFromPropertiesStoreTheFeedsChoices)
{
    std::map<QString, bool> states;
    RightClick(LabelPoint("News"), [&states](QMenu& menu) {
        states = Enablement(menu);
        return nullptr;
    });
    EXPECT_FALSE(states["Feed &Options..."]);
    const std::string address = *Node("Alpha Daily")->xmlurl;
    const std::string channels = ReadWholeFile(GetChannelsFilePath());
    prompts.answerDialog = [](QDialog& dialog) {
        auto* options = qobject_cast<CDlgFeedOptions*>(&dialog);
        if (!options)
            return 2;
        options->show(); // fills the controls
        options->PodcastCombo()->setCurrentIndex(2); // Off
        options->accept();
        return 1;
    };
    RightClick(LabelPoint("Alpha Daily"),
        [](QMenu& menu) { return FindAction(menu, QStringLiteral("Feed &Options...")); });
    EXPECT_EQ(view->Subscriptions().FeedOptionsFor(address).podcast, std::optional<bool>(false));

    // From Properties: its button opens the same dialog over it; Cancel there keeps the change.
    prompts.dialogsRun.clear();
    prompts.answerDialog = [](QDialog& dialog) {
        if (auto* channel = qobject_cast<CChannelProp*>(&dialog)) {
            channel->show();
            channel->FeedOptionsButton()->click();
            return 2;
        }
        auto* options = qobject_cast<CDlgFeedOptions*>(&dialog);
        options->show();
        options->NewestSpin()->setValue(4);
        options->accept();
        return 1;
    };
    view->SetContextItem(Find("Alpha Daily"));
    view->OnProperties();
    EXPECT_EQ(prompts.dialogsRun,
        (QStringList {QStringLiteral("CChannelProp"), QStringLiteral("CDlgFeedOptions")}));
    EXPECT_EQ(view->Subscriptions().FeedOptionsFor(address),
        (FeedOptions {false, 4, FeedAudio::Default}));
    EXPECT_EQ(ReadWholeFile(GetChannelsFilePath()), channels);
}
