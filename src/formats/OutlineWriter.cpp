#include "formats/OutlineWriter.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* lineEnd = "\r\n";

// Length of the well-formed UTF-8 sequence of an XML character at text[i], or 0 when the bytes
// there are not one (a stray or truncated byte, an overlong form, a surrogate, a control
// character other than tab, line feed and carriage return, U+FFFE or U+FFFF).
std::size_t XmlCharacterLength(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return (lead >= 0x20 || lead == '\t' || lead == '\n' || lead == '\r') ? 1 : 0;
    std::size_t length;
    char32_t scalar;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        scalar = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        scalar = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        scalar = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        scalar = (scalar << 6) | (byte(i + k) & 0x3F);
    }
    const bool overlong = (length == 3 && scalar < 0x800) || (length == 4 && scalar < 0x10000);
    const bool outside = (scalar >= 0xD800 && scalar <= 0xDFFF) || scalar == 0xFFFE
        || scalar == 0xFFFF || scalar > 0x10FFFF;
    return overlong || outside ? 0 : length;
}

// The value with every byte that cannot stand in an XML document replaced by U+FFFD. Values
// read from XML or typed into the program never change; a value with such bytes (from a command
// line, say) would otherwise make the written file stop being well-formed at that point, and
// every subscription after it would be lost on the next read.
std::string WellFormedText(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t length = XmlCharacterLength(value, i);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            out.append(value, i, length);
            i += length;
        }
    }
    return out;
}

void AppendAttribute(std::string& out, const char* name, const TextField& value)
{
    if (!value)
        return;
    std::string escaped = WellFormedText(*value);
    EscapeXml(escaped);
    out += ' ';
    out += name;
    out += "=\"";
    out += escaped;
    out += '"';
}

void WriteGroupStart(const COutlineItem& node, std::string& out)
{
    out += "<outline";
    AppendAttribute(out, "title", node.title);
    AppendAttribute(out, "description", node.description);
    out += '>';
    out += lineEnd;
}

void WriteChildless(const COutlineItem& node, std::string& out)
{
    if (!node.xmlurl)
        return; // an empty group leaves no trace
    out += "<outline";
    AppendAttribute(out, "title", node.title);
    AppendAttribute(out, "type", node.type);
    AppendAttribute(out, "htmlurl", node.htmlurl);
    AppendAttribute(out, "xmlurl", node.xmlurl);
    AppendAttribute(out, "description", node.description);
    AppendAttribute(out, "text", node.text);
    out += "/>";
    out += lineEnd;
}

// Owner of a file descriptor and, until Keep(), of the temporary file's name.
class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!path.empty())
            ::unlink(path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // Creates a new file beside target with a name nobody else can have claimed (O_EXCL), with
    // mode 0666 less the umask, like any file the program creates.
    bool Create(const std::string& target)
    {
        const std::string::size_type slash = target.rfind('/');
        const std::string folder
            = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
        static std::atomic<unsigned> counter { 0 };
        std::random_device seed;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = folder + "." + name + "." + std::to_string(::getpid())
                + "." + std::to_string(counter++) + "." + std::to_string(seed() % 1000000) + ".tmp";
            fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                path = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    bool WriteAll(const std::string& bytes)
    {
        const char* data = bytes.data();
        std::size_t left = bytes.size();
        while (left > 0) {
            const ssize_t done = ::write(fd, data, left);
            if (done < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            data += done;
            left -= static_cast<std::size_t>(done);
        }
        return true;
    }

    bool SyncAndClose()
    {
        const bool synced = ::fsync(fd) == 0;
        const bool closed = ::close(fd) == 0;
        fd = -1;
        return synced && closed;
    }

    int Descriptor() const { return fd; }
    const std::string& Path() const { return path; }
    // The file has been renamed into place; it is no longer ours to remove.
    void Keep() { path.clear(); }

private:
    int fd = -1;
    std::string path;
};

} // namespace

void EscapeXml(std::string& text)
{
    // One pass gives the same result as the five replacements in order: the ampersands of the
    // entities added later are never escaped again in either.
    std::string::size_type special = text.find_first_of("&\"'<>");
    if (special == std::string::npos)
        return;
    std::string escaped;
    escaped.reserve(text.size() + 16);
    escaped.append(text, 0, special);
    for (std::string::size_type i = special; i < text.size(); ++i) {
        switch (text[i]) {
        case '&':
            escaped += "&amp;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += text[i];
            break;
        }
    }
    text.swap(escaped);
}

void WriteOutline(const COutlineItem& node, std::string& out)
{
    // The groups whose closing tag is still due, innermost last.
    std::vector<const COutlineItem*> open;
    const COutlineItem* current = &node;
    for (;;) {
        if (current->firstChild) {
            WriteGroupStart(*current, out);
            open.push_back(current);
            current = current->firstChild.get();
            continue;
        }
        WriteChildless(*current, out);
        // Move on to the next sibling, closing every group whose last child this was; the
        // siblings of node itself are not part of its output.
        for (;;) {
            if (open.empty())
                return;
            if (current->nextSibling) {
                current = current->nextSibling.get();
                break;
            }
            current = open.back();
            open.pop_back();
            out += "</outline>";
            out += lineEnd;
        }
    }
}

std::string OutlineDocumentText(const COutlineItem& root)
{
    std::string out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n";
    out += "<opml version=\"1.0\">\r\n";
    out += "<head>\r\n";
    out += "<title>News Subscriptions</title>\r\n";
    out += "</head>\r\n";
    out += "<body>\r\n";
    for (const COutlineItem* child = root.firstChild.get(); child; child = child->nextSibling.get())
        WriteOutline(*child, out);
    out += "</body>\r\n";
    out += "</opml>\r\n";
    return out;
}

int WriteOutlineFile(const std::string& path, const COutlineItem& root)
{
    if (path.empty()) {
        errno = ENOENT;
        return 0;
    }
    const std::string text = OutlineDocumentText(root);
    TemporaryFile temporary;
    if (!temporary.Create(path))
        return 0;
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::fchmod(temporary.Descriptor(), existing.st_mode & 07777);
    if (!temporary.WriteAll(text) || !temporary.SyncAndClose())
        return 0;
    if (::rename(temporary.Path().c_str(), path.c_str()) != 0)
        return 0;
    temporary.Keep();
    // Make the rename itself durable; failing that is no reason to report the write as failed.
    const std::string::size_type slash = path.rfind('/');
    const std::string folder
        = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return 1;
}
