// The download cache's file names.
#pragma once

#include "platform/Paths.h"

#include <cstdint>
#include <string>

namespace corvane {

// Cache file kinds, numbered like the package record types.
constexpr int CACHE_FEED = 0; // ".xml"
constexpr int CACHE_MP3 = 1; // ".mp3"
constexpr int CACHE_AMR = 2; // ".amr"

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

// What a conversion of an MP3 to AMR is made with (ConvertMp3ToAmr's parameters).
struct AmrSettings {
    int mode = 0; // 0..7
    int volumeIndex = 4; // 0..7
    int limitOn = 0; // nonzero: only the first lengthSeconds are kept
    std::uint32_t lengthSeconds = 0; // counts only while limitOn is nonzero
};

// The kept conversion of the MP3 at mp3Path (a cache file) with settings: the MP3's path without
// ".mp3", then "~a", 16 hexadecimal digits of a SHA-256 digest over the MP3's file name, size,
// modification time (in nanoseconds) and inode and over the settings, and ".amr". Another
// version of the MP3 (a download replaces the file, so its inode or time changes) or other
// settings give another name; the same give the same one, so a conversion is made only once.
// The 260/250-byte rule applies, the cut keeping "~a", the digest and ".amr". Plain names and
// their variants never end in "~a" + digest + ".amr" (plain names hold no "~", variants end in
// ".xml" or ".mp3"), so a kept file never takes another cache file's name. Empty when the MP3
// cannot be looked at (it does not exist).
std::string KeptAmrPath(const std::string& mp3Path, const AmrSettings& settings);

// True for a file name (without folder) that CacheFileName, its variants or KeptAmrPath can
// give: one of the extensions ".xml", ".mp3" or ".amr" after a non-empty name that holds no
// printable ASCII punctuation but '_' and '~'.
bool IsCacheFileName(const std::string& fileName);

// True for a file name (without folder) of the form KeptAmrPath gives.
bool IsKeptAmrName(const std::string& fileName);

// True when fileName (without folder) is a kept conversion of the MP3 at mp3Path, of any version
// and settings, under a name that was not cut. (A cut name may as well be another MP3's whose
// name begins the same: those are never taken for this MP3's.)
bool IsWholeKeptAmrNameOf(const std::string& fileName, const std::string& mp3Path);

} // namespace corvane
