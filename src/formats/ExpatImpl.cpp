#include "formats/ExpatImpl.h"

#include "formats/CorvaneDoc.h"
#include "platform/InputFile.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <exception>
#include <iconv.h>
#include <limits>
#include <utility>

namespace corvane {

namespace {

// Expat must never see an exception: record why the handler failed and stop the parser, which
// makes the current XML_ParseBuffer return an error (XML_ERROR_ABORTED).
void StopAfterFailure(CXmlHandler& handler, const char* what) noexcept
{
    try {
        handler.handlerError = std::string("reading stopped: ") + what;
    } catch (...) {
        // Out of memory while recording: the stop alone still ends the parse as failed.
    }
    if (handler.m_p)
        XML_StopParser(handler.m_p, XML_FALSE);
}

void XMLCALL StartCallback(void* userData, const XML_Char* name, const XML_Char** attributes)
{
    auto& handler = *static_cast<CXmlHandler*>(userData);
    try {
        if (handler.documentElement.empty())
            handler.documentElement = name;
        handler.HandleStart(name, attributes);
    } catch (const std::exception& failure) {
        StopAfterFailure(handler, failure.what());
    } catch (...) {
        StopAfterFailure(handler, "unexpected failure");
    }
}

void XMLCALL EndCallback(void* userData, const XML_Char* name)
{
    auto& handler = *static_cast<CXmlHandler*>(userData);
    try {
        handler.HandleEnd(name);
    } catch (const std::exception& failure) {
        StopAfterFailure(handler, failure.what());
    } catch (...) {
        StopAfterFailure(handler, "unexpected failure");
    }
}

void XMLCALL TextCallback(void* userData, const XML_Char* text, int length)
{
    auto& handler = *static_cast<CXmlHandler*>(userData);
    try {
        handler.HandleText(text, length);
    } catch (const std::exception& failure) {
        StopAfterFailure(handler, failure.what());
    } catch (...) {
        StopAfterFailure(handler, "unexpected failure");
    }
}

int XMLCALL UnknownEncodingCallback(void*, const XML_Char* name, XML_Encoding* info)
{
    try {
        if (!BuildSingleByteMap(name, info->map))
            return XML_STATUS_ERROR;
    } catch (...) {
        return XML_STATUS_ERROR;
    }
    // A single-byte table needs no conversion function and holds no data.
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

// Owner of one iconv conversion descriptor.
class IconvHandle {
public:
    IconvHandle(const char* to, const char* from)
        : cd(iconv_open(to, from))
    { }
    ~IconvHandle()
    {
        if (Valid())
            iconv_close(cd);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;

    bool Valid() const { return cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return cd; }

private:
    iconv_t cd;
};

// True when text (lower case) is prefix followed by a decimal number in [low, high].
bool NumberedName(std::string_view text, std::string_view prefix, int low, int high)
{
    if (text.substr(0, prefix.size()) != prefix || text.size() == prefix.size())
        return false;
    const char* first = text.data() + prefix.size();
    const char* last = text.data() + text.size();
    if (*first == '0')
        return false;
    int number = 0;
    auto [end, error] = std::from_chars(first, last, number);
    return error == std::errc() && end == last && number >= low && number <= high;
}

bool SupportedCodePage(const char* name)
{
    std::string lower;
    for (const char* c = name; *c; ++c) {
        if (lower.size() > 32)
            return false;
        lower += (*c >= 'A' && *c <= 'Z') ? static_cast<char>(*c - 'A' + 'a') : *c;
    }
    return NumberedName(lower, "windows-", 1250, 1258) || NumberedName(lower, "iso-8859-", 2, 16)
        || lower == "koi8-r" || lower == "koi8-u";
}

} // namespace

bool EqualsNoCase(const char* name, std::string_view expected)
{
    for (char want : expected) {
        char have = *name++;
        if (have >= 'A' && have <= 'Z')
            have = static_cast<char>(have - 'A' + 'a');
        if (want >= 'A' && want <= 'Z')
            want = static_cast<char>(want - 'A' + 'a');
        if (have != want)
            return false; // also ends at name's NUL, which no expected name contains
    }
    return *name == '\0';
}

bool BuildSingleByteMap(const char* name, int (&map)[256])
{
    if (!name || !SupportedCodePage(name))
        return false;
    IconvHandle converter("UTF-32LE", name);
    if (!converter.Valid())
        return false;
    for (int byte = 0; byte < 256; ++byte) {
        char in = static_cast<char>(byte);
        unsigned char out[8];
        char* inPointer = &in;
        char* outPointer = reinterpret_cast<char*>(out);
        std::size_t inLeft = 1;
        std::size_t outLeft = sizeof out;
        iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr); // back to the initial state
        std::size_t done = iconv(converter.Get(), &inPointer, &inLeft, &outPointer, &outLeft);
        // The converters of windows-1255 and windows-1258 hold a letter back, since a following
        // diacritic may combine with it; only the flush at the end of input lets it out.
        if (done != static_cast<std::size_t>(-1))
            done = iconv(converter.Get(), nullptr, nullptr, &outPointer, &outLeft);
        if (done == static_cast<std::size_t>(-1) || inLeft != 0 || sizeof out - outLeft != 4) {
            map[byte] = -1;
            continue;
        }
        const unsigned long scalar
            = out[0] | (out[1] << 8) | (out[2] << 16) | (static_cast<unsigned long>(out[3]) << 24);
        // Expat takes only BMP scalars from a table, and no surrogates.
        map[byte] = (scalar > 0xFFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
            ? -1
            : static_cast<int>(scalar);
    }
    // Expat insists that the ASCII range of a table maps onto itself; a code page that does not
    // (none of the supported ones) is refused rather than read wrongly.
    for (int byte = 0x20; byte < 0x7F; ++byte) {
        if (map[byte] != byte)
            return false;
    }
    return true;
}

ExpatImpl::~ExpatImpl()
{
    if (m_p)
        XML_ParserFree(m_p);
}

ExpatImpl::ExpatImpl(ExpatImpl&& other) noexcept
    : m_p(std::exchange(other.m_p, nullptr))
    , handler(std::exchange(other.handler, nullptr))
{ }

ExpatImpl& ExpatImpl::operator=(ExpatImpl&& other) noexcept
{
    if (this != &other) {
        if (m_p)
            XML_ParserFree(m_p);
        m_p = std::exchange(other.m_p, nullptr);
        handler = std::exchange(other.handler, nullptr);
    }
    return *this;
}

bool ExpatImpl::Create(XmlReadStatus* status)
{
    if (m_p)
        XML_ParserFree(m_p);
    m_p = XML_ParserCreate_MM(nullptr, nullptr, nullptr);
    if (!m_p) {
        if (status) {
            *status = XmlReadStatus();
            status->reason = "cannot create an XML parser (out of memory)";
        }
        return false;
    }
    XML_SetUnknownEncodingHandler(m_p, UnknownEncodingCallback, nullptr);
    return true;
}

void ExpatImpl::SetHandler(CXmlHandler& handler_)
{
    assert(m_p != nullptr && "m_p != NULL");
    handler = &handler_;
    handler->m_p = m_p;
    XML_SetStartElementHandler(m_p, StartCallback);
    XML_SetEndElementHandler(m_p, EndCallback);
    XML_SetCharacterDataHandler(m_p, TextCallback);
    XML_SetUserData(m_p, handler);
}

// Pieces that double with what was read: an unfinished token is parsed again at most about
// twice its length in all, whatever its size up to the largest piece.
std::size_t ExpatImpl::PieceSize(std::size_t pieceSize, std::size_t readSoFar)
{
    if (pieceSize < PIECE_SIZE)
        return pieceSize;
    return std::clamp(readSoFar, pieceSize, std::max(pieceSize, LARGEST_PIECE_SIZE));
}

template <typename ReadPiece>
int ExpatImpl::ParseLoop(ReadPiece&& readPiece, std::size_t pieceSize, XmlReadStatus* status)
{
    assert(m_p != nullptr && "m_p != NULL");
    assert(handler != nullptr);
    if (pieceSize == 0 || pieceSize > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        pieceSize = PIECE_SIZE;

    XmlReadStatus local;
    XmlReadStatus& outcome = status ? *status : local;
    outcome = XmlReadStatus();
    handler->documentElement.clear();

    // Unlike a loop that stops when the stream reports its end, this one keeps reading until a
    // read returns no bytes, so the final parse call always happens and a document cut short
    // is reported as failed instead of as read.
    bool success = true;
    std::size_t readSoFar = 0;
    for (;;) {
        const std::size_t size = PieceSize(pieceSize, readSoFar);
        void* buffer = XML_GetBuffer(m_p, static_cast<int>(size));
        if (!buffer) {
            success = false;
            break;
        }
        const long got = readPiece(static_cast<char*>(buffer), size);
        if (got < 0) {
            outcome.inputFailed = true;
            outcome.reason = std::string("cannot read: ") + std::strerror(errno);
            success = false;
            break;
        }
        readSoFar += static_cast<std::size_t>(got);
        const bool isFinal = got == 0;
        if (XML_ParseBuffer(m_p, static_cast<int>(got), isFinal) != XML_STATUS_OK) {
            success = false;
            break;
        }
        if (isFinal)
            break;
    }

    if (!success && !outcome.inputFailed) {
        outcome.error = XML_GetErrorCode(m_p);
        outcome.line = XML_GetCurrentLineNumber(m_p);
        outcome.column = XML_GetCurrentColumnNumber(m_p) + 1;
        if (!handler->handlerError.empty()) {
            outcome.reason = handler->handlerError;
        } else {
            const XML_LChar* text = XML_ErrorString(outcome.error);
            outcome.reason = std::string(text ? text : "parse failed") + " at line "
                + std::to_string(outcome.line) + ", column " + std::to_string(outcome.column);
        }
    }
    outcome.documentElement = handler->documentElement;
    outcome.result = success ? 1 : 0;
    return outcome.result;
}

int ExpatImpl::ParseFile(const std::string& path, std::size_t pieceSize, XmlReadStatus* status)
{
    InputFile file;
    std::string reason;
    if (!file.Open(path, reason)) {
        if (status) {
            *status = XmlReadStatus();
            status->inputFailed = true;
            status->reason = std::move(reason);
        }
        return 0;
    }
    auto readPiece = [&file](char* buffer, std::size_t size) { return file.Read(buffer, size); };
    return ParseLoop(readPiece, pieceSize, status);
}

int ExpatImpl::ParseBytes(std::string_view bytes, std::size_t pieceSize, XmlReadStatus* status)
{
    std::size_t position = 0;
    auto readPiece = [&bytes, &position](char* buffer, std::size_t size) -> long {
        const std::size_t count = std::min(size, bytes.size() - position);
        if (count != 0)
            std::memcpy(buffer, bytes.data() + position, count);
        position += count;
        return static_cast<long>(count);
    };
    return ParseLoop(readPiece, pieceSize, status);
}

void AppendPendingText(std::string& pending, const XML_Char* text, int length)
{
    if (length < 1)
        return;
    int skip = 0;
    while (skip < length && static_cast<unsigned char>(text[skip]) < 0x20)
        ++skip;
    if (skip < length)
        pending.append(text + skip, static_cast<std::size_t>(length - skip));
}

} // namespace corvane
