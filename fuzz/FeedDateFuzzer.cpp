// Feed dates on any bytes: never a crash or an overflow; a date that is read lies within the
// years that four digits can name, and white space around it changes nothing.
#include "formats/FeedDate.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace corvane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int64_t> seconds = ParseFeedDate(text);
    if (!seconds)
        return 0;
    // Year 0 to 9999, a day of zone offset either side.
    const std::int64_t earliest = DaysFromCivil(0, 1, 1) * 86400 - 86400;
    const std::int64_t latest = DaysFromCivil(9999, 12, 31) * 86400 + 2 * 86400;
    if (*seconds < earliest || *seconds > latest)
        std::abort();
    if (ParseFeedDate(" \t" + std::string(text) + "\r\n") != seconds)
        std::abort();
    return 0;
}
