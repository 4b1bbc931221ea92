// The RSS reader on any bytes: never a crash, a leak or a hang; and the result must not depend
// on the piece size the document is fed in.
#include "formats/RssReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace corvane;

namespace {

std::size_t CountItems(const CFeedChannel& channel)
{
    std::size_t count = 0;
    for (const CFeedItem* item = channel.firstItem.get(); item; item = item->nextItem.get())
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks a small piece size for the second read.
    const std::size_t smallPiece = 1 + data[0] % 7;
    const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::unique_ptr<CFeedChannel> whole;
    std::unique_ptr<CFeedChannel> pieces;
    const int wholeResult = ReadFeedBytes(document, whole);
    const int piecesResult = ReadFeedBytes(document, pieces, nullptr, smallPiece);
    if (!whole || !pieces)
        std::abort();
    // A failed parse may stop at a different point inside the last piece; a whole one may not.
    if (wholeResult != piecesResult)
        std::abort();
    if (wholeResult == 1
        && (whole->title != pieces->title || whole->description != pieces->description
            || CountItems(*whole) != CountItems(*pieces)))
        std::abort();
    return 0;
}
