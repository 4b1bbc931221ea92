// libFuzzer target: any file embedded into a package must read back as one well-formed record
// whose data are what the plain, whole-in-memory form of the removals gives.
#include "update/Package.h"
#include "update/PackageReader.h"

#include "../tests/update/EmbedReference.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace corvane;

namespace {

const std::string& Folder()
{
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data()))
            std::abort();
        return pattern;
    }();
    return folder;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        std::abort();
    std::fclose(file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string source = Folder() + "/input";
    const std::string packagePath = Folder() + "/package.mrf";
    WriteFile(source, input);

    // Small pieces for some inputs, so that matches across piece boundaries are explored too.
    SetEmbedPieceSizeForTesting(size > 0 ? (data[0] % 4 == 0 ? 1 + data[size - 1] % 7 : 0) : 0);

    std::string error;
    auto package = CPackageFile::Create(packagePath, error);
    if (!package)
        std::abort();
    const std::string url = input.substr(0, input.size() < 40 ? input.size() : 40);
    if (!WritePackageMagic(*package) || !WriteChannelsSection(*package, 1, source)
        || !WritePackageRecord(*package, url, RECORD_FEED, source) || !package->Commit())
        std::abort();
    package.reset();

    CPackageReader reader;
    if (!reader.Open(packagePath)) {
        std::fprintf(stderr, "%s\n", reader.Error().c_str());
        std::abort();
    }
    // The channel list is carried unchanged; the record's data follow the removals.
    if (!reader.ChannelsOffset() || reader.ChannelsLength() != size || reader.Records().size() != 1)
        std::abort();
    const PackageRecord& record = reader.Records().front();
    const std::string expected = ReferenceEmbedData(input);
    if (record.dataLength != expected.size() || record.dataLength > size
        || record.dataOffset + record.dataLength != reader.FileSize()
        || Utf8ToUtf16Le(url).size() != record.dataOffset - 12 - size - 12
        || record.name != Utf16LeToUtf8(Utf8ToUtf16Le(url)))
        std::abort();
    if (reader.ReadBytes(*reader.ChannelsOffset(), size) != input
        || reader.ReadBytes(record.dataOffset, record.dataLength) != expected)
        std::abort();
    SetEmbedPieceSizeForTesting(0);
    return 0;
}
