// corvane-cli convert: one MP3 file to an AMR-NB file, as the update job re-compresses podcasts.
#include "cli/Commands.h"

#include "audio/Mp3ToAmr.h"

#include <climits>
#include <cstdio>
#include <mutex>
#include <stop_token>
#include <string>

namespace corvane {

namespace {

// Reads an optional whole-number option; false (with the usage message printed) when malformed.
bool NumberOption(const CommandLine& arguments, const char* name, long long minimum,
    long long maximum, long long& value)
{
    const std::optional<std::string> text = arguments.Value(name);
    if (!text)
        return true;
    const std::optional<long long> number = ParseInteger(*text, minimum, maximum);
    if (!number) {
        arguments.UsageError("--" + std::string(name) + " takes a whole number from "
            + std::to_string(minimum) + " to " + std::to_string(maximum) + ", not '" + *text + "'");
        return false;
    }
    value = *number;
    return true;
}

} // namespace

int RunConvert(CommandLine& arguments)
{
    arguments.Describe(
        "Decodes IN.mp3 (MPEG-1, 2 or 2.5, layers I to III), mixes it to mono at 8000 Hz, lowers\n"
        "the volume and writes it as AMR-NB speech to OUT.amr, as podcasts are re-compressed for\n"
        "the phone. OUT.amr is replaced only when the conversion succeeds.");
    arguments.Positional("IN.mp3", "the MP3 file");
    arguments.Positional("OUT.amr", "the AMR file to write");
    arguments.Option("mode", "M", "AMR-NB mode, 0 (4.75 kbit/s, the default) to 7 (12.2 kbit/s)");
    arguments.Option(
        "volume", "V", "0 to 7: the samples are divided by 2 to the power of 7-V (default 4)");
    arguments.Option("limit", "S", "keep only the first S whole seconds (default: everything)");
    arguments.Flag("dtx", "discontinuous transmission (silence is sent as comfort-noise frames)");
    arguments.Flag("quiet", "no progress, even on a terminal");
    arguments.CountError("convert needs IN.mp3 and OUT.amr");
    arguments.Epilogue("Exit codes: 0 OUT.amr written, 1 the input holds no MPEG audio or a file "
                       "cannot be opened\n(the message names which), 2 wrong usage, 130 "
                       "interrupted.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    long long mode = 0;
    long long volume = 4;
    long long limit = -1;
    if (!NumberOption(arguments, "mode", 0, 7, mode)
        || !NumberOption(arguments, "volume", 0, 7, volume)
        || !NumberOption(arguments, "limit", 0, UINT_MAX, limit))
        return EXIT_USAGE;
    const bool dtx = arguments.Has("dtx");
    const std::vector<std::string>& positionals = arguments.Positionals();

    const bool showProgress = StderrIsTerminal() && !arguments.Has("quiet");
    std::stop_source stop;
    ConversionControl control;
    control.stop = stop.get_token();
    std::mutex printing;
    if (showProgress) {
        control.progress = [&printing](double fraction) {
            std::lock_guard lock(printing);
            std::fprintf(stderr, "\rconverting: %3d%%", static_cast<int>(fraction * 100.0));
            std::fflush(stderr);
        };
    }

    int result = -1;
    std::string error;
    const bool interrupted = RunUntilInterrupted(
        [&] {
            result = ConvertMp3ToAmr(positionals[0], positionals[1], static_cast<int>(mode),
                dtx ? 1 : 0, static_cast<int>(volume), limit >= 0 ? 1 : 0,
                limit >= 0 ? static_cast<unsigned int>(limit) : 0u, &control, &error);
        },
        stop);
    if (showProgress)
        std::fputs("\n", stderr);

    if (interrupted) {
        std::fprintf(stderr, "Interrupted; %s was not written.\n", positionals[1].c_str());
        return EXIT_INTERRUPTED;
    }
    if (result != 0) {
        PrintError(error);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

} // namespace corvane
