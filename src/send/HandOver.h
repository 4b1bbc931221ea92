// Handing the package to one Send To target (send/SendTargets.h): the copy onto a volume, a
// phone's storage or a folder (send/PackageCopy.h), or a target's program run with the
// package's path. The desktop program starts programs detached, corvane-cli waits for them;
// both say afterwards where the package went.
//
// Programs start with an argument list, never through a shell. Thread: any.
#pragma once

#include "send/SendTargets.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace corvane {

// What a hand-over came to.
struct HandOverResult {
    bool sent = false;
    QString error; // when not sent: a sentence naming the file or program and the cause
    QString copyPath; // a copy: the package's path at the target
};

// Runs a target's program with its arguments (field codes expanded); an empty string when it
// did its part, else the reason it did not.
using ProgramRunner = std::function<QString(const QString& program, const QStringList& arguments)>;

// Starts the program detached (its own windows carry on); fails only when it cannot start.
QString StartProgramDetached(const QString& program, const QStringList& arguments);
// Runs the program and waits for its end, its output passed through: fails when it cannot
// start, ends with a status other than 0, or still runs after the time limit
// ($CORVANE_SEND_PROGRAM_TIMEOUT seconds, default 600; it is killed then). kdeconnect-cli ends
// once the device has the file queued; its transfer may still be running.
QString RunProgramToItsEnd(const QString& program, const QStringList& arguments);

// Hands the package at packagePath to target: a Volume gets a copy in its folder, a
// ChooseFolder target a copy in chosenFolder, a Program target runs through run.
HandOverResult HandOver(const SendToTarget& target, const QString& packagePath,
    const ProgramRunner& run, const QString& chosenFolder = QString());

// Where the package went, for the status bar and the command line: "Sent corvane.mrf to Acme
// Phone X1 – Internal shared storage (/run/user/1000/gvfs/.../corvane.mrf)." for a copy, "Handed
// corvane.mrf to Ann Phone (KDE Connect)." for a program.
QString HandOverReport(
    const SendToTarget& target, const QString& packagePath, const HandOverResult& result);

// The target that name picks for corvane-cli: the target labelled name (when no label matches
// exactly: letter case, runs of spaces and '-' for the en dash aside), else an existing folder at
// the path name (a copy into it, labelled by the folder's path). "Folder..." is never picked: its
// folder is the path. False with a message when no target or more than one has that name.
bool PickTarget(const std::vector<SendToTarget>& targets, const QString& name, SendToTarget& picked,
    QString& error);

// The labels corvane-cli lists: every target but "Folder...".
QStringList ListedLabels(const std::vector<SendToTarget>& targets);

} // namespace corvane
