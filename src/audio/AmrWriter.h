// The AMR-NB frame loop shared by EncodeAmrFile and the streamed MP3 conversion.
//
// AmrEncoder owns one opencore-amrnb encoder state. AmrFrameWriter takes 8000 Hz mono 16-bit
// samples in pieces of any size, encodes one frame per 160 samples in one mode, and appends
// each frame in the storage format of RFC 4867 section 5 to a stdio stream it does not own,
// after the six bytes "#!AMR\n". The last partial frame is filled with zeros.
// Thread: one thread per object; objects share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace corvane {

constexpr int AMR_FRAME_SAMPLES = 160;
constexpr int AMR_SAMPLE_RATE = 8000;

// Storage-format frame size in bytes, header byte included, of a speech frame in mode 0..7.
int AmrFrameBytes(int mode);

class AmrEncoder {
public:
    // dtx: discontinuous transmission on when true. Throws std::bad_alloc when the library
    // cannot make a state.
    explicit AmrEncoder(bool dtx);
    ~AmrEncoder();
    AmrEncoder(AmrEncoder&& other) noexcept;
    AmrEncoder& operator=(AmrEncoder&& other) noexcept;
    AmrEncoder(const AmrEncoder&) = delete;
    AmrEncoder& operator=(const AmrEncoder&) = delete;

    // Encodes 160 samples in mode 0..7 with force-speech 0; out must hold 64 bytes. Returns the
    // number of bytes written to out.
    int Encode(int mode, const int16_t* frame, unsigned char* out);

private:
    void* state = nullptr;
};

class AmrFrameWriter {
public:
    // mode must be 0..7 (checked by the callers). output stays owned by the caller.
    AmrFrameWriter(std::FILE* output, int mode, bool dtx);

    // Writes the magic. False when the stream refused it.
    bool Begin();
    // Encodes every whole frame that the samples complete; keeps the rest for the next call.
    bool Write(const int16_t* samples, std::size_t count);
    // Encodes the partial last frame, zero-filled, and writes the summary diagnostic line.
    bool Finish();

    long long Frames() const { return frames; }
    long long Bytes() const { return bytes; }
    // The errno of the first write the stream refused (EIO when it gave none), 0 before: kept
    // because errno itself changes before the caller gets to report it.
    int WriteError() const { return writeError; }

private:
    bool EncodePending();
    bool Put(const void* data, std::size_t size);

    std::FILE* output;
    int mode;
    AmrEncoder encoder;
    int16_t pending[AMR_FRAME_SAMPLES] = {};
    int pendingCount = 0;
    long long frames = 0;
    long long bytes = 0;
    int writeError = 0;
};

} // namespace corvane
