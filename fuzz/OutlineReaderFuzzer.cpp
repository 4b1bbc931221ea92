// The OPML reader on any bytes, and the writer on whatever it read: never a crash, a leak or a
// hang; whatever was read writes a document that reads again, and after one round trip (which
// drops empty groups and turns line breaks in values into spaces) writing is stable.
#include "formats/OutlineReader.h"
#include "formats/OutlineWriter.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

std::string ReadAndWrite(std::string_view document, std::size_t pieceSize, int* result)
{
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
    *result = ReadOutlineBytes(document, head, root, nullptr, pieceSize);
    if (!head || !root)
        std::abort();
    return OutlineDocumentText(*root);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = data[0] % 2 ? 256 : 1 + data[0] % 5;
    const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);
    int result = 0;
    const std::string first = ReadAndWrite(document, piece, &result);
    int again = 0;
    const std::string second = ReadAndWrite(first, 256, &again);
    if (again != 1)
        std::abort();
    const std::string third = ReadAndWrite(second, 256, &again);
    if (again != 1 || third != second)
        std::abort();
    return 0;
}
