#include "platform/DiskFull.h"

#include <cerrno>
#include <cstring>

namespace corvane {

bool IsDiskFullReason(std::string_view reason)
{
    for (const int error : {ENOSPC, EDQUOT}) {
        if (reason.find(std::strerror(error)) != std::string_view::npos)
            return true;
    }
    return false;
}

std::string DiskFullText(const std::string& path)
{
    return "The disk is full: " + path + " cannot be written. Free some space and try again.";
}

} // namespace corvane
