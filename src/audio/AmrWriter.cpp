#include "audio/AmrWriter.h"

#include "platform/Diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

#include <opencore-amrnb/interf_enc.h>

namespace corvane {

int AmrFrameBytes(int mode)
{
    // Speech bits per mode (3GPP TS 26.101), rounded up to bytes, plus the header byte.
    static const int sizes[8] = {13, 14, 16, 18, 20, 21, 27, 32};
    return mode >= 0 && mode < 8 ? sizes[mode] : 0;
}

AmrEncoder::AmrEncoder(bool dtx)
    : state(Encoder_Interface_init(dtx ? 1 : 0))
{
    if (!state)
        throw std::bad_alloc();
}

AmrEncoder::~AmrEncoder()
{
    if (state)
        Encoder_Interface_exit(state);
}

AmrEncoder::AmrEncoder(AmrEncoder&& other) noexcept
    : state(std::exchange(other.state, nullptr))
{ }

AmrEncoder& AmrEncoder::operator=(AmrEncoder&& other) noexcept
{
    if (this != &other) {
        if (state)
            Encoder_Interface_exit(state);
        state = std::exchange(other.state, nullptr);
    }
    return *this;
}

int AmrEncoder::Encode(int mode, const int16_t* frame, unsigned char* out)
{
    static_assert(sizeof(short) == sizeof(int16_t));
    return Encoder_Interface_Encode(
        state, static_cast<Mode>(mode), reinterpret_cast<const short*>(frame), out, 0);
}

AmrFrameWriter::AmrFrameWriter(std::FILE* output_, int mode_, bool dtx)
    : output(output_)
    , mode(mode_)
    , encoder(dtx)
{ }

bool AmrFrameWriter::Begin()
{
    DebugLine("Code compiled with VAD option: VAD1\n");
    static const char magic[] = "#!AMR\n";
    bytes = 6;
    return Put(magic, 6);
}

bool AmrFrameWriter::Put(const void* data, std::size_t size)
{
    errno = 0;
    if (std::fwrite(data, 1, size, output) == size)
        return true;
    if (writeError == 0)
        writeError = errno != 0 ? errno : EIO;
    return false;
}

bool AmrFrameWriter::EncodePending()
{
    unsigned char frame[64];
    const int size = encoder.Encode(mode, pending, frame);
    ++frames;
    pendingCount = 0;
    if (size <= 0)
        return true;
    bytes += size;
    return Put(frame, static_cast<std::size_t>(size));
}

bool AmrFrameWriter::Write(const int16_t* samples, std::size_t count)
{
    while (count > 0) {
        const std::size_t take = std::min<std::size_t>(
            count, static_cast<std::size_t>(AMR_FRAME_SAMPLES - pendingCount));
        std::copy_n(samples, take, pending + pendingCount);
        pendingCount += static_cast<int>(take);
        samples += take;
        count -= take;
        if (pendingCount == AMR_FRAME_SAMPLES && !EncodePending())
            return false;
    }
    return true;
}

bool AmrFrameWriter::Finish()
{
    bool written = true;
    if (pendingCount > 0) {
        // Zeros rather than the previous frame's tail: the frame count is the same either way,
        // and silence does not repeat a fragment of speech at the end.
        std::fill(pending + pendingCount, pending + AMR_FRAME_SAMPLES, int16_t {0});
        written = EncodePending();
    }
    DebugLine("\n%s%lld%s%lld%s\n", "Frame structure AMR MIME file storage format: ", frames,
        " frames, ", bytes, " bytes.");
    return written;
}

} // namespace corvane
