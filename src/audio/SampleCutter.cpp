#include "audio/SampleCutter.h"

#include <algorithm>
#include <utility>

namespace corvane {

int VolumeDivisor(int volumeIndex)
{
    return 1 << (7 - std::clamp(volumeIndex, 0, 7));
}

void ApplyVolume(int16_t* samples, std::size_t count, int divisor)
{
    if (divisor == 1)
        return;
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(samples[i] / divisor);
}

SampleCutter::SampleCutter(int volumeIndex, bool limitOn_, unsigned int lengthSeconds_, Sink sink_)
    : divisor(VolumeDivisor(volumeIndex))
    , limitOn(limitOn_)
    , lengthSeconds(lengthSeconds_)
    , sink(std::move(sink_))
{ }

void SampleCutter::Emit(std::size_t count)
{
    ApplyVolume(second, count, divisor);
    sink(second, count);
}

void SampleCutter::Push(const int16_t* samples, std::size_t count)
{
    while (count > 0) {
        const std::size_t take = std::min(count, SAMPLES_PER_SECOND - filled);
        std::copy_n(samples, take, second + filled);
        filled += take;
        samples += take;
        count -= take;
        if (filled == SAMPLES_PER_SECOND) {
            // Checked before counting: the second in hand is number wholeSeconds + 1.
            if (!Saturated())
                Emit(filled);
            ++wholeSeconds;
            filled = 0;
        }
    }
}

void SampleCutter::Finish()
{
    if (filled > 0 && (!limitOn || wholeSeconds < lengthSeconds))
        Emit(filled);
    filled = 0;
}

} // namespace corvane
