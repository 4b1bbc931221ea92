// Where Corvane keeps its files.
//
// The program folder holds the channels file "Corvane.Cha", the download cache "data/", the
// help and the Send To targets (and, when it is not the default one, the settings file). It is
// $CORVANE_HOME when set, else $XDG_DATA_HOME/Corvane (~/.local/share/Corvane when XDG_DATA_HOME
// is unset); it is created on first use and never is the executable's folder.
#pragma once

#include <string>

namespace corvane {

// The program folder, ending in '/'. Created (with parents) when missing; a failure to create it
// is not reported here (the files inside then fail to open, and those callers report it).
std::string GetProgramFolder();

// The download cache: GetProgramFolder() followed by "data/". Not created here.
std::string GetDataFolder();

// Creates the data folder when missing. Returns false when it does not exist afterwards.
bool CreateDataFolder();

// The channels file: GetProgramFolder() followed by "Corvane.Cha".
std::string GetChannelsFilePath();

// The per-feed choices, beside the channels file and never in it: GetProgramFolder() followed
// by "FeedOptions.json".
std::string GetFeedOptionsFilePath();

// A per-user folder for temporary files (backups, private downloads), with mode 0700, ending
// in '/': $XDG_RUNTIME_DIR/corvane when that exists, else $TMPDIR (or /tmp) followed by
// "corvane-<uid>", checked to be owned by this user and not reachable by others. Created when
// missing. Never a predictable name that another user could have made first: when the usual
// folder exists but is not a private folder of this user (a link, another owner, open to
// others), it is left alone and a folder with an unguessable name (mkdtemp) is made instead,
// once per process. Empty when no private folder can be made at all. Any thread.
std::string GetPrivateTempFolder();

// The private folder of the program folder's backups ("rchnlbak%03d.cbf") and of the command
// line's undo depth, ending in '/': GetPrivateTempFolder() + "backups-" + 16 hex digits of the
// SHA-256 of the program folder's absolute path (links resolved), so that each program folder
// ($CORVANE_HOME) undoes only its own changes. Mode 0700; created when missing; refused like the
// private temporary folder when it is not a private folder of this user. Empty when it cannot
// be had. Creates the program folder. Any thread.
std::string GetBackupFolder();

// The program folder's path as GetProgramFolder gives it, without creating anything (a reader
// such as "extract" must not leave a folder behind merely by asking for names).
std::string ProgramFolderPath();

// Empty when the program folder is a folder (through links) or does not exist yet; else why it
// cannot be one, naming it: "the program folder <path> is not a folder (a regular file)". A
// file there would make every reader find nothing and every writer fail.
std::string ProgramFolderProblem();

// The program folder of a session without CORVANE_HOME: $XDG_DATA_HOME/Corvane/ (when set and
// absolute), else ~/.local/share/Corvane/. Creates nothing.
std::string DefaultProgramFolderPath();

// True when CORVANE_HOME names another folder than DefaultProgramFolderPath() (links resolved).
// Such a program folder keeps its own settings file, so that two folders are two set-ups.
bool IsOwnProgramFolder();

} // namespace corvane
