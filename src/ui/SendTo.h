// Send To: hands the package file to a target the user picks from a menu.
//
// Targets are found afresh each time the menu opens, in this order:
//   1. desktop entries in <program folder>/SendTo/*.desktop (Name and Exec; the Exec line's %f
//      becomes the package path), sorted by name;
//   2. mounted removable volumes (the package is copied onto the volume's top folder);
//   3. KDE Connect devices that are reachable, when kdeconnect-cli is installed;
//   4. "Bluetooth...", when bluetooth-sendto is installed;
//   5. "Folder..." (always): the package is copied into a folder the user chooses.
// External programs start detached with an argument list, never through a shell. Copies are
// written under a temporary name in the target folder and renamed over the final name, so a
// failed copy never leaves a partial package behind.
//
// Everything here runs on the GUI thread.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QMenu;
class QAction;
class QWidget;

namespace corvane {

struct SendToTarget {
    enum class Kind {
        Program, // run program with arguments (field codes expanded with the package)
        Volume, // copy into folder
        ChooseFolder, // ask for a folder, then copy into it
    };
    Kind kind = Kind::Program;
    QString label; // the menu text
    QString program; // Program: the executable (a name found on PATH, or a path)
    QStringList arguments; // Program: arguments, still holding the desktop-entry field codes
    QString folder; // Volume: where the package goes
};

// Where targets come from. FromEnvironment() fills it from the system:
//   sendToFolder: GetProgramFolder() + "SendTo";
//   volumeFolders: the folders named in $CORVANE_SENDTO_VOLUMES (':'-separated) when that is
//     set, else the writable mounted volumes under /run/media/$USER and /media/$USER;
//   kdeConnectCli / bluetoothSendTo: the programs' paths on PATH, or empty.
struct SendToSources {
    QString sendToFolder;
    QStringList volumeFolders;
    QString kdeConnectCli;
    QString bluetoothSendTo;
    static SendToSources FromEnvironment();
};

// Splits a desktop entry's Exec value into arguments by the entry format's quoting rules
// (double quotes, backslash escapes inside them, and the doubled backslash of the file's string
// escapes). Returns false on an unterminated quote.
bool SplitExecLine(const QString& exec, QStringList& arguments);

// Replaces the field codes: %f and %F by the file path, %u and %U by its file:// address, %c by
// the target's name, %% by '%'; drops %i, %k and the deprecated codes. An argument that is only
// a dropped code disappears. When no file code occurs the path is appended as the last argument.
QStringList ExpandFieldCodes(
    const QStringList& arguments, const QString& filePath, const QString& name);

// Reads one desktop entry. Returns false (target untouched) for a file that is not a readable
// "[Desktop Entry]" of type Application with a Name and a usable Exec, or that is Hidden.
bool ReadDesktopEntry(const QString& path, SendToTarget& target);

// Parses `kdeconnect-cli --list-available --id-name-only`: one device a line, its id, a space,
// its name. Blank lines are skipped.
std::vector<std::pair<QString, QString>> ParseKdeConnectDevices(const QByteArray& output);

// All targets from sources, in the order of the header. Never empty: "Folder..." is last.
std::vector<SendToTarget> FindSendToTargets(const SendToSources& sources);

// Copies the file at sourcePath into folder under its own file name, through a temporary file
// in folder renamed over the final name. Copying a file onto itself changes nothing. Returns an
// empty string on success, else a message naming the file and the cause.
QString CopyFileInto(const QString& sourcePath, const QString& folder);

// The Send To menu of one window. Holds the hooks that tests replace.
class CSendTo {
public:
    CSendTo();

    enum class Outcome {
        NoPackage, // the warning was shown
        Cancelled, // the menu closed without a choice (or the folder dialog was cancelled)
        Sent, // the copy was made or the program was started
        Failed, // an error message was shown
    };

    // Checks that packagePath opens for reading (else the "Warning" message and NoPackage),
    // finds the targets, shows them as a menu with its top-left corner at the owner's client
    // point, and hands the package to the chosen target.
    Outcome Run(QWidget* owner, QPoint clientPoint, const QString& packagePath);

    // The last menu's targets, in menu order (for tests).
    const std::vector<SendToTarget>& Targets() const { return targets; }

    // Hooks. sources: where targets come from (default FromEnvironment). message: a box with the
    // caption and text (default QMessageBox with the exclamation icon). execMenu: shows the menu
    // at a global point and returns the chosen action or null (default QMenu::exec).
    // chooseFolder: the "Folder..." dialog, empty for Cancel. startProgram: starts detached
    // (default QProcess::startDetached) and returns whether it started.
    std::function<SendToSources()> sources;
    std::function<void(QWidget* owner, const QString& caption, const QString& text)> message;
    std::function<QAction*(QMenu& menu, QPoint globalPoint)> execMenu;
    std::function<QString(QWidget* owner)> chooseFolder;
    std::function<bool(const QString& program, const QStringList& arguments)> startProgram;

private:
    Outcome Send(QWidget* owner, const SendToTarget& target, const QString& packagePath);
    std::vector<SendToTarget> targets;
};

// The warning shown when there is no package to send.
QString NoPackageText();

} // namespace corvane
