#include "platform/Diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace corvane {

bool DebugEnabled()
{
    static const bool enabled = std::getenv("CORVANE_DEBUG") != nullptr;
    return enabled;
}

void DebugLine(const char* format, ...)
{
    if (!DebugEnabled())
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

} // namespace corvane
