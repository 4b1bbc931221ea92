// The one UTF-8 repair: text from feeds, command lines and file names may hold bytes that are
// not UTF-8, and everything that writes such text (the OPML writer, the JSON printer, the
// package's UTF-16 names) repairs it the same way. Each maximal subpart of an ill-formed
// sequence (the longest start of a sequence that could still have become valid, or else a
// single byte) becomes one U+FFFD, as the Unicode standard recommends ("substitution of maximal
// subparts"), and the byte that broke a sequence starts afresh. Overlong forms, surrogates and
// values above U+10FFFF are ill-formed. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvane {

// One step of decoding.
struct Utf8Scalar {
    char32_t value = 0; // the scalar; U+FFFD when the bytes were ill-formed
    std::size_t length = 1; // the bytes taken, at least 1
    bool valid = false; // false: the bytes were a maximal ill-formed subpart
};

// Decodes the scalar that starts at text[at]; at must be less than text.size().
Utf8Scalar DecodeUtf8At(std::string_view text, std::size_t at);

// Appends scalar (at most U+10FFFF, no surrogate) as UTF-8.
void AppendUtf8(std::string& out, char32_t scalar);

// text with every maximal ill-formed subpart replaced by U+FFFD; valid UTF-8 comes back as it was.
std::string RepairUtf8(std::string_view text);

// True when left and right are the same text with ASCII letters compared without their case
// (header names, element names, MIME types: protocol words, never the user's language).
bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right);

} // namespace corvane
