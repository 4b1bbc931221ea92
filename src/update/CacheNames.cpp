#include "update/CacheNames.h"

#include <QByteArray>
#include <QCryptographicHash>

namespace corvane {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Printable ASCII punctuation, read as a signed byte so that bytes of 128 and above (negative)
// never match: non-ASCII text in an address is copied into the name as it is.
bool IsPunctuation(char c)
{
    const auto value = static_cast<signed char>(c);
    return (value >= 33 && value <= 47) || (value >= 58 && value <= 64)
        || (value >= 91 && value <= 96) || value >= 123; // 123 to 127
}

constexpr std::size_t LONGEST_NAME = 260;
constexpr std::size_t SHORTENED_NAME = 250;

// Addresses are narrow strings: whatever follows an embedded zero byte was never part of one.
std::string NarrowAddress(const std::string& address)
{
    return address.substr(0, address.find('\0'));
}

// The cache file path in folder (which ends in '/'); a non-empty tag goes between the name and
// the extension and survives the cut like the extension does.
std::string CacheFileNameIn(
    const std::string& folder, const std::string& address, int kind, const std::string& tag = {})
{
    std::string copy = NarrowAddress(address);

    std::size_t first = 0;
    while (first < copy.size() && IsSpace(copy[first]))
        ++first;
    std::size_t last = copy.size();
    while (last > first && IsSpace(copy[last - 1]))
        --last;
    copy = copy.substr(first, last - first);

    if (copy.rfind("http://", 0) == 0)
        copy.erase(0, 7);

    // Every '/' and '.' becomes '_' here, so a name can never leave the folder.
    for (char& c : copy) {
        if (IsPunctuation(c))
            c = '_';
    }

    const char* extension = kind == CACHE_MP3 ? ".mp3" : kind == CACHE_AMR ? ".amr" : ".xml";
    std::string result = folder + copy + tag + extension;

    if (result.size() > LONGEST_NAME) {
        const std::string suffix = tag + result.substr(result.rfind('.'));
        std::size_t keep = SHORTENED_NAME - suffix.size();
        // A folder path so long that the cut would fall inside it would put the file somewhere
        // else entirely; the name then keeps at least its first byte, inside the folder.
        const std::size_t shortest = folder.size() + (copy.empty() ? 0 : 1);
        if (keep < shortest)
            keep = shortest;
        result = result.substr(0, keep) + suffix;
    }
    return result;
}

} // namespace

std::string CacheFileName(const std::string& address, int kind)
{
    return CacheFileNameIn(GetDataFolder(), address, kind);
}

std::string CacheFileNameVariant(const std::string& address, int kind, int variant)
{
    if (variant <= 0)
        return CacheFileName(address, kind);
    // '~' is punctuation, which the plain names never keep: a variant cannot be taken for the
    // plain name of some other address.
    QByteArray input = QByteArray::fromStdString(NarrowAddress(address));
    if (variant > 1)
        input += '\n' + QByteArray::number(variant);
    const QByteArray digest
        = QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex().left(16);
    return CacheFileNameIn(GetDataFolder(), address, kind, "~" + digest.toStdString());
}

std::string CacheFileNamePart(const std::string& address, int kind)
{
    const std::string folder = ProgramFolderPath() + "data/";
    return CacheFileNameIn(folder, address, kind).substr(folder.size());
}

} // namespace corvane
