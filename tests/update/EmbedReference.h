// The data EmbedFile must write for a document, computed the plain way: the whole document in
// memory, the two removals applied to a string one after the other. The streaming writer, which
// never holds a document whole, is checked against it (tests and the EmbedFile fuzz target).
#pragma once

#include <string>

inline std::string ReferenceEmbedData(const std::string& document)
{
    const std::size_t zero = document.find('\0');
    std::string text = document.substr(0, zero);
    bool removed = false;

    const std::size_t doctype = text.find("<!DOCTYPE");
    if (doctype != std::string::npos && doctype > 0) {
        int depth = 0;
        for (std::size_t i = doctype + 8; i < text.size(); ++i) {
            if (text[i] == '<') {
                ++depth;
            } else if (text[i] == '>') {
                if (depth == 0) {
                    text.erase(doctype, i + 1 - doctype);
                    removed = true;
                    break;
                }
                --depth;
            }
        }
    }

    const std::size_t attribute = text.find("xmlns=\"");
    if (attribute != std::string::npos && attribute > 0) {
        const std::size_t closing = text.find('"', attribute + 7);
        if (closing != std::string::npos) {
            text.erase(attribute, closing + 1 - attribute);
            removed = true;
        }
    }
    // A removal leaves the text alone, without the bytes from the first zero byte on.
    return removed ? text : document;
}
