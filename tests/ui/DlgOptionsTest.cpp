#include "ui/DlgOptions.h"

#include "support/TempDir.h"
#include "ui/DialogUnits.h"
#include "ui/DlgMoreOptions.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace corvane;

namespace {

CorvaneSettings SampleSettings()
{
    CorvaneSettings settings;
    settings.outputPath = "/tmp/corvane-test/out.mrf";
    settings.scheduleOn = 1;
    settings.scheduleHour = 7;
    settings.scheduleMinute = 45;
    settings.podcastOn = 1;
    settings.podcastFormat = 1;
    settings.compression = 3;
    settings.volume = 5;
    settings.lengthLimitOn = 1;
    settings.lengthLimit = 900;
    settings.firstItemOnly = 0;
    settings.newest = 12;
    settings.repackable = 1;
    return settings;
}

struct OptionsFixture : ::testing::Test {
    OptionsFixture()
    {
        dialog.SetValues(SampleSettings());
        dialog.showMessage = [this](const QString& text) { messages << text; };
    }
    CDlgOptions dialog;
    QStringList messages;
};

} // namespace

TEST(OptionsLength, AcceptsWholeNumbersFromOneToTheLargest32BitValue)
{
    std::uint32_t value = 0;
    EXPECT_EQ(CheckLengthText("1", value), LengthCheck::Ok);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(CheckLengthText(" 1200 ", value), LengthCheck::Ok);
    EXPECT_EQ(value, 1200u);
    EXPECT_EQ(CheckLengthText("4294967295", value), LengthCheck::Ok);
    EXPECT_EQ(value, 4294967295u);
}

TEST(OptionsLength, TellsNonIntegersFromIntegersOutOfRange)
{
    std::uint32_t value = 77;
    EXPECT_EQ(CheckLengthText("", value), LengthCheck::NotAnInteger);
    EXPECT_EQ(CheckLengthText("   ", value), LengthCheck::NotAnInteger);
    EXPECT_EQ(CheckLengthText("12a", value), LengthCheck::NotAnInteger);
    EXPECT_EQ(CheckLengthText("-", value), LengthCheck::NotAnInteger);
    EXPECT_EQ(CheckLengthText("1.5", value), LengthCheck::NotAnInteger);
    EXPECT_EQ(CheckLengthText("0", value), LengthCheck::OutOfRange);
    EXPECT_EQ(CheckLengthText("-5", value), LengthCheck::OutOfRange);
    EXPECT_EQ(CheckLengthText("4294967296", value), LengthCheck::OutOfRange);
    // Far beyond 64 bits must not wrap around into the range.
    EXPECT_EQ(CheckLengthText("18446744073709551617", value), LengthCheck::OutOfRange);
    EXPECT_EQ(value, 77u);
}

TEST(OptionsBrowse, AddsTheDefaultExtensionOnlyToANameWithout)
{
    EXPECT_EQ(WithDefaultExtension("/home/u/feeds", "nff"), "/home/u/feeds.nff");
    EXPECT_EQ(WithDefaultExtension("/home/u/feeds.mrf", "nff"), "/home/u/feeds.mrf");
    EXPECT_EQ(WithDefaultExtension("/home/u.v/feeds", "nff"), "/home/u.v/feeds.nff");
    EXPECT_EQ(WithDefaultExtension("", "nff"), "");
}

TEST_F(OptionsFixture, ControlsShowTheValuesWithTheirRanges)
{
    EXPECT_EQ(dialog.PathEdit()->text(), "/tmp/corvane-test/out.mrf");
    EXPECT_TRUE(dialog.ScheduleCheck()->isChecked());
    EXPECT_EQ(dialog.TimePicker()->time(), QTime(7, 45, 0));
    EXPECT_TRUE(dialog.TimePicker()->isEnabled());
    EXPECT_TRUE(dialog.AmrRadio()->isChecked());
    EXPECT_FALSE(dialog.Mp3Radio()->isChecked());
    EXPECT_EQ(dialog.CompressionSlider()->value(), 3);
    EXPECT_EQ(dialog.VolumeSlider()->value(), 5);
    for (QSlider* slider : {dialog.CompressionSlider(), dialog.VolumeSlider()}) {
        EXPECT_EQ(slider->minimum(), 0);
        EXPECT_EQ(slider->maximum(), 7);
        EXPECT_EQ(slider->tickInterval(), 1);
        EXPECT_EQ(slider->tickPosition(), QSlider::TicksBothSides);
    }
    EXPECT_EQ(dialog.LengthEdit()->text(), "900");
    EXPECT_EQ(dialog.OkButton()->text(), "OK");
    EXPECT_TRUE(dialog.OkButton()->isDefault());
    EXPECT_EQ(dialog.FirstItemCheck()->text(), "Download The First Item Only");
    // The template's 331 by 172 units.
    EXPECT_EQ(dialog.size(), QSize(497, 275));
}

TEST_F(OptionsFixture, NoTextIsCutOffAndNoControlsOverlap)
{
    const QList<QWidget*> controls
        = {dialog.PathEdit(), dialog.BrowseButton(), dialog.ScheduleCheck(), dialog.TimePicker(),
            dialog.PodcastCheck(), dialog.Mp3Radio(), dialog.AmrRadio(), dialog.CompressionLabel(),
            dialog.CompressionSlider(), dialog.VolumeLabel(), dialog.VolumeSlider(),
            dialog.LowLabel(), dialog.HighLabel(), dialog.LimitCheck(), dialog.LengthEdit(),
            dialog.LengthUp(), dialog.LengthDown(), dialog.SecondsLabel(), dialog.FirstItemCheck(),
            dialog.MoreButton(), dialog.OkButton(), dialog.CancelButton()};
    for (QWidget* control : controls) {
        EXPECT_TRUE(dialog.rect().contains(control->geometry()));
        if (control == dialog.MoreButton()) {
            EXPECT_GE(control->width(), control->sizeHint().width());
        }
    }
    for (qsizetype i = 0; i < controls.size(); ++i) {
        for (qsizetype j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << i << " / " << j;
    }
}

namespace {

// Where a label, check box or radio button draws its text, in the dialog's coordinates.
QRect TextRect(QWidget* control)
{
    if (qobject_cast<QLabel*>(control))
        return static_cast<QLabel*>(control)->contentsRect().translated(control->pos());
    QStyleOptionButton option;
    option.initFrom(control);
    option.rect = control->rect();
    const auto element = qobject_cast<QRadioButton*>(control) ? QStyle::SE_RadioButtonContents
                                                              : QStyle::SE_CheckBoxContents;
    return control->style()->subElementRect(element, &option, control).translated(control->pos());
}

QRect InsideOf(QGroupBox* group)
{
    return group->contentsRect().translated(group->pos());
}

} // namespace

TEST_F(OptionsFixture, EveryTextFitsAtTheDialogsFontInsideItsGroup)
{
    const QList<QWidget*> podcastTexts = {dialog.PodcastCheck(), dialog.Mp3Radio(),
        dialog.AmrRadio(), dialog.CompressionLabel(), dialog.VolumeLabel(), dialog.LowLabel(),
        dialog.HighLabel(), dialog.LimitCheck(), dialog.SecondsLabel(), dialog.FirstItemCheck()};
    QList<QWidget*> texts = podcastTexts;
    texts << dialog.ScheduleCheck();
    for (QWidget* control : texts) {
        const QString text = control->property("text").toString();
        // Never a narrowed font: every text is drawn at the dialog's own.
        EXPECT_EQ(control->font(), dialog.font()) << text.toStdString();
        EXPECT_LE(control->fontMetrics().horizontalAdvance(text), TextRect(control).width())
            << text.toStdString();
    }
    for (QWidget* control : podcastTexts) {
        EXPECT_TRUE(InsideOf(dialog.PodcastGroup()).contains(control->geometry()))
            << control->property("text").toString().toStdString();
    }
    EXPECT_FALSE(dialog.PodcastGroup()->geometry().intersects(dialog.TimePicker()->geometry()));
    EXPECT_FALSE(dialog.PodcastGroup()->geometry().intersects(dialog.ScheduleCheck()->geometry()));
}

TEST_F(OptionsFixture, LowAndHighStandOverTheSlidersEnds)
{
    const QRect slider = dialog.CompressionSlider()->geometry();
    EXPECT_EQ(dialog.LowLabel()->x(), slider.left());
    EXPECT_EQ(dialog.HighLabel()->geometry().right(), slider.right());
    EXPECT_TRUE(dialog.HighLabel()->alignment().testFlag(Qt::AlignRight));
    for (QLabel* label : {dialog.LowLabel(), dialog.HighLabel()}) {
        EXPECT_LE(label->geometry().bottom(), slider.top());
        EXPECT_TRUE(InsideOf(dialog.PodcastGroup()).contains(label->geometry()));
    }
}

TEST_F(OptionsFixture, TheLengthFieldShowsItsLargestValueWhole)
{
    QLineEdit* edit = dialog.LengthEdit();
    const QString largest = QStringLiteral("100000");
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(largest),
        DialogUnits::LineEditTextRect(*edit).width());
    // Drawn with the cursor at either end, the text does not scroll: the cursor moves by the
    // whole text's width.
    edit->setText(largest);
    edit->setCursorPosition(0);
    edit->grab();
    const auto cursorX
        = [edit] { return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().x(); };
    const int start = cursorX();
    edit->setCursorPosition(static_cast<int>(largest.size()));
    edit->grab();
    EXPECT_EQ(cursorX() - start, edit->fontMetrics().horizontalAdvance(largest));
    // The arrows reach exactly that value.
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(dialog.LengthUp(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), largest);
}

TEST_F(OptionsFixture, TabIntoTheFormatLandsOnTheCheckedOne)
{
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    for (int format : {0, 1}) {
        CorvaneSettings settings = SampleSettings();
        settings.podcastFormat = format;
        dialog.SetValues(settings);
        QRadioButton* checked = format == 0 ? dialog.Mp3Radio() : dialog.AmrRadio();
        dialog.PodcastCheck()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(dialog.PodcastCheck(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), checked) << format;
        // Back from a later control (with MP3 the AMR controls between are disabled) as well.
        dialog.FirstItemCheck()->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 5 && QApplication::focusWidget() != checked; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), checked) << format;
    }
}

// "More Options..." was added in the free corner: every control of the template is where the
// template puts it (text controls may have grown to the right, never moved). "Low" and "High"
// stand inside the Podcast frame over the slider's ends, and "Seconds" follows the widened
// length field; those are checked on their own.
TEST_F(OptionsFixture, EveryTemplateControlKeepsItsPlace)
{
    const std::pair<QWidget*, QRect> places[] = {{dialog.PathEdit(), {86, 19, 211, 14}},
        {dialog.BrowseButton(), {299, 18, 15, 14}}, {dialog.ScheduleCheck(), {85, 47, 82, 10}},
        {dialog.TimePicker(), {179, 46, 52, 15}}, {dialog.PodcastCheck(), {85, 81, 69, 10}},
        {dialog.Mp3Radio(), {85, 96, 61, 10}}, {dialog.AmrRadio(), {85, 111, 87, 10}},
        {dialog.CompressionLabel(), {180, 82, 42, 8}},
        {dialog.CompressionSlider(), {241, 81, 71, 10}}, {dialog.VolumeLabel(), {180, 97, 24, 8}},
        {dialog.VolumeSlider(), {241, 96, 71, 10}}, {dialog.LimitCheck(), {180, 111, 54, 10}},
        {dialog.FirstItemCheck(), {180, 127, 111, 10}}, {dialog.OkButton(), {218, 150, 50, 14}},
        {dialog.CancelButton(), {274, 150, 50, 14}}};
    for (const auto& [control, units] : places) {
        const QRect expected
            = DialogUnits::Rect(units.x(), units.y(), units.width(), units.height());
        const QRect actual = control->geometry();
        EXPECT_EQ(actual.topLeft(), expected.topLeft()) << control->metaObject()->className();
        EXPECT_EQ(actual.height(), expected.height()) << control->metaObject()->className();
        EXPECT_GE(actual.width(), expected.width()) << control->metaObject()->className();
    }
    EXPECT_EQ(dialog.OkButton()->geometry(), DialogUnits::Rect(218, 150, 50, 14));
    EXPECT_EQ(dialog.CancelButton()->geometry(), DialogUnits::Rect(274, 150, 50, 14));
    EXPECT_EQ(dialog.SecondsLabel()->y(), DialogUnits::Y(112));
    EXPECT_GT(dialog.SecondsLabel()->x(), dialog.LengthUp()->geometry().right());
    EXPECT_EQ(dialog.LengthUp()->x(), dialog.LengthEdit()->geometry().right() + 1);
    EXPECT_EQ(dialog.MoreButton()->text(), "More Options...");
    EXPECT_LT(dialog.MoreButton()->geometry().right(), dialog.OkButton()->x());
}

TEST_F(OptionsFixture, MoreOptionsPutsTheNewestCountIntoTheValues)
{
    int shown = -1;
    int shownAnyType = -1;
    std::optional<MoreOptionsValues> answer = MoreOptionsValues {250, 1};
    dialog.chooseMoreOptions = [&](QWidget*, const MoreOptionsValues& current) {
        shown = current.newest;
        shownAnyType = current.anyMp3Type;
        return answer;
    };
    dialog.LengthEdit()->setText("77"); // not read: the question leaves other controls alone
    QTest::mouseClick(dialog.MoreButton(), Qt::LeftButton);
    EXPECT_EQ(shown, 12);
    EXPECT_EQ(shownAnyType, 0);
    EXPECT_EQ(dialog.Values().newest, 250);
    EXPECT_EQ(dialog.Values().anyMp3Type, 1);
    EXPECT_EQ(dialog.LengthEdit()->text(), "77");

    answer = std::nullopt; // Cancel of the question
    QTest::mouseClick(dialog.MoreButton(), Qt::LeftButton);
    EXPECT_EQ(shown, 250);
    EXPECT_EQ(shownAnyType, 1);
    EXPECT_EQ(dialog.Values().newest, 250);
    EXPECT_EQ(dialog.Values().anyMp3Type, 1);

    // Other edits (Browse refills the controls from the values) keep the count.
    dialog.chooseFile = [](QWidget*, const QString&) { return QStringLiteral("/tmp/x.nff"); };
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    dialog.accept();
    EXPECT_EQ(dialog.Values().newest, 250);
}

TEST(MoreOptions, SpinBoxKeepsToTheSettingsRange)
{
    CDlgMoreOptions more;
    EXPECT_EQ(more.NewestSpin()->minimum(), 0);
    EXPECT_EQ(more.NewestSpin()->maximum(), 1000);
    more.SetNewest(5);
    EXPECT_EQ(more.Newest(), 5);
    more.SetNewest(5000);
    EXPECT_EQ(more.Newest(), 1000);
    more.SetNewest(-3);
    EXPECT_EQ(more.Newest(), 0);
    EXPECT_TRUE(more.OkButton()->isDefault());

    // Typed but not yet confirmed with Enter: OK takes it.
    more.NewestSpin()->selectAll();
    QTest::keyClicks(more.NewestSpin(), "42");
    more.accept();
    EXPECT_EQ(more.result(), QDialog::Accepted);
    EXPECT_EQ(more.Newest(), 42);
}

TEST(MoreOptions, AnyMp3TypeCheckBoxShowsAndGivesItsValue)
{
    CDlgMoreOptions more;
    more.SetValues({7, 1});
    EXPECT_TRUE(more.AnyMp3TypeCheck()->isChecked());
    EXPECT_EQ(more.Values().newest, 7);
    QTest::mouseClick(more.AnyMp3TypeCheck(), Qt::LeftButton);
    EXPECT_EQ(more.Values().anyMp3Type, 0);
    more.SetValues({0, 0});
    EXPECT_FALSE(more.AnyMp3TypeCheck()->isChecked());
    EXPECT_GE(more.AnyMp3TypeCheck()->width(), more.AnyMp3TypeCheck()->sizeHint().width());
}

TEST(MoreOptions, NoTextIsCutOffAndNoControlsOverlap)
{
    CDlgMoreOptions more;
    const QList<QWidget*> controls = {more.NewestLabel(), more.NewestSpin(), more.AnyMp3TypeCheck(),
        more.NoteLabel(), more.OkButton(), more.CancelButton()};
    for (QWidget* control : controls) {
        const QRect place = control->geometry();
        EXPECT_TRUE(more.rect().contains(place))
            << control->metaObject()->className() << " at " << place.x() << "," << place.y() << " "
            << place.width() << "x" << place.height();
    }
    EXPECT_GE(more.NewestLabel()->width(), more.NewestLabel()->sizeHint().width());
    EXPECT_GE(
        more.NoteLabel()->height(), more.NoteLabel()->heightForWidth(more.NoteLabel()->width()));
    for (qsizetype i = 0; i < controls.size(); ++i) {
        for (qsizetype j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(controls[i]->geometry().intersects(controls[j]->geometry()))
                << i << " / " << j;
    }
}

TEST_F(OptionsFixture, TimeOutsideTheDayShowsTheDefaultTime)
{
    CorvaneSettings settings = SampleSettings();
    settings.scheduleHour = 25;
    settings.scheduleMinute = 70;
    dialog.SetValues(settings);
    EXPECT_EQ(dialog.TimePicker()->time(), QTime(6, 0, 0));
}

TEST_F(OptionsFixture, EnableRulesFollowPodcastFormatAndLimit)
{
    auto expectPodcastControls = [&](bool radios, bool amrControls, bool lengthControls) {
        EXPECT_EQ(dialog.Mp3Radio()->isEnabled(), radios);
        EXPECT_EQ(dialog.AmrRadio()->isEnabled(), radios);
        for (QWidget* widget :
            std::initializer_list<QWidget*> {dialog.CompressionSlider(), dialog.VolumeSlider(),
                dialog.CompressionLabel(), dialog.VolumeLabel(), dialog.LowLabel(),
                dialog.HighLabel(), dialog.LimitCheck(), dialog.FirstItemCheck()})
            EXPECT_EQ(widget->isEnabled(), amrControls) << widget->metaObject()->className();
        for (QWidget* widget : std::initializer_list<QWidget*> {dialog.LengthEdit(),
                 dialog.LengthUp(), dialog.LengthDown(), dialog.SecondsLabel()})
            EXPECT_EQ(widget->isEnabled(), lengthControls);
        EXPECT_TRUE(dialog.PodcastCheck()->isEnabled());
    };
    expectPodcastControls(true, true, true);

    QTest::mouseClick(dialog.LimitCheck(), Qt::LeftButton);
    EXPECT_EQ(dialog.Values().lengthLimitOn, 0);
    expectPodcastControls(true, true, false);

    QTest::mouseClick(dialog.Mp3Radio(), Qt::LeftButton);
    EXPECT_EQ(dialog.Values().podcastFormat, 0);
    expectPodcastControls(true, false, false);

    QTest::mouseClick(dialog.PodcastCheck(), Qt::LeftButton);
    EXPECT_EQ(dialog.Values().podcastOn, 0);
    expectPodcastControls(false, false, false);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(OptionsFixture, ScheduledDownloadEnablesOnlyThePicker)
{
    QTest::mouseClick(dialog.ScheduleCheck(), Qt::LeftButton);
    EXPECT_FALSE(dialog.TimePicker()->isEnabled());
    EXPECT_EQ(dialog.Values().scheduleOn, 0);
    QTest::mouseClick(dialog.ScheduleCheck(), Qt::LeftButton);
    EXPECT_TRUE(dialog.TimePicker()->isEnabled());
}

TEST_F(OptionsFixture, DisabledControlsKeepTheirValuesOnOk)
{
    CorvaneSettings settings = SampleSettings();
    settings.podcastOn = 0;
    dialog.SetValues(settings);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const CorvaneSettings values = dialog.Values();
    EXPECT_EQ(values.podcastOn, 0);
    EXPECT_EQ(values.podcastFormat, 1);
    EXPECT_EQ(values.compression, 3);
    EXPECT_EQ(values.volume, 5);
    EXPECT_EQ(values.lengthLimitOn, 1);
    EXPECT_EQ(values.lengthLimit, 900u);
    EXPECT_EQ(values.scheduleHour, 7);
    EXPECT_EQ(values.scheduleMinute, 45);
}

TEST_F(OptionsFixture, BadLengthBlocksOkEvenWhileTheFieldIsDisabled)
{
    CorvaneSettings settings = SampleSettings();
    settings.podcastOn = 0;
    dialog.SetValues(settings);
    dialog.show();
    ASSERT_FALSE(dialog.LengthEdit()->isEnabled());

    dialog.LengthEdit()->setText("0");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Please enter an integer between 1 and 4294967295.");

    dialog.LengthEdit()->setText("");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    ASSERT_EQ(messages.size(), 2);
    EXPECT_EQ(messages[1], "Please enter an integer.");

    dialog.LengthEdit()->setText("4294967296");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(messages.size(), 3);
    EXPECT_EQ(dialog.Values().lengthLimit, 900u);

    dialog.LengthEdit()->setText("4294967295");
    dialog.accept();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.Values().lengthLimit, 4294967295u);
}

TEST_F(OptionsFixture, FailedReadKeepsTheValuesAfterTheFailingStep)
{
    // A text that is no integer stops the reading at the length: the format and everything after
    // it keep their previous values, while the path and "Support Podcast" before it are taken.
    dialog.PathEdit()->setText("/elsewhere/new.mrf");
    dialog.Mp3Radio()->setChecked(true);
    dialog.VolumeSlider()->setValue(0);
    dialog.FirstItemCheck()->setChecked(true);
    dialog.LengthEdit()->setText("");
    EXPECT_FALSE(dialog.ReadControls());
    CorvaneSettings values = dialog.Values();
    EXPECT_EQ(values.outputPath, "/elsewhere/new.mrf");
    EXPECT_EQ(values.podcastFormat, 1);
    EXPECT_EQ(values.volume, 5);
    EXPECT_EQ(values.firstItemOnly, 0);
    EXPECT_TRUE(dialog.LengthEdit()->hasFocus() || !dialog.isVisible());

    // An integer out of range fails at the check, after the sliders were read.
    dialog.LengthEdit()->setText("0");
    EXPECT_FALSE(dialog.ReadControls());
    values = dialog.Values();
    EXPECT_EQ(values.podcastFormat, 0);
    EXPECT_EQ(values.volume, 0);
    EXPECT_EQ(values.lengthLimit, 900u);
    EXPECT_EQ(values.firstItemOnly, 0);
}

TEST_F(OptionsFixture, ClickWithBadLengthStillAppliesTheEnableRules)
{
    dialog.LengthEdit()->setText("");
    QTest::mouseClick(dialog.PodcastCheck(), Qt::LeftButton);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_EQ(dialog.Values().podcastOn, 0);
    EXPECT_FALSE(dialog.AmrRadio()->isEnabled());
}

TEST_F(OptionsFixture, OkTakesTheTimeFromThePicker)
{
    dialog.TimePicker()->setTime(QTime(23, 59, 0));
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Values().scheduleHour, 23);
    EXPECT_EQ(dialog.Values().scheduleMinute, 59);
}

TEST_F(OptionsFixture, UpDownStaysWithinOneToOneHundredThousand)
{
    dialog.LengthEdit()->setText("1");
    QTest::mouseClick(dialog.LengthDown(), Qt::LeftButton);
    EXPECT_EQ(dialog.LengthEdit()->text(), "1");
    QTest::mouseClick(dialog.LengthUp(), Qt::LeftButton);
    EXPECT_EQ(dialog.LengthEdit()->text(), "2");

    dialog.LengthEdit()->setText("99999");
    QTest::keyClick(dialog.LengthEdit(), Qt::Key_Up);
    EXPECT_EQ(dialog.LengthEdit()->text(), "100000"); // no thousands separator
    QTest::keyClick(dialog.LengthEdit(), Qt::Key_Up);
    EXPECT_EQ(dialog.LengthEdit()->text(), "100000");
    QTest::keyClick(dialog.LengthEdit(), Qt::Key_Down);
    EXPECT_EQ(dialog.LengthEdit()->text(), "99999");

    // Typing is limited to digits.
    dialog.LengthEdit()->clear();
    QTest::keyClicks(dialog.LengthEdit(), "12x3");
    EXPECT_EQ(dialog.LengthEdit()->text(), "123");
}

TEST_F(OptionsFixture, BrowseFillsTheFullPathAndRefillsTheControls)
{
    TempDir folder;
    QString startedFrom;
    dialog.chooseFile = [&](QWidget*, const QString& current) {
        startedFrom = current;
        return QString::fromStdString(folder.Path()) + "/phone-feeds";
    };
    dialog.LengthEdit()->setText("55"); // not read yet: the refill undoes it
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(startedFrom, "/tmp/corvane-test/out.mrf");
    EXPECT_EQ(dialog.PathEdit()->text().toStdString(), folder.Path() + "/phone-feeds.nff");
    EXPECT_EQ(dialog.LengthEdit()->text(), "900");

    dialog.chooseFile = [](QWidget*, const QString&) { return QString(); };
    QTest::mouseClick(dialog.BrowseButton(), Qt::LeftButton);
    EXPECT_EQ(dialog.PathEdit()->text().toStdString(), folder.Path() + "/phone-feeds.nff");
}

namespace {

// Points the settings store at a private folder for one test.
struct ConfigHome {
    ConfigHome()
    {
        const char* old = std::getenv("XDG_CONFIG_HOME");
        hadOld = old != nullptr;
        if (hadOld)
            previous = old;
        setenv("XDG_CONFIG_HOME", folder.Path().c_str(), 1);
    }
    ~ConfigHome()
    {
        if (hadOld)
            setenv("XDG_CONFIG_HOME", previous.c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    std::string File() const { return folder.Path() + "/Corvane/Corvane.conf"; }
    TempDir folder;
    std::string previous;
    bool hadOld = false;
};

// Sets the count in the "More Options" dialog once it is up and presses its OK or Cancel.
void AnswerMoreOptions(int count, const char* which)
{
    QTimer::singleShot(0, [count, which] {
        auto* more = qobject_cast<CDlgMoreOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(more, nullptr);
        more->NewestSpin()->setValue(count);
        QTest::mouseClick(
            std::string(which) == "OK" ? more->OkButton() : more->CancelButton(), Qt::LeftButton);
    });
}

// Opens "More Options" from the Options dialog once that is up, answers it with OK, then presses
// the Options dialog's OK or Cancel.
void SetNewestThenPress(int count, const char* which)
{
    QTimer::singleShot(0, [count, which] {
        auto* dialog = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        AnswerMoreOptions(count, "OK");
        QTest::mouseClick(dialog->MoreButton(), Qt::LeftButton);
        QTest::mouseClick(std::string(which) == "OK" ? dialog->OkButton() : dialog->CancelButton(),
            Qt::LeftButton);
    });
}

// Presses a button of the modal dialog once it is up.
void PressWhenShown(const char* which)
{
    QTimer::singleShot(0, [which] {
        auto* dialog = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTest::mouseClick(std::string(which) == "OK" ? dialog->OkButton() : dialog->CancelButton(),
            Qt::LeftButton);
    });
}

} // namespace

TEST(OptionsStore, OkWithoutChangesWritesAllTwelveEntries)
{
    ConfigHome home;
    CorvaneSettings settings = SampleSettings();
    PressWhenShown("OK");
    ASSERT_TRUE(RunOptionsDialog(nullptr, settings));
    EXPECT_EQ(settings.repackable, 1);

    QSettings store(QString::fromStdString(home.File()), QSettings::IniFormat);
    EXPECT_EQ(store.value("Path/FeedFile").toString(), "/tmp/corvane-test/out.mrf");
    EXPECT_EQ(store.value("Podcast/On").toInt(), 1);
    EXPECT_EQ(store.value("Podcast/Length").toLongLong(), 900);
    EXPECT_EQ(store.value("Podcast/MP3").toInt(), 1);
    EXPECT_EQ(store.value("Podcast/Limit").toInt(), 1);
    EXPECT_EQ(store.value("Podcast/Compression").toInt(), 3);
    EXPECT_EQ(store.value("Podcast/Volume").toInt(), 5);
    EXPECT_EQ(store.value("Podcast/Download First One Only").toInt(), 0);
    EXPECT_EQ(store.value("Podcast/Newest").toInt(), 12);
    EXPECT_EQ(store.value("Update/Scheduled").toInt(), 1);
    EXPECT_EQ(store.value("Update/Hour").toInt(), 7);
    EXPECT_EQ(store.value("Update/Minute").toInt(), 45);
    // Options does not touch the re-pack state.
    EXPECT_FALSE(store.contains("Podcast/Repackable"));
}

TEST(OptionsStore, CancelWritesNothing)
{
    ConfigHome home;
    CorvaneSettings settings = SampleSettings();
    PressWhenShown("Cancel");
    EXPECT_FALSE(RunOptionsDialog(nullptr, settings));
    EXPECT_FALSE(FileExists(home.File()));
    EXPECT_EQ(settings.outputPath, SampleSettings().outputPath);
}

TEST(OptionsStore, NewestFromMoreOptionsIsStoredOnOkAndLostOnCancel)
{
    ConfigHome home;
    CorvaneSettings settings = SampleSettings();
    SetNewestThenPress(3, "Cancel");
    EXPECT_FALSE(RunOptionsDialog(nullptr, settings));
    EXPECT_EQ(settings.newest, 12);
    EXPECT_FALSE(FileExists(home.File()));

    // The question's own Cancel changes nothing either.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<CDlgOptions*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        AnswerMoreOptions(9, "Cancel");
        QTest::mouseClick(dialog->MoreButton(), Qt::LeftButton);
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    ASSERT_TRUE(RunOptionsDialog(nullptr, settings));
    EXPECT_EQ(settings.newest, 12);

    SetNewestThenPress(3, "OK");
    ASSERT_TRUE(RunOptionsDialog(nullptr, settings));
    EXPECT_EQ(settings.newest, 3);
    EXPECT_EQ(settings.repackable, 1);
    QSettings store(QString::fromStdString(home.File()), QSettings::IniFormat);
    EXPECT_EQ(store.value("Podcast/Newest").toInt(), 3);
    EXPECT_EQ(LoadSettings().newest, 3);
}
