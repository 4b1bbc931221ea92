// The task pane on the left edge of the main window: picture buttons for the main commands and
// the two-state "Synchronize Channels" switch, over a gradient and a background picture.
//
// The pane owns its buttons and its Send To menu. It does not own the synchronize flag: it
// reads and writes it through the two hooks the main window sets (the flag belongs to the
// subscriptions). GUI thread only.
#pragma once

#include "ui/SendTo.h"

#include <QPixmap>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

namespace corvane {

class CHoverButton;

// Command identifiers of the pane's buttons.
constexpr int TASK_UPDATE_ALL = 1000;
constexpr int TASK_EXPORT_OPML = 1001;
constexpr int TASK_IMPORT_OPML = 1002;
constexpr int TASK_UPDATE_MARKED = 1003;
constexpr int TASK_UPDATE_CURRENT = 1004;
constexpr int TASK_SYNC_OFF = 1005;
constexpr int TASK_SYNC_ON = 1006;
constexpr int TASK_SEND_TO = 1007;

class CTaskBar : public QWidget {
    Q_OBJECT
public:
    explicit CTaskBar(QWidget* parent = nullptr);
    ~CTaskBar() override;

    // Shows syncOnButton when the flag is 1, syncOffButton when it is 0. The main window calls
    // it after every save of the channels file (which turns the flag on).
    void UpdateSyncButtons();
    // The Send To button: the package from outputPath() through the Send To menu, opened at the
    // button's top-left corner.
    void OnSendTo();

    // Hooks set by the main window. readSync/writeSync: the synchronize flag. outputPath: the
    // package file's path.
    std::function<int()> readSync;
    std::function<void(int)> writeSync;
    std::function<std::string()> outputPath;

    CSendTo& SendTo() { return sendTo; }

    // The buttons, in the order they are created.
    CHoverButton* updateAllButton = nullptr;
    CHoverButton* updateMarkedButton = nullptr;
    CHoverButton* updateCurrentButton = nullptr;
    CHoverButton* importButton = nullptr;
    CHoverButton* exportButton = nullptr;
    CHoverButton* sendToButton = nullptr;
    CHoverButton* syncOffButton = nullptr;
    CHoverButton* syncOnButton = nullptr;

    CHoverButton* Button(int command) const;

signals:
    // One of the commands the view carries out: TASK_UPDATE_ALL, TASK_UPDATE_MARKED,
    // TASK_UPDATE_CURRENT, TASK_IMPORT_OPML or TASK_EXPORT_OPML.
    void commandRequested(int command);

protected:
    void paintEvent(QPaintEvent* event) override;
    // The arrow keys move the keyboard focus between the shown buttons, round the ends.
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<CHoverButton*> KeyboardButtons() const;
    void OnCommand(int command);
    QPixmap background;
    CSendTo sendTo;
};

} // namespace corvane
