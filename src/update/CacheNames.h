// The download cache's file names.
#pragma once

#include "platform/Paths.h"

#include <string>

namespace corvane {

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

} // namespace corvane
