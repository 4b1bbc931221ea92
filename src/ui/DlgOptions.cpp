#include "ui/DlgOptions.h"

#include "ui/DialogUnits.h"
#include "ui/DlgMoreOptions.h"
#include "ui/Prompts.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTimeEdit>
#include <QToolButton>

#include <limits>

namespace corvane {

namespace {

constexpr int kLengthStepMinimum = 1;
constexpr int kLengthStepMaximum = 100000;

template <typename Widget> Widget* Place(Widget* widget, int x, int y, int width, int height)
{
    widget->setGeometry(DialogUnits::Rect(x, y, width, height));
    return widget;
}

// Makes widget wide enough for its text at its own font, within room pixels. The font is never
// narrowed: a condensed label reads as a fault.
void FitText(QWidget* widget, int room)
{
    const int needed = std::min(widget->sizeHint().width(), room);
    if (needed > widget->width())
        widget->resize(needed, widget->height());
}

} // namespace

LengthCheck CheckLengthText(const QString& text, std::uint32_t& value)
{
    const QString trimmed = text.trimmed();
    int position = 0;
    bool negative = false;
    if (position < trimmed.size() && (trimmed[position] == '+' || trimmed[position] == '-')) {
        negative = trimmed[position] == '-';
        ++position;
    }
    if (position == trimmed.size())
        return LengthCheck::NotAnInteger;
    // Accumulate with saturation: any integer beyond the range is simply out of range, however
    // many digits it has.
    std::uint64_t magnitude = 0;
    bool huge = false;
    for (; position < trimmed.size(); ++position) {
        const QChar c = trimmed[position];
        if (c < '0' || c > '9')
            return LengthCheck::NotAnInteger;
        if (!huge) {
            magnitude = magnitude * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
            huge = magnitude > std::numeric_limits<std::uint32_t>::max();
        }
    }
    if (huge || negative || magnitude < 1)
        return LengthCheck::OutOfRange;
    value = static_cast<std::uint32_t>(magnitude);
    return LengthCheck::Ok;
}

QString WithDefaultExtension(const QString& path, const QString& extension)
{
    if (path.isEmpty())
        return path;
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name.contains('.'))
        return path;
    return path + '.' + extension;
}

CDlgOptions::CDlgOptions(QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Options"));
    setFixedSize(DialogUnits::Size(331, 172));
    DialogUnits::SetTemplateFont(this);
    CreateControls();
    SetUpLengthAndSliders();
    FitTexts();
    PlaceScaleLabels();
    FitLengthField();
    ConnectControls();
    SetUpDefaultPrompts();
    SetValues(values);
}

void CDlgOptions::CreateControls()
{
    auto* picture = Place(new QLabel(this), 7, 7, 61, 135);
    picture->setPixmap(QIcon(":/taskpane/options.svg").pixmap(picture->size()));
    picture->setScaledContents(true);

    outputGroup = Place(new QGroupBox(tr("Output File"), this), 73, 7, 249, 33);
    pathEdit = Place(new QLineEdit(this), 86, 19, 211, 14);
    browseButton = Place(new QPushButton(tr("..."), this), 299, 18, 15, 14);
    scheduleCheck = Place(new QCheckBox(tr("Scheduled Download"), this), 85, 47, 82, 10);
    timePicker = Place(new QTimeEdit(this), 179, 46, 52, 15);
    timePicker->setDisplayFormat("HH:mm:ss");

    podcastGroup = Place(new QGroupBox(tr("Podcast"), this), 74, 65, 250, 79);
    podcastCheck = Place(new QCheckBox(tr("Support Podcast"), this), 85, 81, 69, 10);
    mp3Radio = Place(new QRadioButton(tr("Original (MP3)"), this), 85, 96, 61, 10);
    amrRadio = Place(new QRadioButton(tr("Re-compressed (AMR)"), this), 85, 111, 87, 10);
    compressionLabel = Place(new QLabel(tr("Compression"), this), 180, 82, 42, 8);
    compressionSlider = Place(new QSlider(Qt::Horizontal, this), 241, 81, 71, 10);
    volumeLabel = Place(new QLabel(tr("Volume"), this), 180, 97, 24, 8);
    volumeSlider = Place(new QSlider(Qt::Horizontal, this), 241, 96, 71, 10);
    lowLabel = Place(new QLabel(tr("Low"), this), 241, 72, 14, 8);
    highLabel = Place(new QLabel(tr("High"), this), 301, 72, 15, 8);
    limitCheck = Place(new QCheckBox(tr("Length Limit"), this), 180, 111, 54, 10);
    lengthEdit = Place(new QLineEdit(this), 246, 109, 25, 14);
    // The up-down control sits inside the right end of the edit's place (271..282).
    lengthUp = Place(new QToolButton(this), 271, 109, 11, 7);
    lengthDown = Place(new QToolButton(this), 271, 116, 11, 7);
    secondsLabel = Place(new QLabel(tr("Seconds"), this), 286, 112, 28, 8);
    firstItemCheck
        = Place(new QCheckBox(tr("Download The First Item Only"), this), 180, 127, 111, 10);
    // In the free corner below the picture, on the Podcast group's left edge: every control
    // of the template keeps its place.
    moreButton = Place(new QPushButton(tr("More Options..."), this), 74, 150, 60, 14);
    okButton = Place(new QPushButton(tr("OK"), this), 218, 150, 50, 14);
    cancelButton = Place(new QPushButton(tr("Cancel"), this), 274, 150, 50, 14);
    okButton->setDefault(true);
}

void CDlgOptions::SetUpLengthAndSliders()
{
    for (QSlider* slider : {compressionSlider, volumeSlider}) {
        slider->setRange(0, 7);
        slider->setSingleStep(1);
        slider->setPageStep(1);
        slider->setTickInterval(1);
        slider->setTickPosition(QSlider::TicksBothSides);
    }
    // Typing is limited to digits; a pasted or empty text is still caught by the check on OK.
    lengthEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), lengthEdit));
    lengthEdit->installEventFilter(this);
    lengthUp->setArrowType(Qt::UpArrow);
    lengthDown->setArrowType(Qt::DownArrow);
    lengthUp->setAutoRepeat(true);
    lengthDown->setAutoRepeat(true);
    lengthUp->setFocusPolicy(Qt::NoFocus);
    lengthDown->setFocusPolicy(Qt::NoFocus);
}

void CDlgOptions::FitTexts()
{
    // The desktop's fonts run wider than the template's: a text control grows to the right
    // into the free space the template leaves before its neighbour (the right edge given in
    // dialog units), so that no text is cut.
    const std::pair<QWidget*, int> texts[] = {{scheduleCheck, 178}, {podcastCheck, 178},
        {mp3Radio, 178}, {amrRadio, 179}, {compressionLabel, 239}, {volumeLabel, 239},
        {limitCheck, 245}, {secondsLabel, 322}, {firstItemCheck, 322}, {moreButton, 212}};
    for (const auto& [widget, rightEdge] : texts)
        FitText(widget, DialogUnits::X(rightEdge) - widget->x());
}

void CDlgOptions::PlaceScaleLabels()
{
    // The style draws the Podcast frame below its title, which leaves less room above the first
    // slider than the template counted on. The group's top edge rises into the gap below the
    // time picker as far as the labels need, so that "Low" and "High" lie inside the frame,
    // over the slider's two ends.
    const int titleRoom = podcastGroup->contentsRect().top();
    const int labelHeight = lowLabel->sizeHint().height();
    const QRect group = podcastGroup->geometry();
    const int top = std::clamp(compressionSlider->y() - labelHeight - titleRoom,
        timePicker->geometry().bottom() + 1, group.top());
    podcastGroup->setGeometry(group.left(), top, group.width(), group.bottom() + 1 - top);
    const QRect slider = compressionSlider->geometry();
    const int labelTop = top + titleRoom;
    lowLabel->setGeometry(slider.left(), labelTop, lowLabel->sizeHint().width(), labelHeight);
    const int highWidth = highLabel->sizeHint().width();
    highLabel->setGeometry(slider.right() + 1 - highWidth, labelTop, highWidth, labelHeight);
    highLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
}

void CDlgOptions::FitLengthField()
{
    // The field shows the largest length the arrows reach in full rather than scrolled to its
    // last digits. It grows to the right as far as the Podcast frame lets the up-down buttons
    // and "Seconds" follow, and the rest to the left, into the space after the "Length Limit"
    // text.
    const int needed
        = DialogUnits::LineEditWidthFor(*lengthEdit, QString::number(kLengthStepMaximum));
    const int grow = std::max(0, needed - lengthEdit->width());
    const int frameRight = podcastGroup->x() + podcastGroup->contentsRect().right();
    const int shift = std::clamp(frameRight - secondsLabel->geometry().right(), 0, grow);
    for (QWidget* widget : std::initializer_list<QWidget*> {lengthUp, lengthDown, secondsLabel})
        widget->move(widget->x() + shift, widget->y());
    lengthEdit->setGeometry(
        lengthEdit->x() - (grow - shift), lengthEdit->y(), needed, lengthEdit->height());
    const int checkRoom = lengthEdit->x() - limitCheck->x();
    if (limitCheck->width() > checkRoom)
        limitCheck->resize(checkRoom, limitCheck->height());
}

void CDlgOptions::ConnectControls()
{
    // Tab order follows the template.
    QWidget* order[] = {pathEdit, browseButton, scheduleCheck, timePicker, podcastCheck, mp3Radio,
        amrRadio, compressionSlider, volumeSlider, limitCheck, lengthEdit, firstItemCheck,
        moreButton, okButton, cancelButton};
    for (std::size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(okButton, &QPushButton::clicked, this, &CDlgOptions::accept);
    connect(cancelButton, &QPushButton::clicked, this, &CDlgOptions::reject);
    connect(browseButton, &QPushButton::clicked, this, &CDlgOptions::OnBrowse);
    connect(moreButton, &QPushButton::clicked, this, &CDlgOptions::OnMoreOptions);
    connect(podcastCheck, &QCheckBox::clicked, this, &CDlgOptions::OnPodcastClicked);
    connect(mp3Radio, &QRadioButton::clicked, this, &CDlgOptions::OnPodcastClicked);
    connect(amrRadio, &QRadioButton::clicked, this, &CDlgOptions::OnPodcastClicked);
    connect(limitCheck, &QCheckBox::clicked, this, &CDlgOptions::OnPodcastClicked);
    connect(scheduleCheck, &QCheckBox::clicked, this, &CDlgOptions::OnScheduleClicked);
    connect(lengthUp, &QToolButton::clicked, this, [this] { StepLength(1); });
    connect(lengthDown, &QToolButton::clicked, this, [this] { StepLength(-1); });
}

void CDlgOptions::SetUpDefaultPrompts()
{
    showMessage = [this](const QString& text) {
        QMessageBox box(
            QMessageBox::Warning, QStringLiteral("Corvane"), text, QMessageBox::Ok, this);
        ExecModal(box);
    };
    chooseFile = [](QWidget* owner, const QString& current) {
        QFileDialog dialog(owner, QString(), current, QStringLiteral("News Feed File (*.nff)"));
        // An output file need not exist yet, so any name may be chosen.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(QStringLiteral("nff"));
        dialog.setOption(QFileDialog::ReadOnly, false);
        if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().first();
    };
    chooseMoreOptions
        = [](QWidget* owner, const MoreOptionsValues& current) -> std::optional<MoreOptionsValues> {
        CDlgMoreOptions dialog(owner);
        dialog.SetValues(current);
        if (ExecModal(dialog) != QDialog::Accepted)
            return std::nullopt;
        return dialog.Values();
    };
}

void CDlgOptions::SetValues(const CorvaneSettings& settings)
{
    values = settings;
    FillControls();
    ApplyEnableRules();
}

void CDlgOptions::FillControls()
{
    pathEdit->setText(QString::fromStdString(values.outputPath));
    scheduleCheck->setChecked(values.scheduleOn != 0);
    // The picker cannot show an hour or minute outside the day; such a stored time is shown as
    // the default time of day, which OK then stores.
    const bool validTime = values.scheduleHour >= 0 && values.scheduleHour <= 23
        && values.scheduleMinute >= 0 && values.scheduleMinute <= 59;
    timePicker->setTime(validTime
            ? QTime(values.scheduleHour, values.scheduleMinute, 0)
            : QTime(CorvaneSettings().scheduleHour, CorvaneSettings().scheduleMinute, 0));
    timePicker->setEnabled(values.scheduleOn == 1);
    podcastCheck->setChecked(values.podcastOn != 0);
    mp3Radio->setChecked(values.podcastFormat == 0);
    amrRadio->setChecked(values.podcastFormat != 0);
    compressionSlider->setValue(values.compression);
    volumeSlider->setValue(values.volume);
    limitCheck->setChecked(values.lengthLimitOn != 0);
    lengthEdit->setText(QString::number(values.lengthLimit));
    firstItemCheck->setChecked(values.firstItemOnly != 0);
}

void CDlgOptions::ApplyEnableRules()
{
    const bool podcast = values.podcastOn != 0;
    const bool amr = podcast && values.podcastFormat == 1;
    const bool limit = amr && values.lengthLimitOn != 0;
    mp3Radio->setEnabled(podcast);
    amrRadio->setEnabled(podcast);
    for (QWidget* widget : std::initializer_list<QWidget*> {compressionLabel, volumeLabel, lowLabel,
             highLabel, compressionSlider, volumeSlider, limitCheck, firstItemCheck})
        widget->setEnabled(amr);
    for (QWidget* widget :
        std::initializer_list<QWidget*> {lengthEdit, lengthUp, lengthDown, secondsLabel})
        widget->setEnabled(limit);
}

bool CDlgOptions::ReadControls()
{
    values.outputPath = pathEdit->text().toStdString();
    values.podcastOn = podcastCheck->isChecked() ? 1 : 0;

    std::uint32_t length = 0;
    const LengthCheck check = CheckLengthText(lengthEdit->text(), length);
    auto fail = [this](const QString& text) {
        if (showMessage)
            showMessage(text);
        lengthEdit->setFocus();
        lengthEdit->selectAll();
        return false;
    };
    if (check == LengthCheck::NotAnInteger)
        return fail(tr("Please enter an integer."));

    values.podcastFormat = amrRadio->isChecked() ? 1 : 0;
    values.lengthLimitOn = limitCheck->isChecked() ? 1 : 0;
    values.compression = compressionSlider->value();
    values.volume = volumeSlider->value();
    if (check == LengthCheck::OutOfRange)
        return fail(tr("Please enter an integer between %1 and %2.").arg(1).arg(4294967295u));
    values.lengthLimit = length;

    values.firstItemOnly = firstItemCheck->isChecked() ? 1 : 0;
    values.scheduleOn = scheduleCheck->isChecked() ? 1 : 0;
    return true;
}

void CDlgOptions::OnPodcastClicked()
{
    ReadControls();
    ApplyEnableRules();
}

void CDlgOptions::OnScheduleClicked()
{
    ReadControls();
    timePicker->setEnabled(values.scheduleOn == 1);
}

void CDlgOptions::OnBrowse()
{
    if (!chooseFile)
        return;
    const QString chosen = chooseFile(this, pathEdit->text());
    if (chosen.isEmpty())
        return;
    values.outputPath
        = WithDefaultExtension(QFileInfo(chosen).absoluteFilePath(), "nff").toStdString();
    // Refilling from the values undoes edits made in other controls since they were last read.
    FillControls();
    ApplyEnableRules();
}

void CDlgOptions::OnMoreOptions()
{
    if (!chooseMoreOptions)
        return;
    if (const std::optional<MoreOptionsValues> chosen
        = chooseMoreOptions(this, {values.newest, values.anyMp3Type})) {
        values.newest = chosen->newest;
        values.anyMp3Type = chosen->anyMp3Type;
    }
}

void CDlgOptions::accept()
{
    if (!ReadControls())
        return;
    const QTime time = timePicker->time();
    values.scheduleHour = time.isValid() ? time.hour() : -1;
    values.scheduleMinute = time.isValid() ? time.minute() : -1;
    if (!ReadControls())
        return;
    QDialog::accept();
}

void CDlgOptions::StepLength(int delta)
{
    if (!lengthEdit->isEnabled())
        return;
    std::uint32_t current = 0;
    qint64 value = CheckLengthText(lengthEdit->text(), current) == LengthCheck::Ok
        ? static_cast<qint64>(current)
        : kLengthStepMinimum;
    value = std::clamp<qint64>(value + delta, kLengthStepMinimum, kLengthStepMaximum);
    lengthEdit->setText(QString::number(value));
}

bool CDlgOptions::focusNextPrevChild(bool next)
{
    QWidget* before = focusWidget();
    const bool moved = QDialog::focusNextPrevChild(next);
    QRadioButton* checked = mp3Radio->isChecked() ? mp3Radio : amrRadio;
    QWidget* now = focusWidget();
    if ((now != mp3Radio && now != amrRadio) || now == checked || !checked->isEnabled())
        return moved;
    // Coming into the pair the keyboard lands on the choice made; leaving it, the other button
    // is passed over (the arrow keys move within the pair).
    if (before == checked)
        return QDialog::focusNextPrevChild(next);
    checked->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return moved;
}

bool CDlgOptions::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == lengthEdit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            StepLength(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool RunOptionsDialog(QWidget* parent, CorvaneSettings& settings,
    const std::function<void(const CorvaneSettings&)>& apply)
{
    CDlgOptions dialog(parent);
    dialog.SetValues(settings);
    if (ExecModal(dialog) != QDialog::Accepted)
        return false;
    const int repackable = settings.repackable;
    settings = dialog.Values();
    settings.repackable = repackable; // Options never changes the re-pack state
    if (apply)
        apply(settings);
    return true;
}

} // namespace corvane
