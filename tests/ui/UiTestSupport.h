// Shared pieces of the desktop program's tests: the QApplication, a private user environment
// (program folder, settings, runtime folder) per test, prompts that answer instead of a user, and
// synthetic mouse events sent straight to a widget.
#pragma once

#include "support/TempDir.h"
#include "ui/Prompts.h"

#include <QDialog>
#include <QMouseEvent>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

using namespace corvane;

// Points CORVANE_HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_RUNTIME_DIR into a fresh
// temporary folder for the object's life, and restores the previous values afterwards.
class PrivateEnvironment {
public:
    PrivateEnvironment();
    ~PrivateEnvironment();
    PrivateEnvironment(const PrivateEnvironment&) = delete;
    PrivateEnvironment& operator=(const PrivateEnvironment&) = delete;

    std::string Home() const { return folder.File("home"); }
    std::string ChannelsFile() const { return Home() + "/Corvane.Cha"; }
    std::string ConfigFile() const { return Home() + "/Corvane.conf"; }
    std::string RuntimeFolder() const { return folder.File("run"); }
    const TempDir& Folder() const { return folder; }
    // Writes the channels file.
    void WriteChannels(const std::string& opml) const;

private:
    TempDir folder;
    std::vector<std::pair<QByteArray, QByteArray>> saved;
};

// Answers every modal question from a script and records what was asked.
class ScriptedPrompts : public CPrompts {
public:
    ScriptedPrompts();
    ~ScriptedPrompts() override;

    struct MessageRecord {
        QString caption;
        QString text;
        QMessageBox::Icon icon;
    };
    std::vector<MessageRecord> messages;
    // The class names of the dialogs run, in order.
    QStringList dialogsRun;
    // Answers a modal dialog (it may fill in fields first); default: Cancel (2).
    std::function<int(QDialog&)> answerDialog;
    // Paths "chosen" in the file dialogs; empty: cancelled.
    QString openFileAnswer;
    QString saveFileAnswer;
    // The filter entry "chosen" with saveFileAnswer; empty: the first entry of the filter.
    QString saveFilterAnswer;
    QString lastFilter;
    QString lastDefaultSuffix;

    void Message(QWidget* parent, const QString& caption, const QString& text,
        QMessageBox::Icon icon) override;
    QString OpenFileName(
        QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    QString SaveFileName(
        QWidget* parent, const QString& filter, const QString& defaultSuffix) override;
    QString SaveFileNameAndFilter(QWidget* parent, const QString& filter,
        const QString& defaultSuffix, QString& chosenFilter) override;
    int RunDialog(QDialog& dialog) override;

private:
    CPrompts* previous;
};

// Mouse events delivered directly, so no double click is synthesised between them.
void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& pos,
    Qt::MouseButton button = Qt::LeftButton, Qt::MouseButtons buttons = Qt::LeftButton);

// Processes events until condition holds or timeoutMs passed; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// The subscription tree used by the view tests:
//   My Subscriptions
//     News (group): Alpha Daily, Beta Times
//     Podcasts (group): Science Hour, Deep (group): Inner Feed
//     Weather (feed)
std::string SampleChannels();
