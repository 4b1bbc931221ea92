// What assistive technology finds in the desktop program's windows: a name for every object that
// can take the focus, the task pane's picture buttons with their texts, tooltips and the
// switch's state, and the tree's items with their title, kind and mark.
#include "ViewFixture.h"

#include "app/CorvaneApp.h"
#include "app/MainFrame.h"
#include "ui/AboutDlg.h"
#include "ui/DlgDeleteConfirm.h"
#include "ui/DlgImportConfirm.h"
#include "ui/DlgMoreOptions.h"
#include "ui/DlgOptions.h"
#include "ui/HoverButton.h"
#include "ui/TaskBar.h"

#include <QAccessible>
#include <QLabel>
#include <QSlider>
#include <QTimeEdit>

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

using namespace corvane;

namespace {

// The path to each object under window that can take the focus, is shown and has no name. The
// walk is breadth-first over the accessible children, so it finds whatever a window holds.
QStringList NamelessFocusable(QWidget* window)
{
    QStringList found;
    std::vector<std::pair<QAccessibleInterface*, QString>> pending {
        {QAccessible::queryAccessibleInterface(window), window->metaObject()->className()}};
    for (std::size_t next = 0; next < pending.size(); ++next) {
        const auto [object, path] = pending[next];
        if (!object || !object->isValid() || object->state().invisible)
            continue;
        if (object->state().focusable && object->text(QAccessible::Name).trimmed().isEmpty())
            found << path;
        for (int i = 0; i < object->childCount(); ++i) {
            QAccessibleInterface* child = object->child(i);
            const QString kind = child && child->object()
                ? QString::fromLatin1(child->object()->metaObject()->className())
                : QStringLiteral("role %1").arg(child ? child->role() : 0);
            pending.push_back({child, path + QLatin1Char('/') + kind});
        }
    }
    return found;
}

QAccessibleInterface* Accessible(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

class AccessibilityTest : public ViewTest { };

} // namespace

TEST_F(AccessibilityTest, EveryFocusableObjectOfEachWindowHasAName)
{
    CCorvaneApp app;
    ASSERT_TRUE(app.InitInstance(false));
    const std::pair<const char*, std::function<std::unique_ptr<QWidget>()>> windows[] = {
        {"Options", [] { return std::make_unique<CDlgOptions>(); }},
        {"More Options", [] { return std::make_unique<CDlgMoreOptions>(); }},
        {"Channel Properties", [] { return std::make_unique<CChannelProp>(); }},
        {"Group Properties", [] { return std::make_unique<CDlgGroupProp>(); }},
        {"About", [] { return std::make_unique<CAboutDlg>(); }},
        {"Delete", [] { return std::make_unique<CDlgDeleteConfirm>(); }},
        {"Import", [] { return std::make_unique<CDlgImportConfirm>(); }},
    };
    EXPECT_EQ(NamelessFocusable(app.MainFrame()).join(", ").toStdString(), "") << "main window";
    for (const auto& [title, make] : windows) {
        const std::unique_ptr<QWidget> window = make();
        window->show();
        QApplication::processEvents();
        EXPECT_EQ(NamelessFocusable(window.get()).join(", ").toStdString(), "") << title;
    }
    app.MainFrame()->hide();
}

TEST_F(AccessibilityTest, ControlsWithoutATextAreNamedAfterTheTextThatStandsForThem)
{
    CDlgOptions options;
    const std::pair<QWidget*, const char*> named[]
        = {{options.PathEdit(), "Output File"}, {options.TimePicker(), "Scheduled Download time"},
            {options.CompressionSlider(), "Compression"}, {options.VolumeSlider(), "Volume"},
            {options.LengthEdit(), "Length Limit in seconds"}};
    for (const auto& [control, name] : named)
        EXPECT_EQ(Accessible(control)->text(QAccessible::Name), name);
    EXPECT_EQ(options.CompressionLabel()->buddy(), options.CompressionSlider());

    CChannelProp channel;
    const std::pair<QWidget*, const char*> fields[]
        = {{channel.TitleEdit(), "Title"}, {channel.XmlUrlEdit(), "XML URL"},
            {channel.HtmlUrlEdit(), "HTML URL"}, {channel.DescriptionEdit(), "Description"}};
    for (const auto& [control, name] : fields)
        EXPECT_EQ(Accessible(control)->text(QAccessible::Name), name);
}

TEST_F(AccessibilityTest, TaskPaneButtonsSayTheirTextTooltipAndTheSwitchItsState)
{
    int sync = 1;
    CTaskBar pane;
    pane.readSync = [&] { return sync; };
    pane.writeSync = [&](int value) { sync = value; };
    pane.show();
    for (const CHoverButton* button : pane.findChildren<CHoverButton*>()) {
        QAccessibleInterface* accessible = Accessible(const_cast<CHoverButton*>(button));
        EXPECT_EQ(accessible->text(QAccessible::Name), button->text());
        EXPECT_EQ(accessible->text(QAccessible::Description), button->TooltipText());
        EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty());
        const bool isSwitch = button == pane.syncOnButton || button == pane.syncOffButton;
        EXPECT_EQ(accessible->role(), isSwitch ? QAccessible::CheckBox : QAccessible::Button)
            << button->text().toStdString();
        EXPECT_EQ(accessible->state().checked, button == pane.syncOnButton);
        EXPECT_TRUE(accessible->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
    }
    // Pressed through its accessible action, the switch turns off; the button shown then says
    // so.
    Accessible(pane.syncOnButton)
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(WaitFor([&] { return sync == 0; }));
    EXPECT_TRUE(pane.syncOffButton->isVisible());
    EXPECT_FALSE(Accessible(pane.syncOffButton)->state().checked);
    EXPECT_TRUE(Accessible(pane.syncOnButton)->state().invisible);
}

TEST_F(AccessibilityTest, TreeItemsSayTitleKindAndMark)
{
    QAccessibleInterface* tree = Accessible(view.get());
    EXPECT_EQ(tree->text(QAccessible::Name), "Subscriptions");
    const auto item = [&](const QString& title) -> QAccessibleInterface* {
        for (int i = 0; i < tree->childCount(); ++i) {
            if (tree->child(i)->text(QAccessible::Name) == title)
                return tree->child(i);
        }
        return nullptr;
    };
    ClickMark("News");
    ClickMark("Science Hour");
    struct Expected {
        const char* title;
        const char* description;
        bool checked;
    };
    // The item's check state has no third value: a partly marked group says so in words.
    const Expected expected[] = {{"News", "Group, marked", true},
        {"Alpha Daily", "Feed, marked", true}, {"Podcasts", "Group, partly marked", false},
        {"Science Hour", "Feed, marked", true}, {"Weather", "Feed, not marked", false}};
    for (const Expected& e : expected) {
        QAccessibleInterface* found = item(e.title);
        ASSERT_NE(found, nullptr) << e.title;
        EXPECT_EQ(found->text(QAccessible::Description), e.description) << e.title;
        EXPECT_TRUE(found->state().checkable) << e.title;
        EXPECT_EQ(found->state().checked, e.checked) << e.title;
    }
}
