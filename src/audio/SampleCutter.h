// The cut and volume rules on 8000 Hz mono 16-bit samples, applied as the samples stream in.
//
// The samples are grouped in whole seconds of 8000. With the limit off every whole second is
// kept; with the limit on only the first lengthSeconds. The partial last second is kept when the
// limit is off or when the input held fewer than lengthSeconds whole seconds. Every kept sample
// is divided by 2^(7 - volumeIndex), truncating toward zero.
// Thread: one thread per object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace corvane {

constexpr int SAMPLES_PER_SECOND = 8000;

// Index 0..7 gives 128, 64, ..., 1. An index outside that range is clamped into it, so no
// divisor is ever zero or a shift is ever negative.
int VolumeDivisor(int volumeIndex);

// Divides each sample by divisor with C++ integer division (toward zero).
void ApplyVolume(int16_t* samples, std::size_t count, int divisor);

class SampleCutter {
public:
    // sink receives the kept samples, already lowered, in pieces of at most one second.
    using Sink = std::function<void(const int16_t* samples, std::size_t count)>;

    SampleCutter(int volumeIndex, bool limitOn, unsigned int lengthSeconds, Sink sink);

    // Takes the next decoded samples.
    void Push(const int16_t* samples, std::size_t count);
    // The input has ended: emits the partial last second when the rules keep it.
    void Finish();

    // True once nothing more can be kept: the limit's seconds are all out, and the partial
    // second is dropped whenever the input holds that many whole seconds.
    bool Saturated() const { return limitOn && wholeSeconds >= lengthSeconds; }
    unsigned long long WholeSeconds() const { return wholeSeconds; }

private:
    void Emit(std::size_t count);

    int divisor;
    bool limitOn;
    unsigned int lengthSeconds;
    Sink sink;
    int16_t second[SAMPLES_PER_SECOND];
    std::size_t filled = 0;
    unsigned long long wholeSeconds = 0; // n so far: every complete second seen, kept or not
};

} // namespace corvane
