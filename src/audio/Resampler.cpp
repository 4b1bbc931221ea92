#include "audio/Resampler.h"

#include <soxr.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace corvane {

namespace {

constexpr std::size_t OUTPUT_BLOCK = 4096;

} // namespace

Resampler::Resampler(double inputRate_, Sink sink_)
    : inputRate(inputRate_)
    , sink(std::move(sink_))
{
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_INT16_I);
    soxr_io_spec_t ioNoDither = io;
    ioNoDither.flags |= SOXR_NO_DITHER;
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    soxr_error_t error = nullptr;
    handle = soxr_create(inputRate, 8000.0, 1, &error, &ioNoDither, &quality, nullptr);
    if (!handle || error)
        throw std::runtime_error(std::string("resampler: ") + (error ? error : "no memory"));
}

Resampler::~Resampler()
{
    if (handle)
        soxr_delete(handle);
}

Resampler::Resampler(Resampler&& other) noexcept
    : handle(std::exchange(other.handle, nullptr))
    , inputRate(other.inputRate)
    , sink(std::move(other.sink))
{ }

Resampler& Resampler::operator=(Resampler&& other) noexcept
{
    if (this != &other) {
        if (handle)
            soxr_delete(handle);
        handle = std::exchange(other.handle, nullptr);
        inputRate = other.inputRate;
        sink = std::move(other.sink);
    }
    return *this;
}

void Resampler::Push(const float* samples, std::size_t count)
{
    int16_t output[OUTPUT_BLOCK];
    while (count > 0) {
        std::size_t used = 0;
        std::size_t made = 0;
        soxr_error_t error
            = soxr_process(handle, samples, count, &used, output, OUTPUT_BLOCK, &made);
        if (error)
            throw std::runtime_error(std::string("resampler: ") + error);
        if (made > 0)
            sink(output, made);
        samples += used;
        count -= used;
        if (used == 0 && made == 0)
            break; // cannot happen with room in output; guards against a loop without progress
    }
}

void Resampler::Flush()
{
    int16_t output[OUTPUT_BLOCK];
    // Each call with no input drains up to one block; the filter holds a bounded tail.
    for (int round = 0; round < 1024; ++round) {
        std::size_t made = 0;
        soxr_error_t error = soxr_process(handle, nullptr, 0, nullptr, output, OUTPUT_BLOCK, &made);
        if (error)
            throw std::runtime_error(std::string("resampler: ") + error);
        if (made == 0)
            break;
        sink(output, made);
    }
}

} // namespace corvane
