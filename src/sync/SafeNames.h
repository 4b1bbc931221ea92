// Names of the folders and files that a sync writes onto a phone's storage, a memory card or a
// USB stick. Those are FAT32 or exFAT more often than not, and their rules are the strictest a
// sync meets: no \ / : * ? " < > |, no control characters, no trailing dot or space, at most
// 255 UTF-16 units a name, and names that differ only in letter case are the same name. Many
// players also give up on paths longer than about 255 units, so names are kept well inside:
// a folder name of at most MAX_FOLDER_NAME_UNITS, a file name of at most MAX_FILE_NAME_UNITS,
// and "<sync folder>/<feed folder>/<file>" then stays within 243 units.
//
// Pure functions and a plain value class; any thread.
#pragma once

#include <QSet>
#include <QString>

namespace corvane {

constexpr int MAX_FOLDER_NAME_UNITS = 60;
constexpr int MAX_FILE_NAME_UNITS = 120;

// text as a safe name with extension (".mp3", or empty) of at most maxUnits UTF-16 units:
// each forbidden character and control character becomes '_', runs of white space one space,
// white space at either end and dots at the end go; the stem is cut to fit, never inside a
// surrogate pair, and trimmed again. An empty stem becomes "Untitled"; a stem that a DOS device
// name would shadow ("CON", "nul", "COM1") gets a '_'. The extension itself is taken as it is.
QString SafeName(const QString& text, const QString& extension, int maxUnits);

// The names of one folder, handed out so that no two of them are one name for FAT: letter case
// aside (Unicode case folding).
class NameClaims {
public:
    // Marks name as taken (a file that is not ours, a name reserved for another use).
    void Take(const QString& name);
    bool IsTaken(const QString& name) const;
    // SafeName(stem, extension, maxUnits) when it is free, else the first free of its numbered
    // forms "<stem> (2)<extension>", "<stem> (3)<extension>"..., each within maxUnits; the name
    // given is taken from then on.
    QString Claim(const QString& stem, const QString& extension, int maxUnits);

private:
    QSet<QString> taken; // case-folded
};

} // namespace corvane
