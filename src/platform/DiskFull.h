// The one way a full disk (or a spent disk quota) is told to the user. A download, the package,
// the channels file and the cache index all fail with a reason that ends in the system's text of
// the error (strerror, as AtomicFile and the fetcher write it); when that error is ENOSPC or
// EDQUOT the user needs to free space, not to check the network. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// True when reason holds the system's text of ENOSPC or EDQUOT (in the process's locale, as
// strerror gives it).
bool IsDiskFullReason(std::string_view reason);

// "The disk is full: <path> cannot be written. Free some space and try again."
std::string DiskFullText(const std::string& path);

} // namespace corvane
