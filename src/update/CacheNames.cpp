#include "update/CacheNames.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <string_view>

#include <sys/stat.h>

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

// folder + stem + suffix, cut to SHORTENED_NAME bytes when longer than LONGEST_NAME; the cut
// keeps the whole suffix.
std::string WithinLengthRule(
    const std::string& folder, const std::string& stem, const std::string& suffix)
{
    std::string result = folder + stem + suffix;
    if (result.size() > LONGEST_NAME) {
        std::size_t keep = SHORTENED_NAME - suffix.size();
        // A folder path so long that the cut would fall inside it would put the file somewhere
        // else entirely; the name then keeps at least its first byte, inside the folder.
        const std::size_t shortest = folder.size() + (stem.empty() ? 0 : 1);
        if (keep < shortest)
            keep = shortest;
        result = result.substr(0, keep) + suffix;
    }
    return result;
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
    return WithinLengthRule(folder, copy, tag + extension);
}

constexpr const char* KEPT_AMR_TAG = "~a";
constexpr std::size_t DIGEST_DIGITS = 16;
constexpr std::size_t KEPT_SUFFIX = 2 + DIGEST_DIGITS + 4; // "~a", the digest, ".amr"

QByteArray ShortDigest(const QByteArray& input)
{
    return QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex().left(DIGEST_DIGITS);
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
    const QByteArray digest = ShortDigest(input);
    return CacheFileNameIn(GetDataFolder(), address, kind, "~" + digest.toStdString());
}

namespace {

// The folder (with its '/'), the file name and the name without ".mp3" of an MP3's path.
struct Mp3Name {
    std::string folder;
    std::string fileName;
    std::string stem;
};

Mp3Name SplitMp3Path(const std::string& mp3Path)
{
    Mp3Name name;
    const std::size_t slash = mp3Path.rfind('/');
    name.folder = slash == std::string::npos ? std::string() : mp3Path.substr(0, slash + 1);
    name.fileName = mp3Path.substr(name.folder.size());
    name.stem = name.fileName;
    if (name.stem.ends_with(".mp3"))
        name.stem.erase(name.stem.size() - 4);
    return name;
}

} // namespace

std::string KeptAmrPath(const std::string& mp3Path, const AmrSettings& settings)
{
    struct stat mp3 { };
    if (::stat(mp3Path.c_str(), &mp3) != 0)
        return {};
    const auto [folder, fileName, stem] = SplitMp3Path(mp3Path);

    // The length counts only while the limit is on: without it the output is the same for any.
    const bool limitOn = settings.limitOn != 0;
    const long long modified = static_cast<long long>(mp3.st_mtim.tv_sec) * 1000000000LL
        + static_cast<long long>(mp3.st_mtim.tv_nsec);
    QByteArray input = QByteArray::fromStdString(fileName);
    for (const long long field :
        {static_cast<long long>(mp3.st_size), modified, static_cast<long long>(mp3.st_ino),
            static_cast<long long>(settings.mode), static_cast<long long>(settings.volumeIndex),
            limitOn ? 1LL : 0LL, limitOn ? static_cast<long long>(settings.lengthSeconds) : 0LL})
        input += '\n' + QByteArray::number(field);
    const std::string suffix = KEPT_AMR_TAG + ShortDigest(input).toStdString() + ".amr";
    return WithinLengthRule(folder, stem, suffix);
}

bool IsKeptAmrName(const std::string& fileName)
{
    const std::size_t tagLength = std::string(KEPT_AMR_TAG).size();
    const std::size_t suffixLength = KEPT_SUFFIX;
    if (fileName.size() <= suffixLength)
        return false;
    const std::string suffix = fileName.substr(fileName.size() - suffixLength);
    if (suffix.compare(0, tagLength, KEPT_AMR_TAG) != 0
        || suffix.compare(suffixLength - 4, 4, ".amr") != 0)
        return false;
    for (std::size_t i = tagLength; i < tagLength + DIGEST_DIGITS; ++i) {
        const char c = suffix[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

bool IsWholeKeptAmrNameOf(const std::string& fileName, const std::string& mp3Path)
{
    const Mp3Name mp3 = SplitMp3Path(mp3Path);
    return mp3.folder.size() + mp3.stem.size() + KEPT_SUFFIX <= LONGEST_NAME
        && fileName.size() == mp3.stem.size() + KEPT_SUFFIX
        && fileName.compare(0, mp3.stem.size(), mp3.stem) == 0 && IsKeptAmrName(fileName);
}

bool IsCacheFileName(const std::string& fileName)
{
    if (!fileName.ends_with(".xml") && !fileName.ends_with(".mp3") && !fileName.ends_with(".amr"))
        return false;
    const std::string_view stem = std::string_view(fileName).substr(0, fileName.size() - 4);
    // '_' stands for the punctuation of the address; '~' begins a variant's or a conversion's
    // digest.
    return !stem.empty() && std::none_of(stem.begin(), stem.end(), [](char c) {
        return IsPunctuation(c) && c != '_' && c != '~';
    });
}

std::string CacheFileNamePart(const std::string& address, int kind)
{
    const std::string folder = ProgramFolderPath() + "data/";
    return CacheFileNameIn(folder, address, kind).substr(folder.size());
}

} // namespace corvane
