// The OPML reader on any bytes, and the writer on whatever it read: never a crash, a leak or a
// hang; whatever was read writes a document that reads again; and from the first round trip on
// the feeds (every childless node with an address, in tree order, with all their attributes)
// stay the same. Groups may still shrink: a group whose children are all empty groups is written
// with an opening and a closing tag and reads back as an empty group, one level per round trip.
#include "formats/OutlineReader.h"
#include "formats/OutlineWriter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

using namespace corvane;

namespace {

struct Read {
    int result = 0;
    std::unique_ptr<COutlineHead> head;
    std::unique_ptr<COutlineItem> root;
};

Read ReadOutline(std::string_view document, std::size_t pieceSize)
{
    Read read;
    read.result = ReadOutlineBytes(document, read.head, read.root, nullptr, pieceSize);
    if (!read.head || !read.root)
        std::abort();
    return read;
}

void AddField(std::string& out, const TextField& field)
{
    out += field ? "[" + *field + "]" : std::string("-");
}

// The feeds under root in tree order, one line each.
std::string Feeds(const COutlineItem& root)
{
    std::string out;
    std::vector<const COutlineItem*> pending;
    if (root.firstChild)
        pending.push_back(root.firstChild.get());
    while (!pending.empty()) {
        const COutlineItem* node = pending.back();
        pending.pop_back();
        if (node->nextSibling)
            pending.push_back(node->nextSibling.get());
        if (node->firstChild) {
            pending.push_back(node->firstChild.get());
        } else if (node->xmlurl) {
            for (const TextField* field : {&node->title, &node->type, &node->htmlurl, &node->xmlurl,
                     &node->description, &node->text})
                AddField(out, *field);
            out += '\n';
        }
    }
    return out;
}

// A tree whose values are pieces of raw bytes (as a command line could give them): the written
// document must read back whole, with every feed.
void CheckRawValues(std::string_view bytes)
{
    COutlineItem root;
    COutlineItem* group = nullptr;
    std::size_t feeds = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = std::min(bytes.size(), bytes.find('\x00', start));
        auto node = std::make_unique<COutlineItem>();
        node->title = std::string(bytes.substr(start, end - start));
        node->xmlurl = std::string(bytes.substr(start, std::min<std::size_t>(end - start, 8)));
        node->text = std::string(bytes.substr(start + (end - start) / 2, (end - start + 1) / 2));
        ++feeds;
        if (!group) {
            auto made = std::make_unique<COutlineItem>();
            made->title = node->text;
            group = made.get();
            root.AppendChild(std::move(made));
        }
        group->AppendChild(std::move(node));
        start = end + 1;
    }
    const Read read = ReadOutline(OutlineDocumentText(root), 256);
    std::size_t readFeeds = 0;
    const COutlineItem* readGroup = read.root->firstChild.get();
    for (const COutlineItem* node = readGroup ? readGroup->firstChild.get() : nullptr; node;
         node = node->nextSibling.get())
        readFeeds += node->IsFeed() ? 1 : 0;
    if (read.result != 1 || readFeeds != feeds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::size_t piece = data[0] % 2 ? 256 : 1 + data[0] % 5;
    const std::string_view document(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Read first = ReadOutline(document, piece);
    const std::string firstText = OutlineDocumentText(*first.root);
    const Read second = ReadOutline(firstText, 256);
    if (second.result != 1)
        std::abort();
    const Read third = ReadOutline(OutlineDocumentText(*second.root), 256);
    if (third.result != 1 || Feeds(*third.root) != Feeds(*second.root))
        std::abort();
    CheckRawValues(document.substr(0, 4096));
    return 0;
}
