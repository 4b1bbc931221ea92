// MP3 to AMR-NB conversion of a podcast-length file against two peers, measured in one run:
// opencore's encoder alone on the same audio already decoded to 8 kHz PCM (the floor: the
// conversion overlaps decoding with encoding, so it should cost hardly more), and sox doing the
// whole conversion (`sox IN -r 8000 -c 1 -t amr-nb -C 0 OUT vol 0.125`).
//
// Makes, once, a speech podcast (espeak-ng looped to --minutes, default 33) encoded by lame at
// 128 kbit/s stereo 44.1 kHz, and its 8 kHz PCM (decoded by sox), cached in a folder of its own
// under $TMPDIR, else /var/tmp (--dir DIR to choose). Then, in alternating rounds, each of the
// three runs in a child process. Prints the best wall-clock times, the ratios ours/encoder-only
// (goal <= 1.1) and ours/sox, and the conversion child's peak memory (goal < 64 MB).
//
// usage: convert [--minutes N] [--rounds N] [--dir DIR]
#include "BenchSupport.h"
#include "audio/Mp3ToAmr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <opencore-amrnb/interf_enc.h>

using namespace corvane;

namespace {

// The conversion as the update job runs it: mode 0, volume 4, no limit.
int ConvertChild(const std::string& mp3, const std::string& amr)
{
    std::string error;
    if (ConvertMp3ToAmr(mp3, amr, 0, 0, 4, 0, 0, nullptr, &error) != 0) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

// The encoder alone: the PCM, lowered as volume 4 lowers it, encoded at mode 0 into memory.
int EncodeChild(const std::string& raw)
{
    std::FILE* input = std::fopen(raw.c_str(), "rb");
    if (!input) {
        std::perror(raw.c_str());
        return 1;
    }
    void* encoder = Encoder_Interface_init(0);
    short frame[160];
    unsigned char out[64];
    unsigned long long bytes = 0;
    std::size_t count = 0;
    while ((count = std::fread(frame, sizeof(short), 160, input)) > 0) {
        for (std::size_t i = 0; i < 160; ++i)
            frame[i] = i < count ? static_cast<short>(frame[i] / 8) : 0;
        bytes += static_cast<unsigned long long>(
            Encoder_Interface_Encode(encoder, MR475, frame, out, 0));
    }
    Encoder_Interface_exit(encoder);
    std::fclose(input);
    return bytes > 0 ? 0 : 1;
}

bool Shell(const std::string& command)
{
    std::fprintf(stderr, "+ %s\n", command.c_str());
    return std::system(command.c_str()) == 0;
}

std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool Exists(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 && status.st_size > 0;
}

// Makes the podcast and its PCM unless an earlier run left them.
bool Prepare(const std::string& folder, int minutes, const std::string& mp3, const std::string& raw)
{
    if (!Exists(mp3)) {
        const std::string speech = folder + "/speech.wav";
        if (!Shell("espeak-ng -w " + Quote(speech)
                + " 'Welcome back to the show. Today we talk about gardens in the city, about "
                  "bees on balconies, tomatoes in buckets and the neighbours who complain "
                  "about the compost. Our guest has grown vegetables on a roof for twelve "
                  "years, and she says the trick is patience, good soil and a lot of water in "
                  "August. Stay with us after the short break.'"))
            return false;
        struct stat status { };
        if (::stat(speech.c_str(), &status) != 0)
            return false;
        // espeak-ng writes 22,050 Hz 16-bit mono.
        const double seconds = static_cast<double>(status.st_size - 44) / (22050.0 * 2.0);
        const int repeats = static_cast<int>(minutes * 60.0 / seconds);
        const std::string partial = mp3 + ".part";
        if (!Shell("sox " + Quote(speech) + " -r 44100 -c 2 -t wav - repeat "
                + std::to_string(repeats) + " | lame --quiet -b 128 - " + Quote(partial))
            || ::rename(partial.c_str(), mp3.c_str()) != 0)
            return false;
        ::unlink(raw.c_str());
    }
    if (!Exists(raw)) {
        const std::string partial = raw + ".part";
        if (!Shell("sox " + Quote(mp3) + " -r 8000 -c 1 -t raw -e signed -b 16 " + Quote(partial))
            || ::rename(partial.c_str(), raw.c_str()) != 0)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--convert-child") == 0)
        return ConvertChild(argv[2], argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--encode-child") == 0)
        return EncodeChild(argv[2]);

    int minutes = 33;
    int rounds = 2;
    std::string base = DefaultScratchFolder();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--minutes") == 0)
            minutes = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--dir") == 0)
            base = argv[i + 1];
    }
    if (minutes <= 0 || minutes > 600 || rounds <= 0 || rounds > 20) {
        std::fprintf(stderr, "usage: convert [--minutes 1..600] [--rounds 1..20] [--dir DIR]\n");
        return 2;
    }

    const std::string folder = base + "/corvane-bench-convert-" + std::to_string(::getuid()) + "-"
        + std::to_string(minutes);
    ::mkdir(folder.c_str(), 0700);
    const std::string mp3 = folder + "/podcast.mp3";
    const std::string raw = folder + "/podcast.raw";
    if (!Prepare(folder, minutes, mp3, raw)) {
        std::fprintf(stderr, "cannot make the podcast in %s\n", folder.c_str());
        return 1;
    }
    const std::string ours = folder + "/ours.amr";
    const std::string theirs = folder + "/sox.amr";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();

    double bestEncoder = 1e30, bestOurs = 1e30, bestSox = 1e30;
    long peakKilobytes = 0;
    int result = 0;
    for (int round = 0; result == 0 && round < rounds; ++round) {
        const ChildRun encoded = Run({self, "--encode-child", raw});
        const ChildRun converted = Run({self, "--convert-child", mp3, ours});
        const ChildRun soxed = Run({"sox", mp3, "-r", "8000", "-c", "1", "-t", "amr-nb", "-C", "0",
            theirs, "vol", "0.125"});
        if (!encoded.ok || !converted.ok || !soxed.ok) {
            std::fprintf(stderr, "round %d failed (encoder %d, ours %d, sox %d)\n", round + 1,
                encoded.ok, converted.ok, soxed.ok);
            result = 1;
        }
        std::printf("round %d: encoder alone %.2f s (cpu %.2f s), ours %.2f s (cpu %.2f s, peak "
                    "%.1f MB), sox %.2f s (cpu %.2f s)\n",
            round + 1, encoded.seconds, encoded.cpuSeconds, converted.seconds, converted.cpuSeconds,
            converted.peakKilobytes / 1024.0, soxed.seconds, soxed.cpuSeconds);
        std::fflush(stdout);
        bestEncoder = std::min(bestEncoder, encoded.seconds);
        bestOurs = std::min(bestOurs, converted.seconds);
        bestSox = std::min(bestSox, soxed.seconds);
        peakKilobytes = std::max(peakKilobytes, converted.peakKilobytes);
    }
    ::unlink(ours.c_str());
    ::unlink(theirs.c_str());
    if (result != 0)
        return result;

    const double toEncoder = bestOurs / bestEncoder;
    const double toSox = bestOurs / bestSox;
    std::printf("convert: %d-minute 128 kbit/s stereo MP3 to AMR-NB mode 0, best of %d: "
                "encoder alone %.2f s, ours %.2f s, sox %.2f s\n",
        minutes, rounds, bestEncoder, bestOurs, bestSox);
    std::printf("time ratio ours/encoder-only: %.2f (goal <= 1.1) %s\n", toEncoder,
        toEncoder <= 1.1 ? "ok" : "ABOVE GOAL");
    std::printf("time ratio ours/sox: %.2f (about 0.5 expected)\n", toSox);
    std::printf("peak memory of the conversion: %.1f MB (goal < 64 MB) %s\n",
        peakKilobytes / 1024.0, peakKilobytes < 64 * 1024 ? "ok" : "ABOVE GOAL");
    return 0;
}
