// CPrompts: the program's modal questions (message boxes, file dialogs, modal dialogs) behind one
// replaceable object, so that the widget tests answer them instead of a user and never block.
//
// Thread: GUI thread only. The object installed with SetPrompts is not owned.
#pragma once

#include <QMessageBox>
#include <QString>

class QDialog;
class QWidget;

namespace corvane {

// The text with the first letter of each paragraph (after a blank line) in upper case. The core
// writes its messages to follow a program's name ("corvane-cli: cannot ..."); a message box shows
// them as sentences.
QString Capitalized(const QString& text);

// Runs dialog modal to its own window only: the rest of the program (the tray icon's menu with
// Open and Exit) stays usable. A dialog without a parent is modal to the whole program.
int ExecModal(QDialog& dialog);

class CPrompts {
public:
    virtual ~CPrompts() = default;

    // A message box with an OK button.
    virtual void Message(
        QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon);

    // The chosen path, or an empty text when the user cancelled. filter uses Qt's syntax
    // ("Description (*.a *.b);;..."); defaultSuffix is added to a name typed without one.
    virtual QString OpenFileName(
        QWidget* parent, const QString& filter, const QString& defaultSuffix);
    // As OpenFileName; asks before overwriting an existing file.
    virtual QString SaveFileName(
        QWidget* parent, const QString& filter, const QString& defaultSuffix);

    // As SaveFileName for a filter of several entries; chosenFilter receives the entry the user
    // left selected, and a name typed without an extension gets that entry's own (its first
    // pattern's) rather than defaultSuffix.
    virtual QString SaveFileNameAndFilter(QWidget* parent, const QString& filter,
        const QString& defaultSuffix, QString& chosenFilter);

    // Runs a modal dialog: 1 for OK/Yes, 2 for Cancel, Escape or the close box.
    virtual int RunDialog(QDialog& dialog);
};

// The prompts in use: the ones installed last, else a default that asks the user.
CPrompts& Prompts();
// Installs replacement (not owned; null restores the default) and returns the previous one.
CPrompts* SetPrompts(CPrompts* replacement);

} // namespace corvane
