// The frame every XML reader of Corvane stands on: an owner of one expat parser, the three
// callbacks that forward to a handler object, and the reading loop that feeds a document to the
// parser in fixed-size pieces.
//
// Ownership: ExpatImpl owns its XML_Parser (freed with it; move-only). The handler is borrowed
// and must outlive every parse it takes part in.
// Thread: one ExpatImpl and its handler belong to one thread for the length of a parse; distinct
// parsers may run on distinct threads at once (nothing here is shared).
// Errors: nothing throws across expat. A handler that throws (in practice std::bad_alloc) has the
// exception caught in the callback, recorded on the handler, and the parser stopped, so the parse
// ends as failed with the handler's reason.
#pragma once

#include "model/Records.h"

#include <expat.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

// What a handler object offers to the callbacks. Names, attribute values and text arrive as
// UTF-8 whatever the document's own encoding; names exactly as written (no namespace processing).
class CXmlHandler {
public:
    virtual ~CXmlHandler() = default;

    // attributes: name, value, name, value, ..., null.
    virtual void HandleStart(const XML_Char* name, const XML_Char** attributes) = 0;
    virtual void HandleEnd(const XML_Char* name) = 0;
    // One piece of character data (CDATA content included); not NUL-terminated.
    virtual void HandleText(const XML_Char* text, int length) = 0;

    // The parser driving this handler while a parse runs, else null.
    XML_Parser m_p = nullptr;

    // The name of the first element the parse met, as written; set by the frame.
    std::string documentElement;

    // Set when a handler threw and the parse was stopped; empty otherwise.
    std::string handlerError;
};

// How one read ended, for callers that tell the user why (the readers' own results stay 1/0).
struct XmlReadStatus {
    // 1 when the whole document parsed, else 0 (the value the readers return).
    int result = 0;
    // The file could not be opened or read, or is not a regular file; reason says why.
    bool inputFailed = false;
    // expat's error and where it stood (1-based line and column), when the parse failed.
    XML_Error error = XML_ERROR_NONE;
    unsigned long line = 0;
    unsigned long column = 0;
    // A complete sentence without the file name, e.g. "not well-formed (invalid token) at line 3,
    // column 7" or "cannot open: No such file or directory"; empty on success.
    std::string reason;
    // The name of the document's first element as written; empty when the parse ended before
    // one. Lets a caller tell a well-formed document of another kind (an RSS document or an HTML
    // page where OPML belongs) from the document it wants.
    std::string documentElement;
};

class ExpatImpl {
public:
    // The size of the first piece a document is read in, in normal use. Later pieces grow with
    // what was read so far, up to LARGEST_PIECE_SIZE: expat parses an unfinished token again
    // from its start at every piece, so pieces of a fixed size would make one huge attribute
    // cost time in the square of its length; growing pieces keep the time linear.
    static constexpr std::size_t PIECE_SIZE = 64 * 1024;
    static constexpr std::size_t LARGEST_PIECE_SIZE = 16 * 1024 * 1024;

    ExpatImpl() = default;
    ~ExpatImpl();
    ExpatImpl(ExpatImpl&& other) noexcept;
    ExpatImpl& operator=(ExpatImpl&& other) noexcept;
    ExpatImpl(const ExpatImpl&) = delete;
    ExpatImpl& operator=(const ExpatImpl&) = delete;

    // Creates the parser with the default encoding rules (byte-order mark or declaration decide,
    // UTF-8 by default), the default allocator and no namespace processing, and installs the
    // handler for single-byte code pages (windows-1250..1258, ISO-8859-2..16, KOI8-R, KOI8-U).
    // Expat's protection against entity amplification stays at its defaults. False when expat
    // cannot create a parser (out of memory); status, when given, then says so.
    bool Create(XmlReadStatus* status = nullptr);

    // Installs the three forwarding callbacks and makes handler the user data. Needs a parser.
    void SetHandler(CXmlHandler& handler);

    // Reads the file at path in pieces and parses them. In normal use (pieceSize PIECE_SIZE or
    // more) the first piece is pieceSize bytes and each later one as large as all read before,
    // at most LARGEST_PIECE_SIZE; a smaller pieceSize is kept for every piece (tests use 1, 2
    // and 3 to show that results do not depend on where pieces break).
    // The final parse call is made only on a read that returns no bytes. Returns 1 when the
    // document parsed to its end, 0 when the file cannot be opened or read, the parser stops on
    // an error, or the handler stopped it. The file is opened by InputFile (platform/InputFile.h),
    // so what is not a regular file is refused without waiting. Needs a parser and a handler.
    int ParseFile(const std::string& path, std::size_t pieceSize = PIECE_SIZE,
        XmlReadStatus* status = nullptr);

    // The same loop over bytes in memory (fuzzing and tests).
    int ParseBytes(std::string_view bytes, std::size_t pieceSize = PIECE_SIZE,
        XmlReadStatus* status = nullptr);

    // The size of the next piece when readSoFar bytes were read with the given pieceSize (see
    // ParseFile).
    static std::size_t PieceSize(std::size_t pieceSize, std::size_t readSoFar);

    // null while no parser exists.
    XML_Parser m_p = nullptr;

private:
    template <typename ReadPiece>
    int ParseLoop(ReadPiece&& readPiece, std::size_t pieceSize, XmlReadStatus* status);

    CXmlHandler* handler = nullptr;
};

// The 256-entry table of a single-byte code page, as expat's XML_Encoding map wants it: the
// Unicode scalar value of each byte, or -1 for a byte the code page leaves undefined. False when
// name is not one of the supported code pages (compared without regard to case) or iconv does
// not know it. Exposed for tests.
bool BuildSingleByteMap(const char* name, int (&map)[256]);

// True when the two names are equal under ASCII case folding (never locale-dependent).
bool EqualsNoCase(const char* name, std::string_view expected);

// The readers' rule for gathered text: a piece loses its leading bytes below 0x20 (line breaks,
// tabs, other control bytes; the parser reports each line break as a piece of its own) and the
// rest is appended to pending.
void AppendPendingText(std::string& pending, const XML_Char* text, int length);

// An element (or attribute) name and the record field its text goes to.
template <typename Record> struct NamedField {
    std::string_view name;
    TextField Record::*field;
};

// Stores text in the field of the first entry whose name matches name (ASCII case folding).
// False when no entry matches.
template <typename Record, std::size_t N>
bool StoreNamedField(Record& record, const NamedField<Record> (&fields)[N], const XML_Char* name,
    const std::string& text)
{
    for (const NamedField<Record>& entry : fields) {
        if (EqualsNoCase(name, entry.name)) {
            AssignText(record.*entry.field, text.data(), text.size());
            return true;
        }
    }
    return false;
}

} // namespace corvane
