// Packing a large audio file against cp of the same file, measured in one run.
//
// Makes a file (500 MB by default, with a zero byte near its start as audio has) in a new
// temporary folder (under $TMPDIR, else /var/tmp; --dir DIR to choose, on the same disk as the
// package would be), then times, in alternating rounds, `cp` of it and the writing of a package
// holding it as one record, each in a child process. Prints the speed of packing as a ratio of
// cp's (goal: at least 0.5) and the packing child's peak memory (goal: under 32 MB). Removes its
// files afterwards.
//
// usage: write_package [--size-mb N] [--rounds N] [--dir DIR]
#include "BenchSupport.h"
#include "update/Package.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace corvane;

namespace {

// The child's work: exactly what an update does for one audio file.
int WriteOnePackage(const std::string& source, const std::string& target)
{
    std::string error;
    auto package = CPackageFile::Create(target, error);
    if (!package) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    bool missing = false;
    if (!WritePackageMagic(*package) || !WriteChannelsSection(*package, 0, "")
        || !WritePackageRecord(
            *package, "http://bench.example/episode.mp3", RECORD_MP3, source, &missing)
        || missing || !package->Commit()) {
        std::fprintf(stderr, "packing failed: %s\n", package->ErrorText().c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--child") == 0)
        return WriteOnePackage(argv[2], argv[3]);

    long long sizeMb = 500;
    int rounds = 3;
    std::string base = DefaultScratchFolder();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--size-mb") == 0)
            sizeMb = std::atoll(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = argv[i + 1];
    }
    if (sizeMb <= 0 || sizeMb >= 4096 || rounds <= 0 || rounds > 20) {
        std::fprintf(
            stderr, "usage: write_package [--size-mb 1..4095] [--rounds 1..20] [--dir DIR]\n");
        return 2;
    }

    std::string folder = base + "/corvane-bench-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror(folder.c_str());
        return 1;
    }
    const std::string source = folder + "/episode.mp3";
    const std::string copy = folder + "/copy.mp3";
    const std::string package = folder + "/corvane.mrf";
    const std::uint64_t bytes = static_cast<std::uint64_t>(sizeMb) << 20;

    int result = 0;
    double bestCopy = 1e30, bestPackage = 1e30;
    long peakKilobytes = 0;
    if (!MakeSource(source, bytes, std::string_view("ID3\x04\x00\x00\x00\x00\x00\x00", 10))) {
        std::fprintf(stderr, "cannot write %s\n", source.c_str());
        result = 1;
    }
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (int round = 0; result == 0 && round < rounds; ++round) {
        // Each run starts with nothing left to write back from the one before.
        sync();
        const ChildRun copied = Run({"cp", source, copy});
        sync();
        const ChildRun packed = Run({self, "--child", source, package});
        struct stat status { };
        const bool sizeOk = stat(package.c_str(), &status) == 0
            && static_cast<std::uint64_t>(status.st_size) == 8 + 4 + 64 + 8 + bytes;
        if (!copied.ok || !packed.ok || !sizeOk) {
            std::fprintf(stderr, "round %d failed (cp %d, package %d, size %d)\n", round + 1,
                copied.ok, packed.ok, sizeOk);
            result = 1;
        }
        std::printf("round %d: cp %.3f s, package %.3f s, package peak memory %.1f MB\n", round + 1,
            copied.seconds, packed.seconds, packed.peakKilobytes / 1024.0);
        bestCopy = std::min(bestCopy, copied.seconds);
        bestPackage = std::min(bestPackage, packed.seconds);
        peakKilobytes = std::max(peakKilobytes, packed.peakKilobytes);
        unlink(copy.c_str());
        unlink(package.c_str());
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    if (result != 0)
        return result;

    const double ratio = bestCopy / bestPackage;
    std::printf("write_package: %lld MB, best of %d: cp %.3f s (%.0f MB/s), package %.3f s "
                "(%.0f MB/s)\n",
        sizeMb, rounds, bestCopy, sizeMb / bestCopy, bestPackage, sizeMb / bestPackage);
    std::printf("speed ratio package/cp: %.2f (goal >= 0.5) %s\n", ratio,
        ratio >= 0.5 ? "ok" : "BELOW GOAL");
    std::printf("peak memory of packing: %.1f MB (goal < 32 MB) %s\n", peakKilobytes / 1024.0,
        peakKilobytes < 32 * 1024 ? "ok" : "ABOVE GOAL");
    return 0;
}
