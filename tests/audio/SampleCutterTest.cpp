// The cut and volume rules on streamed 8 kHz samples.
#include "audio/SampleCutter.h"

#include <gtest/gtest.h>

#include <vector>

using namespace corvane;

namespace {

// Feeds count samples (value i % 1000 for sample i) in pieces of pieceSize; returns the output.
std::vector<int16_t> Cut(std::size_t count, int volumeIndex, bool limitOn, unsigned int length,
    std::size_t pieceSize = 8000)
{
    std::vector<int16_t> output;
    std::size_t largestPiece = 0;
    SampleCutter cutter(volumeIndex, limitOn, length, [&](const int16_t* samples, std::size_t n) {
        output.insert(output.end(), samples, samples + n);
        largestPiece = std::max(largestPiece, n);
    });
    std::vector<int16_t> piece;
    for (std::size_t at = 0; at < count; at += pieceSize) {
        piece.clear();
        for (std::size_t i = at; i < std::min(count, at + pieceSize); ++i)
            piece.push_back(static_cast<int16_t>(i % 1000));
        cutter.Push(piece.data(), piece.size());
    }
    cutter.Finish();
    EXPECT_LE(largestPiece, static_cast<std::size_t>(SAMPLES_PER_SECOND));
    return output;
}

} // namespace

TEST(SampleCutter, WholeSecondsAndThePartialLastOne)
{
    // 2.5 seconds: 40,000 bytes.
    for (std::size_t piece :
        {std::size_t {1}, std::size_t {7}, std::size_t {8000}, std::size_t {20000}}) {
        SCOPED_TRACE("pieces of " + std::to_string(piece));
        EXPECT_EQ(Cut(20000, 7, false, 0, piece).size(), 20000u);
        EXPECT_EQ(Cut(20000, 7, true, 2, piece).size(), 16000u);
        EXPECT_EQ(Cut(20000, 7, true, 3, piece).size(), 20000u);
    }
    // The partial second is kept only below the limit: exactly at it, it goes.
    EXPECT_EQ(Cut(20000, 7, true, 2).size(), 16000u);
    EXPECT_EQ(Cut(16000, 7, true, 2).size(), 16000u);
    EXPECT_EQ(Cut(15999, 7, true, 2).size(), 15999u);
    EXPECT_EQ(Cut(20000, 7, true, 0).size(), 0u);
    EXPECT_EQ(Cut(0, 7, false, 0).size(), 0u);
    EXPECT_EQ(Cut(7999, 7, false, 0).size(), 7999u);
}

TEST(SampleCutter, KeepsTheBeginningUnchangedAtFullVolume)
{
    const std::vector<int16_t> output = Cut(20000, 7, true, 2, 333);
    ASSERT_EQ(output.size(), 16000u);
    for (std::size_t i = 0; i < output.size(); ++i)
        ASSERT_EQ(output[i], static_cast<int16_t>(i % 1000)) << i;
}

TEST(SampleCutter, TwentyMinuteLimitOfALongerInput)
{
    std::size_t kept = 0;
    SampleCutter cutter(4, true, 1200, [&](const int16_t*, std::size_t n) { kept += n; });
    const std::vector<int16_t> second(8000, 100);
    for (int i = 0; i < 1300; ++i) {
        EXPECT_EQ(cutter.Saturated(), i >= 1200) << i;
        cutter.Push(second.data(), second.size());
    }
    cutter.Push(second.data(), 123);
    cutter.Finish();
    EXPECT_EQ(kept, 1200u * 8000u);
    EXPECT_EQ(cutter.WholeSeconds(), 1300u);
}

TEST(SampleCutter, VolumeDividesTowardZero)
{
    EXPECT_EQ(VolumeDivisor(0), 128);
    EXPECT_EQ(VolumeDivisor(4), 8);
    EXPECT_EQ(VolumeDivisor(7), 1);
    // Outside 0..7: clamped, never a zero divisor or a negative shift.
    EXPECT_EQ(VolumeDivisor(-5), 128);
    EXPECT_EQ(VolumeDivisor(8), 1);
    EXPECT_EQ(VolumeDivisor(1000), 1);

    auto lowered = [](int16_t sample, int index) {
        std::vector<int16_t> out;
        SampleCutter cutter(
            index, false, 0, [&](const int16_t* s, std::size_t n) { out.assign(s, s + n); });
        cutter.Push(&sample, 1);
        cutter.Finish();
        return out.at(0);
    };
    EXPECT_EQ(lowered(1000, 4), 125);
    EXPECT_EQ(lowered(-1001, 4), -125);
    EXPECT_EQ(lowered(-1, 4), 0);
    EXPECT_EQ(lowered(127, 0), 0);
    EXPECT_EQ(lowered(-128, 0), -1);
    EXPECT_EQ(lowered(-32768, 0), -256);
    EXPECT_EQ(lowered(-32768, 7), -32768);
    EXPECT_EQ(lowered(32767, 7), 32767);
    EXPECT_EQ(lowered(32767, 6), 16383);
}
