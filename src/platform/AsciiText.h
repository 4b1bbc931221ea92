// The two text rules that addresses, markup names and typed answers share: ASCII letters
// lower-cased (other bytes, UTF-8 among them, stay as they are) and white space trimmed (the
// C locale's: space, tab, CR, LF, vertical tab, form feed). Pure functions; any thread.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

std::string AsciiLower(std::string_view text);

// text without its leading and trailing white space; a view into text.
std::string_view TrimmedAscii(std::string_view text);

} // namespace corvane
