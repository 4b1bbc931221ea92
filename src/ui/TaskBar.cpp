#include "ui/TaskBar.h"

#include "ui/HoverButton.h"

#include <algorithm>

#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>

namespace corvane {

namespace {

struct ButtonSpec {
    CHoverButton* CTaskBar::*member;
    int command;
    const char* picture;
    const char* text;
    const char* toolTip;
    int left, top;
};

const char* const kSyncToolTip
    = "Check if you also want to update the subscriptions to the mobile phone";

const ButtonSpec kButtons[] = {
    {&CTaskBar::updateAllButton, TASK_UPDATE_ALL, "update-all", "Update All Feeds",
        "Update all feeds include those in subfolders", 26, 67},
    {&CTaskBar::updateMarkedButton, TASK_UPDATE_MARKED, "update-marked", "Update Marked Feeds",
        "Update marked feeds and/or folders only", 26, 82},
    {&CTaskBar::updateCurrentButton, TASK_UPDATE_CURRENT, "update-current", "Update Current Feed",
        "Update current selected feed or folder only", 26, 97},
    {&CTaskBar::importButton, TASK_IMPORT_OPML, "import-opml", "Import OPML",
        "Import subscriptions from an OPML file", 26, 112},
    {&CTaskBar::exportButton, TASK_EXPORT_OPML, "export-opml", "Export OPML",
        "Export subscriptions into an OPML file", 26, 127},
    {&CTaskBar::sendToButton, TASK_SEND_TO, "send-to", "Send To",
        "Send the updated feeds to a mobile phone or the file system", 26, 157},
    {&CTaskBar::syncOffButton, TASK_SYNC_OFF, "sync-off", "Synchronize Channels", kSyncToolTip, 26,
        187},
    {&CTaskBar::syncOnButton, TASK_SYNC_ON, "sync-on", "Synchronize Channels", kSyncToolTip, 26,
        187},
};

// The pane's template is 109 by 166 dialog units; the background picture is 153 by 199 px and
// drawn at (6, 15), so the pane is at least that tall.
constexpr int kPaneWidth = 164;
constexpr int kPaneMinimumHeight = 266;

} // namespace

CTaskBar::CTaskBar(QWidget* parent)
    : QWidget(parent)
{
    // Every pixel is painted from one off-screen picture; nothing erases beforehand.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setFixedWidth(kPaneWidth);
    setMinimumHeight(kPaneMinimumHeight);

    for (const ButtonSpec& spec : kButtons) {
        auto* button = new CHoverButton(this);
        button->setObjectName(spec.picture);
        button->setText(QString::fromUtf8(spec.text));
        button->setAccessibleName(button->text());
        button->setGeometry(spec.left, spec.top, 128, 15);
        button->LoadButtonBitmap(QStringLiteral(":/taskpane/%1.svg").arg(spec.picture));
        button->SetTooltipText(QString::fromUtf8(spec.toolTip), true);
        this->*spec.member = button;
        const int command = spec.command;
        connect(button, &CHoverButton::clicked, this, [this, command] { OnCommand(command); });
    }
    // The switch starts in the on state: the flag is 1 at every start.
    syncOnButton->show();
    syncOffButton->hide();
    syncOnButton->setEnabled(true);
    syncOffButton->setEnabled(false);

    background = LoadPicture(":/taskpane/background.svg", QSize(153, 199), devicePixelRatioF());
}

CTaskBar::~CTaskBar() = default;

CHoverButton* CTaskBar::Button(int command) const
{
    for (const ButtonSpec& spec : kButtons) {
        if (spec.command == command)
            return this->*spec.member;
    }
    return nullptr;
}

void CTaskBar::UpdateSyncButtons()
{
    const bool on = readSync ? readSync() == 1 : true;
    CHoverButton* shown = on ? syncOnButton : syncOffButton;
    CHoverButton* hidden = on ? syncOffButton : syncOnButton;
    // The switch is two buttons: the keyboard focus passes to the one shown, so that Space
    // switches it back and the focus does not fall out of the pane.
    const bool focused = hidden->hasFocus();
    shown->setEnabled(true);
    shown->setVisible(true);
    if (focused)
        shown->setFocus(Qt::OtherFocusReason);
    hidden->setEnabled(false);
    hidden->setVisible(false);
}

std::vector<CHoverButton*> CTaskBar::KeyboardButtons() const
{
    std::vector<CHoverButton*> buttons;
    for (const ButtonSpec& spec : kButtons) {
        CHoverButton* button = this->*spec.member;
        if (button->isVisible() && button->isEnabled())
            buttons.push_back(button);
    }
    return buttons;
}

void CTaskBar::keyPressEvent(QKeyEvent* event)
{
    int step = 0;
    if (event->key() == Qt::Key_Down || event->key() == Qt::Key_Right)
        step = 1;
    else if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Left)
        step = -1;
    const std::vector<CHoverButton*> buttons = KeyboardButtons();
    const auto focused = std::find(buttons.begin(), buttons.end(), focusWidget());
    if (step == 0 || focused == buttons.end()) {
        QWidget::keyPressEvent(event);
        return;
    }
    // Round the ends, as F6 goes round the panes.
    const int count = static_cast<int>(buttons.size());
    const int next = (static_cast<int>(focused - buttons.begin()) + step + count) % count;
    buttons[next]->setFocus(Qt::TabFocusReason);
    event->accept();
}

void CTaskBar::OnCommand(int command)
{
    switch (command) {
    case TASK_SYNC_OFF:
    case TASK_SYNC_ON:
        if (readSync && writeSync)
            writeSync(readSync() ? 0 : 1);
        UpdateSyncButtons();
        break;
    case TASK_SEND_TO:
        OnSendTo();
        break;
    default:
        emit commandRequested(command);
        break;
    }
}

void CTaskBar::OnSendTo()
{
    const QString path = outputPath ? QString::fromStdString(outputPath()) : QString();
    sendTo.Run(this, sendToButton->geometry().topLeft(), path);
}

void CTaskBar::paintEvent(QPaintEvent*)
{
    // The backing store already double-buffers; painting gradient and picture in one pass over
    // an opaque widget keeps the pane free of flicker.
    QPainter painter(this);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, QColor(0xDD, 0xEC, 0xFF));
    gradient.setColorAt(1, QColor(0x4A, 0x7A, 0xC9));
    painter.fillRect(rect(), gradient);
    if (!background.isNull())
        painter.drawPixmap(6, 15, background);
}

} // namespace corvane
