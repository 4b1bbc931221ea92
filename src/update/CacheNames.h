// Where Corvane keeps its files, and the download cache's file names.
//
// The program folder holds the channels file "Corvane.Cha", the download cache "data/", the
// help and the Send To targets. It is $CORVANE_HOME when set, else $XDG_DATA_HOME/Corvane
// (~/.local/share/Corvane when XDG_DATA_HOME is unset); it is created on first use and never is
// the executable's folder.
#pragma once

#include <string>

// The program folder, ending in '/'. Created (with parents) when missing; a failure to create it
// is not reported here (the files inside then fail to open, and those callers report it).
std::string GetProgramFolder();

// The download cache: GetProgramFolder() followed by "data/". Not created here.
std::string GetDataFolder();

// Creates the data folder when missing. Returns false when it does not exist afterwards.
bool CreateDataFolder();

// The channels file: GetProgramFolder() followed by "Corvane.Cha".
std::string GetChannelsFilePath();

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

// Cache file kinds, numbered like the package record types.
constexpr int CACHE_FEED = 0; // ".xml"
constexpr int CACHE_MP3 = 1; // ".mp3"
constexpr int CACHE_AMR = 2; // ".amr", temporary: deleted once packed

// The full path of the cache file for address and kind (any kind other than 1 and 2 is 0):
// the data folder, then the address trimmed of white space, without a leading "http://", with
// every printable ASCII punctuation byte replaced by '_', and the kind's extension; a result
// longer than 260 bytes is shortened to 250 keeping its extension.
// Bytes after an embedded zero byte are ignored (an address is a narrow string). When the data
// folder's own path is so long that the cut would fall inside it, the name keeps its first byte
// and the extension, so that the file always stays inside the data folder.
// Creates the program folder (through GetDataFolder), not the data folder.
std::string CacheFileName(const std::string& address, int kind);

// Another name for the cache file of address and kind, for an address whose CacheFileName is
// taken by the file of a different address: variant 0 is CacheFileName itself; variant 1 and up
// put "~" and 16 hexadecimal digits of a SHA-256 digest of the address (and of the variant
// above 1) before the extension. The 260/250-byte rule applies, the cut keeping the digest and
// the extension. No plain name ever contains "~", so a variant never equals a plain name.
std::string CacheFileNameVariant(const std::string& address, int kind, int variant);

// The file name part of CacheFileName (the path without the data folder), computed without
// creating any folder.
std::string CacheFileNamePart(const std::string& address, int kind);
