// read_feed: ReadFeedFile on a generated ~50 MB feed against a bare expat parse of the same file
// with no handlers installed, both fed in the same 256-byte pieces, and against a bare parse fed
// in 1 MB pieces. Prints each time (best of several runs) and the reader's speed as a fraction
// of the bare parse's (goal: at least 0.5).
#include "formats/CorvaneDoc.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace corvane;

namespace {

double Seconds(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// The feed: many items, each with a long description in several lines and an enclosure.
std::string GenerateFeed(std::size_t targetBytes)
{
    std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n"
                       "<channel>\n\t<title>Bench &amp; Co</title>\n\t<link>http://x/</link>\n";
    std::string paragraph;
    for (int i = 0; i < 40; ++i)
        paragraph += "Lorem ipsum dolor sit amet, consectetur adipiscing elit &amp; more. ";
    for (std::size_t n = 0; feed.size() < targetBytes; ++n) {
        const std::string number = std::to_string(n);
        feed += "\t<item>\n\t\t<title>Episode " + number + "</title>\n";
        feed += "\t\t<link>http://x/e/" + number + "</link>\n\t\t<description>";
        for (int line = 0; line < 4; ++line) {
            feed += paragraph;
            feed += '\n';
        }
        feed += "</description>\n\t\t<guid>urn:e:" + number + "</guid>\n";
        feed += "\t\t<enclosure url=\"http://x/e/" + number
            + ".mp3\" type=\"audio/mpeg\" length=\"12345678\"/>\n\t</item>\n";
    }
    feed += "</channel>\n</rss>\n";
    return feed;
}

// Expat with no handlers over the file, pieceSize bytes at a time; 1 when well-formed.
int BareParse(const std::string& path, int pieceSize)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    XML_Parser parser = XML_ParserCreate(nullptr);
    int ok = parser != nullptr;
    while (ok) {
        void* buffer = XML_GetBuffer(parser, pieceSize);
        if (!buffer) {
            ok = 0;
            break;
        }
        const ssize_t got = ::read(fd, buffer, static_cast<std::size_t>(pieceSize));
        if (got < 0) {
            ok = 0;
            break;
        }
        ok = XML_ParseBuffer(parser, static_cast<int>(got), got == 0) == XML_STATUS_OK;
        if (got == 0)
            break;
    }
    if (parser)
        XML_ParserFree(parser);
    ::close(fd);
    return ok;
}

template <typename Work> double Best(int runs, Work&& work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) {
            std::fprintf(stderr, "read_feed: a parse failed\n");
            std::exit(1);
        }
        best = std::min(best, Seconds(std::chrono::steady_clock::now() - start));
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 50;
    const int runs = 3;
    char folder[] = "/tmp/corvane-read-feed-XXXXXX";
    if (!::mkdtemp(folder)) {
        std::fprintf(
            stderr, "read_feed: cannot create a temporary folder: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string path = std::string(folder) + "/feed.rss";
    {
        const std::string feed = GenerateFeed(megabytes << 20);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(feed.data(), 1, feed.size(), file) != feed.size()
            || std::fclose(file) != 0) {
            std::fprintf(stderr, "read_feed: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("feed: %.1f MB\n", feed.size() / 1048576.0);
    }

    std::size_t items = 0;
    const double reader = Best(runs, [&] {
        std::unique_ptr<CFeedChannel> channel;
        const int result = CCorvaneDoc::ReadFeedFile(path, channel);
        items = channel->ItemCount();
        return result;
    });
    const double bareSmall = Best(runs, [&] { return BareParse(path, 256); });
    const double bareLarge = Best(runs, [&] { return BareParse(path, 1 << 20); });

    std::printf("ReadFeedFile (256-byte pieces, %zu items): %.3f s\n", items, reader);
    std::printf("bare expat, 256-byte pieces:              %.3f s\n", bareSmall);
    std::printf("bare expat, 1 MB pieces:                  %.3f s\n", bareLarge);
    std::printf("speed ratio vs bare 256-byte parse: %.2f (goal >= 0.5)\n", bareSmall / reader);
    std::printf("speed ratio vs bare 1 MB parse:     %.2f\n", bareLarge / reader);

    ::unlink(path.c_str());
    ::rmdir(folder);
    return 0;
}
