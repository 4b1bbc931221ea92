#include "audio/Mp3ToAmr.h"

#include "audio/AmrWriter.h"
#include "audio/AudioHandles.h"
#include "audio/Mp3Decoder.h"
#include "audio/PcmQueue.h"
#include "audio/Resampler.h"
#include "audio/SampleCutter.h"
#include "platform/AtomicFile.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <sys/stat.h>

namespace corvane {

namespace {

// Seconds of PCM between the threads: enough to ride out a slow stretch of either side,
// 16 blocks of at most 16,000 bytes.
constexpr std::size_t QUEUE_SECONDS = 16;
// Large stdio buffers: frames are 13 to 32 bytes, and no reader watches the file grow.
constexpr std::size_t OUTPUT_BUFFER = 1 << 16;

bool InvalidMode(int mode)
{
    return static_cast<unsigned int>(mode) > 7;
}

void SetError(std::string* error, std::string message)
{
    if (error)
        *error = std::move(message);
}

// Whether the two paths lead to one file (through links, other spellings or a hard link): the
// output's commit would replace the very MP3 being read.
bool SameFile(const std::string& first, const std::string& second)
{
    struct stat a { };
    struct stat b { };
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev
        && a.st_ino == b.st_ino;
}

// Opens the output through an AtomicFile, with a large buffer on its stream and, when fileMode
// is nonzero, those permission bits.
std::FILE* OpenOutput(
    AtomicFile& output, const std::string& amrPath, unsigned int fileMode, std::string* error)
{
    std::string message;
    bool opened = output.Open(amrPath, AMR_TEMPORARY_PREFIX, message);
    if (opened && fileMode != 0 && ::fchmod(output.Descriptor(), fileMode) != 0) {
        message = "cannot set the permissions of " + output.TemporaryPath() + ": "
            + std::strerror(errno);
        opened = false;
    }
    std::FILE* stream = opened ? output.Stream(message) : nullptr;
    if (!stream) {
        SetError(error, message);
        return nullptr;
    }
    std::setvbuf(stream, nullptr, _IOFBF, OUTPUT_BUFFER);
    return stream;
}

// What the decoding thread found.
struct DecodeOutcome {
    bool locked = false;
    std::string failure; // set when decoding broke off for a reason other than the stream's end
};

// Decodes, resamples, cuts and lowers; pushes the kept samples into queue, closes it at the end.
void Decode(Mp3Decoder& decoder, int volumeIndex, bool limitOn, unsigned int lengthSeconds,
    PcmQueue& queue, const ConversionControl* control, DecodeOutcome& outcome)
{
    SampleCutter cutter(volumeIndex, limitOn, lengthSeconds,
        [&queue](const int16_t* samples, std::size_t count) { queue.Push(samples, count); });
    auto toCutter
        = [&cutter](const int16_t* samples, std::size_t count) { cutter.Push(samples, count); };
    std::optional<Resampler> resampler;
    double reported = -1.0;

    const float* samples = nullptr;
    std::size_t count = 0;
    while (!queue.Cancelled() && decoder.Next(&samples, &count)) {
        if (count > 0) {
            // A change of rate mid-file (a file joined from two) gets a fresh filter; the old
            // one gives up its tail first so no samples are lost.
            if (!resampler || resampler->InputRate() != static_cast<double>(decoder.Rate())) {
                if (resampler)
                    resampler->Flush();
                resampler.emplace(static_cast<double>(decoder.Rate()), toCutter);
            }
            resampler->Push(samples, count);
        }
        if (decoder.StreamLocked() && cutter.Saturated())
            break; // everything after the limit would be dropped anyway
        if (control && control->progress) {
            const double fraction = decoder.Fraction();
            if (fraction - reported >= 0.005) {
                reported = fraction;
                control->progress(fraction);
            }
        }
    }
    if (resampler)
        resampler->Flush();
    cutter.Finish();
    outcome.locked = decoder.StreamLocked();
}

// How the samples are cut and lowered on the way.
struct Shaping {
    int volumeIndex;
    bool limitOn;
    unsigned int lengthSeconds;
};

// Runs the decoding thread into the queue and encodes what comes out of it on this one. False
// when the output refused a write.
bool EncodeAll(Mp3Decoder& decoder, AmrFrameWriter& writer, const Shaping& shaping,
    const ConversionControl* control, DecodeOutcome& outcome)
{
    PcmQueue queue(QUEUE_SECONDS);
    std::optional<std::stop_callback<std::function<void()>>> onStop;
    if (control)
        onStop.emplace(control->stop, std::function<void()>([&queue] { queue.Cancel(); }));

    bool written = writer.Begin();
    // Decoding and resampling cost about a third of the encoder's time; on their own thread
    // they hide behind it.
    std::jthread decoding([&] {
        try {
            Decode(decoder, shaping.volumeIndex, shaping.limitOn, shaping.lengthSeconds, queue,
                control, outcome);
        } catch (const std::exception& exception) {
            outcome.failure = exception.what();
        } catch (...) {
            outcome.failure = "unknown failure";
        }
        queue.Close();
    });
    std::vector<int16_t> block;
    block.reserve(SAMPLES_PER_SECOND);
    while (written && queue.Pop(block))
        written = writer.Write(block.data(), block.size());
    if (!written)
        queue.Cancel(); // lets the decoding thread end
    return written;
}

// Why the conversion gives no file, or empty when the encoder's end was written and the output
// may be committed.
std::string ConversionFailure(const std::string& mp3Path, const std::string& amrPath,
    const ConversionControl* control, const DecodeOutcome& outcome, AmrFrameWriter& writer,
    bool written)
{
    if (control && control->stop.stop_requested())
        return "conversion of " + mp3Path + " was stopped";
    if (!outcome.failure.empty())
        return "cannot convert " + mp3Path + ": " + outcome.failure;
    if (!outcome.locked)
        return "no MPEG audio in " + mp3Path;
    if (written)
        written = writer.Finish();
    if (!written)
        return "cannot write " + amrPath + ": " + std::strerror(writer.WriteError());
    return {};
}

} // namespace

int ConvertMp3ToAmr(const std::string& mp3Path, const std::string& amrPath, int mode, int dtx,
    int volumeIndex, int limitOn, unsigned int lengthSeconds, const ConversionControl* control,
    std::string* error)
{
    if (InvalidMode(mode)) {
        SetError(error,
            "cannot convert " + mp3Path + ": AMR mode " + std::to_string(mode)
                + " is not one of 0 to 7");
        return -1;
    }
    if (SameFile(mp3Path, amrPath)) {
        SetError(error,
            "cannot convert " + mp3Path + ": the AMR file " + amrPath
                + " is the MP3 file itself; nothing was written");
        return -1;
    }
    try {
        Mp3Decoder decoder;
        if (!decoder.Open(mp3Path, error))
            return -1;
        AtomicFile output;
        std::FILE* stream = OpenOutput(output, amrPath, control ? control->fileMode : 0, error);
        if (!stream)
            return -1;
        AmrFrameWriter writer(stream, mode, dtx == 1);

        DecodeOutcome outcome;
        const bool written = EncodeAll(
            decoder, writer, {volumeIndex, limitOn != 0, lengthSeconds}, control, outcome);
        const std::string failure
            = ConversionFailure(mp3Path, amrPath, control, outcome, writer, written);
        if (!failure.empty()) {
            SetError(error, failure);
            return -1;
        }
        std::string message;
        if (!output.Commit(message)) {
            SetError(error, message);
            return -1;
        }
        if (control && control->progress)
            control->progress(1.0);
        return 0;
    } catch (const std::exception& exception) {
        SetError(error, "cannot convert " + mp3Path + ": " + exception.what());
        return -1;
    }
}

int EncodeAmrFile(const std::string& rawPath, const std::string& amrPath, int mode, int dtx)
{
    FileHandle output(std::fopen(amrPath.c_str(), "wb"));
    if (!output)
        return 1;
    FileHandle input(std::fopen(rawPath.c_str(), "rb"));
    if (!input)
        return 1;
    if (InvalidMode(mode))
        return 1;
    std::setvbuf(output.Get(), nullptr, _IOFBF, OUTPUT_BUFFER);

    try {
        AmrFrameWriter writer(output.Get(), mode, dtx == 1);
        bool written = writer.Begin();
        // Whole samples only: an odd last byte is no sample.
        unsigned char bytes[AMR_FRAME_SAMPLES * 2 * 32 + 1];
        int16_t samples[AMR_FRAME_SAMPLES * 32];
        std::size_t carried = 0;
        while (written) {
            const std::size_t read
                = std::fread(bytes + carried, 1, sizeof bytes - 1 - carried, input.Get());
            const std::size_t available = carried + read;
            const std::size_t count = available / 2;
            for (std::size_t i = 0; i < count; ++i)
                samples[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            written = writer.Write(samples, count);
            carried = available % 2;
            if (carried)
                bytes[0] = bytes[available - 1];
            if (read == 0)
                break;
        }
        if (std::ferror(input.Get()))
            written = false;
        if (written)
            written = writer.Finish();
        // A file that could not be written whole is a failure, not a result.
        if (!output.Close())
            written = false;
        return written ? 0 : 1;
    } catch (const std::exception&) {
        return 1;
    }
}

} // namespace corvane
