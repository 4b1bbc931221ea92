// Send To targets: where the package file can go, found afresh each time they are asked for,
// in this order:
//   1. desktop entries in <program folder>/SendTo/*.desktop (Name and Exec; the Exec line's %f
//      becomes the package path), sorted by name;
//   2. mounted removable volumes (the package is copied onto the volume's top folder);
//   3. the storages of mounted MTP and PTP devices (send/PhoneMounts.h; the package is copied
//      into the storage's top folder), "<device> – <storage>";
//   4. KDE Connect devices that are reachable, when kdeconnect-cli is installed;
//   5. "Bluetooth Device...", when bluetooth-sendto is installed;
//   6. "Folder..." (always): the package is copied into a folder the user chooses.
// The desktop program shows them as its Send To menu, corvane-cli lists them and sends to one by
// its label. Handing the package over is send/HandOver.h.
//
// Thread: any, one call at a time per object. Finding KDE Connect devices waits up to three
// seconds for kdeconnect-cli.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

namespace corvane {

struct SendToTarget {
    enum class Kind {
        Program, // run program with arguments (field codes expanded with the package)
        Volume, // copy into folder: a removable volume or a phone's storage
        ChooseFolder, // ask for a folder, then copy into it
    };
    Kind kind = Kind::Program;
    QString label; // the menu text, and the name corvane-cli knows the target by
    QString program; // Program: the executable (a name found on PATH, or a path)
    QStringList arguments; // Program: arguments, still holding the desktop-entry field codes
    QString folder; // Volume: where the package goes
};

// Where targets come from. FromEnvironment() fills it from the system:
//   sendToFolder: GetProgramFolder() + "SendTo";
//   volumeFolders: the folders named in $CORVANE_SENDTO_VOLUMES (':'-separated) when that is
//     set, else the writable mounted volumes under /run/media/$USER and /media/$USER (phones
//     mounted there by an MTP file system are left to phoneMounts);
//   gvfsFolder: $XDG_RUNTIME_DIR/gvfs (empty without XDG_RUNTIME_DIR);
//   mountsFile: $CORVANE_MOUNTS_FILE when set, else /proc/self/mounts;
//   kdeConnectCli / bluetoothSendTo: the programs' paths on PATH, or empty.
struct SendToSources {
    QString sendToFolder;
    QStringList volumeFolders;
    QString gvfsFolder;
    QString mountsFile;
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

} // namespace corvane
