// huge_attribute: ReadFeedFile and ReadOutlineFile on a document whose one attribute is 6 MB
// against the same reader on 6 MB of ordinary items or outlines. Expat parses an unfinished
// token again from its start at every piece it is given, so a reader that fed it pieces of a
// fixed size would take time in the square of the attribute's length. Prints each time (best of
// several runs) and the ratio time(huge attribute) / time(ordinary document) (goal: at most 3).
#include "formats/CorvaneDoc.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <unistd.h>

using namespace corvane;

namespace {

constexpr std::size_t kBytes = 6 << 20;

std::string HugeAttributeFeed()
{
    return "<rss><channel><title>T</title><item><title>E</title><enclosure url=\"http://x/"
        + std::string(kBytes, 'a')
        + ".mp3\" type=\"audio/mpeg\" length=\"1\"/></item></channel></rss>\n";
}

std::string OrdinaryFeed()
{
    std::string feed = "<rss><channel><title>T</title>\n";
    for (std::size_t n = 0; feed.size() < kBytes; ++n)
        feed += "<item><title>Episode " + std::to_string(n)
            + "</title><enclosure url=\"http://x/e.mp3\" type=\"audio/mpeg\" length=\"1\"/>"
              "</item>\n";
    return feed + "</channel></rss>\n";
}

std::string HugeAttributeOutline()
{
    return "<opml version=\"1.0\"><body><outline title=\"" + std::string(kBytes, 't')
        + "\" xmlUrl=\"http://x/f\"/></body></opml>\n";
}

std::string OrdinaryOutline()
{
    std::string opml = "<opml version=\"1.0\"><body>\n";
    for (std::size_t n = 0; opml.size() < kBytes; ++n)
        opml += "<outline title=\"Feed " + std::to_string(n) + "\" xmlUrl=\"http://x/"
            + std::to_string(n) + "\"/>\n";
    return opml + "</body></opml>\n";
}

bool Write(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    const bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return (file && std::fclose(file) == 0) && written;
}

double Best(int runs, const std::function<int()>& work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (work() != 1) {
            std::fprintf(stderr, "huge_attribute: a read failed\n");
            std::exit(1);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

double ReadFeed(const std::string& path)
{
    return Best(3, [&path] {
        std::unique_ptr<CFeedChannel> channel;
        return CCorvaneDoc::ReadFeedFile(path, channel);
    });
}

double ReadOutline(const std::string& path)
{
    return Best(3, [&path] {
        std::unique_ptr<COutlineHead> head;
        std::unique_ptr<COutlineItem> root;
        return CCorvaneDoc::ReadOutlineFile(path, head, root);
    });
}

void Compare(const char* what, double huge, double ordinary)
{
    std::printf("%s: huge attribute %.3f s, ordinary %.3f s, ratio %.2f (goal <= 3)\n", what, huge,
        ordinary, huge / ordinary);
}

} // namespace

int main()
{
    char folder[] = "/tmp/corvane-huge-attribute-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::fprintf(
            stderr, "huge_attribute: cannot create a temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string base(folder);
    const std::pair<std::string, std::string> files[] = {
        {base + "/huge.rss", HugeAttributeFeed()},
        {base + "/ordinary.rss", OrdinaryFeed()},
        {base + "/huge.opml", HugeAttributeOutline()},
        {base + "/ordinary.opml", OrdinaryOutline()},
    };
    for (const auto& [path, bytes] : files) {
        if (!Write(path, bytes)) {
            std::fprintf(stderr, "huge_attribute: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    Compare("ReadFeedFile", ReadFeed(files[0].first), ReadFeed(files[1].first));
    Compare("ReadOutlineFile", ReadOutline(files[2].first), ReadOutline(files[3].first));
    for (const auto& file : files)
        ::unlink(file.first.c_str());
    ::rmdir(folder);
    return 0;
}
