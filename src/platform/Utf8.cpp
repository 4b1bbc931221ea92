#include "platform/Utf8.h"

#include <algorithm>

namespace corvane {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

// What a lead byte asks for: the length of its sequence and the range its second byte must lie
// in, which rules out overlong forms, surrogates and values above U+10FFFF. Length 0: the byte
// cannot start a sequence.
struct Lead {
    std::size_t length = 0;
    char32_t bits = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
};

Lead ReadLead(unsigned char lead)
{
    Lead result;
    if (lead >= 0xC2 && lead <= 0xDF) {
        result.length = 2;
        result.bits = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        result.length = 3;
        result.bits = lead & 0x0F;
        result.low = lead == 0xE0 ? 0xA0 : 0x80;
        result.high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        result.length = 4;
        result.bits = lead & 0x07;
        result.low = lead == 0xF0 ? 0x90 : 0x80;
        result.high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    return result;
}

} // namespace

Utf8Scalar DecodeUtf8At(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return {lead, 1, true};
    const Lead expected = ReadLead(lead);
    if (expected.length == 0)
        return {REPLACEMENT, 1, false};
    char32_t value = expected.bits;
    std::size_t taken = 1;
    while (taken < expected.length) {
        if (at + taken >= text.size())
            return {REPLACEMENT, taken, false};
        const auto next = static_cast<unsigned char>(text[at + taken]);
        const bool fits = taken == 1 ? next >= expected.low && next <= expected.high
                                     : next >= 0x80 && next <= 0xBF;
        if (!fits)
            return {REPLACEMENT, taken, false};
        value = (value << 6) | (next & 0x3F);
        ++taken;
    }
    return {value, taken, true};
}

void AppendUtf8(std::string& out, char32_t scalar)
{
    if (scalar < 0x80) {
        out.push_back(static_cast<char>(scalar));
    } else if (scalar < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else if (scalar < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
    }
}

std::string RepairUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Scalar scalar = DecodeUtf8At(text, i);
        if (scalar.valid)
            out.append(text.substr(i, scalar.length));
        else
            AppendUtf8(out, REPLACEMENT);
        i += scalar.length;
    }
    return out;
}

bool EqualsIgnoringAsciiCase(std::string_view left, std::string_view right)
{
    const auto fold
        = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return left.size() == right.size()
        && std::equal(left.begin(), left.end(), right.begin(),
            [&fold](char a, char b) { return fold(a) == fold(b); });
}

} // namespace corvane
