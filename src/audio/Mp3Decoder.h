// MPEG audio decoding with libmpg123: MPEG-1, 2 and 2.5, layers I to III, CBR or VBR, any
// sample rate; stereo is mixed to mono; ID3v1 and ID3v2 tags of any size are skipped.
//
// Mixing: mpg123's MPG123_MONO_MIX adds the two channels' spectra before synthesis. Synthesis
// is linear, so the result equals the average of the decoded channels, at half the synthesis
// cost, and a stereo file whose channels are in opposite phase is the only one that loses sound
// (as with any averaging).
//
// A file counts as MPEG audio only once it yields a run of STREAM_LOCK_FRAMES consecutive
// frames that agree in version, layer and rate. Random bytes contain frame headers by chance
// (mpg123 finds a few in about one of a few hundred random files), but practically never a run
// of consistent ones; an HTML page has no sync bytes at all.
//
// Thread: one thread per object. mpg123_init runs once per process, guarded.
#pragma once

#include "platform/InputFile.h"

#include <cstddef>
#include <string>

struct mpg123_handle_struct;

namespace corvane {

constexpr int STREAM_LOCK_FRAMES = 5;

class Mp3Decoder {
public:
    // Throws std::bad_alloc when libmpg123 cannot make a handle.
    Mp3Decoder();
    ~Mp3Decoder();
    Mp3Decoder(Mp3Decoder&& other) noexcept;
    Mp3Decoder& operator=(Mp3Decoder&& other) noexcept;
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // Opens path for decoding from its first byte. On failure returns false and sets error to a
    // message naming the file and the reason.
    bool Open(const std::string& path, std::string* error);

    // Decodes the next frame. Returns false at the end of the stream (or where damage ends it);
    // otherwise samples points at count mono float samples (nominally -1..1) at Rate(), valid
    // until the next call. count may be 0.
    bool Next(const float** samples, std::size_t* count);

    // The sample rate of the samples Next returned last (0 before the first).
    long Rate() const { return rate; }
    // True once a consistent run of frames was seen: the file holds MPEG audio.
    bool StreamLocked() const { return locked; }
    // How much of the file the decoder has read, 0..1.
    double Fraction() const;

private:
    mpg123_handle_struct* handle = nullptr;
    InputFile file;
    long long fileSize = 0;
    long rate = 0;
    bool locked = false;
    long long lastFrame = -2;
    int lastVersion = -1;
    int lastLayer = -1;
    long lastRate = -1;
    int run = 0;
};

} // namespace corvane
