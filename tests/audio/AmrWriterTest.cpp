// EncodeAmrFile: the AMR file frame loop over raw PCM.
#include "AudioTestSupport.h"

#include "audio/AmrWriter.h"
#include "audio/Mp3ToAmr.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>

using namespace corvane;

namespace {

// Two seconds of a 300 Hz tone at a speech-like level.
std::vector<int16_t> Tone(std::size_t count)
{
    std::vector<int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 300.0 * i / 8000.0));
    return samples;
}

} // namespace

TEST(EncodeAmrFile, TwoSecondsGiveOneHundredFramesOfTheModesSize)
{
    TempDir dir;
    const std::string raw = dir.File("in.raw");
    WriteSamples(raw, Tone(16000));
    ASSERT_EQ(ReadWholeFile(raw).size(), 32000u);

    for (int mode = 0; mode <= 7; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string amr = dir.File("out" + std::to_string(mode) + ".amr");
        ASSERT_EQ(EncodeAmrFile(raw, amr, mode, 0), 0);
        EXPECT_EQ(
            ReadWholeFile(amr).size(), 6u + 100u * static_cast<unsigned>(AmrFrameBytes(mode)));
        const DecodedAmr decoded = DecodeAmr(amr);
        EXPECT_TRUE(decoded.problem.empty()) << decoded.problem;
        ASSERT_EQ(decoded.headers.size(), 100u);
        for (unsigned char header : decoded.headers)
            ASSERT_EQ(header, (mode << 3) | 0x04);
    }
    EXPECT_EQ(ReadWholeFile(dir.File("out0.amr")).size(), 1306u);
    EXPECT_EQ(ReadWholeFile(dir.File("out7.amr")).size(), 3206u);
}

TEST(EncodeAmrFile, EmptyInputGivesTheMagicOnly)
{
    TempDir dir;
    const std::string raw = dir.Write("empty.raw", "");
    ASSERT_EQ(EncodeAmrFile(raw, dir.File("out.amr"), 0, 0), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("out.amr")), "#!AMR\n");
}

TEST(EncodeAmrFile, PartialLastFrameCountsAsAFrameAndAnOddByteIsNoSample)
{
    TempDir dir;
    const std::vector<int16_t> tone = Tone(161);
    WriteSamples(dir.File("161.raw"), tone);
    ASSERT_EQ(EncodeAmrFile(dir.File("161.raw"), dir.File("161.amr"), 7, 0), 0);
    EXPECT_EQ(DecodeAmr(dir.File("161.amr")).headers.size(), 2u);

    // 160 samples and one stray byte: one frame.
    dir.Write("odd.raw", ReadWholeFile(dir.File("161.raw")).substr(0, 321));
    ASSERT_EQ(EncodeAmrFile(dir.File("odd.raw"), dir.File("odd.amr"), 7, 0), 0);
    EXPECT_EQ(DecodeAmr(dir.File("odd.amr")).headers.size(), 1u);
}

TEST(EncodeAmrFile, ModeAboveSevenFailsAndLeavesAnEmptyOutput)
{
    TempDir dir;
    WriteSamples(dir.File("in.raw"), Tone(1600));
    for (int mode : {8, 100, -1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const std::string amr = dir.Write("out.amr", "previous content");
        EXPECT_EQ(EncodeAmrFile(dir.File("in.raw"), amr, mode, 0), 1);
        EXPECT_TRUE(FileExists(amr));
        EXPECT_EQ(ReadWholeFile(amr), "");
    }
}

TEST(EncodeAmrFile, FilesThatCannotBeOpenedOrWrittenFail)
{
    TempDir dir;
    WriteSamples(dir.File("in.raw"), Tone(1600));
    // The output is opened first, so it exists (empty) even when the input is missing.
    EXPECT_EQ(EncodeAmrFile(dir.File("missing.raw"), dir.File("a.amr"), 0, 0), 1);
    EXPECT_TRUE(FileExists(dir.File("a.amr")));
    EXPECT_EQ(ReadWholeFile(dir.File("a.amr")), "");
    EXPECT_EQ(EncodeAmrFile(dir.File("in.raw"), dir.File("no/such/folder.amr"), 0, 0), 1);
    // A full device swallows nothing: the failure is reported, not hidden.
    if (FileExists("/dev/full")) {
        EXPECT_EQ(EncodeAmrFile(dir.File("in.raw"), "/dev/full", 0, 0), 1);
    }
}

TEST(EncodeAmrFile, DtxTurnsSilenceIntoNonSpeechFrames)
{
    TempDir dir;
    WriteSamples(dir.File("silence.raw"), std::vector<int16_t>(8000 * 3, 0));
    ASSERT_EQ(EncodeAmrFile(dir.File("silence.raw"), dir.File("plain.amr"), 7, 0), 0);
    ASSERT_EQ(EncodeAmrFile(dir.File("silence.raw"), dir.File("dtx.amr"), 7, 1), 0);
    const DecodedAmr plain = DecodeAmr(dir.File("plain.amr"));
    const DecodedAmr dtx = DecodeAmr(dir.File("dtx.amr"));
    ASSERT_EQ(plain.headers.size(), 150u);
    ASSERT_EQ(dtx.headers.size(), 150u);
    for (unsigned char header : plain.headers)
        ASSERT_EQ(header, 0x3C);
    int nonSpeech = 0;
    for (unsigned char header : dtx.headers)
        nonSpeech += (header >> 3) >= 8 ? 1 : 0;
    EXPECT_GT(nonSpeech, 100);
    // dtx is on exactly when the flag is 1.
    ASSERT_EQ(EncodeAmrFile(dir.File("silence.raw"), dir.File("two.amr"), 7, 2), 0);
    EXPECT_EQ(ReadWholeFile(dir.File("two.amr")), ReadWholeFile(dir.File("plain.amr")));
}

TEST(EncodeAmrFile, DecodedToneFollowsTheInput)
{
    TempDir dir;
    const std::vector<int16_t> tone = Tone(16000);
    WriteSamples(dir.File("in.raw"), tone);
    ASSERT_EQ(EncodeAmrFile(dir.File("in.raw"), dir.File("out.amr"), 7, 0), 0);
    const DecodedAmr decoded = DecodeAmr(dir.File("out.amr"));
    EXPECT_GT(BestCorrelation(tone, decoded.samples, 400), 0.8);
}

TEST(AmrFrameWriter, KeepsTheErrnoOfTheWriteThatFailed)
{
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    std::setvbuf(full, nullptr, _IONBF, 0); // each frame reaches the device at once
    AmrFrameWriter writer(full, 0, false);
    EXPECT_EQ(writer.WriteError(), 0);
    EXPECT_FALSE(writer.Begin());
    errno = EBADF; // whatever happens before the failure is reported
    EXPECT_EQ(writer.WriteError(), ENOSPC);
    std::fclose(full);
}
