// Sample-rate conversion of mono float samples to 8000 Hz 16-bit integers with libsoxr.
//
// Quality recipe SOXR_MQ ("medium": 16-bit precision, medium roll-off), without dither. The
// output is 16-bit and then coded by AMR-NB, which keeps only the band up to 3.4 kHz: MQ's
// pass band covers that band fully and its 16-bit stop band attenuation matches the output's
// precision, at well under half the cost of the default HQ (20-bit). Dither is off because the
// volume division that follows removes the low bits anyway, and it keeps the output identical
// from run to run.
// Thread: one thread per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

struct soxr;

namespace corvane {

class Resampler {
public:
    using Sink = std::function<void(const int16_t* samples, std::size_t count)>;

    // inputRate in Hz (> 0). Throws std::runtime_error when libsoxr rejects the rates.
    Resampler(double inputRate, Sink sink);
    ~Resampler();
    Resampler(Resampler&& other) noexcept;
    Resampler& operator=(Resampler&& other) noexcept;
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;

    // Converts the samples and hands every finished output sample to the sink.
    void Push(const float* samples, std::size_t count);
    // The input has ended: hands the samples still held in the filter to the sink.
    void Flush();

    double InputRate() const { return inputRate; }

private:
    soxr* handle = nullptr;
    double inputRate = 0;
    Sink sink;
};

} // namespace corvane
