// ConvertMp3ToAmr on MP3 files made at test time with sox, lame and espeak-ng.
#include "AudioTestSupport.h"

#include "audio/AmrWriter.h"
#include "audio/Mp3ToAmr.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <memory>
#include <random>
#include <sys/stat.h>

using namespace corvane;

namespace {

std::vector<std::string> FolderEntries(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string RandomBytes(std::size_t count, unsigned int seed)
{
    std::mt19937 generator(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
}

// A syncsafe ID3v2.3 tag holding one APIC frame of pictureBytes bytes.
std::string Id3v2WithPicture(const std::string& picture)
{
    std::string frame = std::string("\0image/jpeg\0\3\0", 14) + picture;
    std::string tag = "APIC";
    const auto size = static_cast<uint32_t>(frame.size());
    for (int shift : {24, 16, 8, 0})
        tag += static_cast<char>((size >> shift) & 0xFF);
    tag += std::string(2, '\0');
    tag += frame;
    std::string header = std::string("ID3\3\0\0", 6);
    const auto total = static_cast<uint32_t>(tag.size());
    for (int shift : {21, 14, 7, 0})
        header += static_cast<char>((total >> shift) & 0x7F);
    return header + tag;
}

// The inputs, made once for the whole suite.
class Mp3ToAmr : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<TempDir>();
        const auto q = [](const std::string& name) { return ShellQuote(folder->File(name)); };
        ready = RunQuiet("sox -n -r 44100 -c 2 " + q("stereo.wav") + " synth 2.5 sine 440 sine 660")
            && RunQuiet("lame --quiet -b 128 " + q("stereo.wav") + " " + q("stereo.mp3"))
            && RunQuiet("sox -n -r 22050 -c 1 " + q("mono.wav") + " synth 2.5 sine 300")
            && RunQuiet("lame --quiet -V 4 " + q("mono.wav") + " " + q("vbr.mp3"))
            && RunQuiet("sox -n -r 16000 -c 1 " + q("16k.wav") + " synth 2.5 sine 300")
            && RunQuiet("lame --quiet -b 32 " + q("16k.wav") + " " + q("mpeg2.mp3"))
            && RunQuiet("sox -n -r 8000 -c 1 " + q("8k.wav") + " synth 2.5 sine 300")
            && RunQuiet("lame --quiet -b 16 " + q("8k.wav") + " " + q("mpeg25.mp3"))
            && RunQuiet("sox -n -r 32000 -c 2 " + q("layer2.mp2") + " synth 2.5 sine 300")
            && RunQuiet("espeak-ng -w " + q("speech.wav")
                + " 'The quick brown fox jumps over the lazy dog. Seven silver swans "
                  "swam silently seaward.'")
            && RunQuiet("sox " + q("speech.wav") + " -r 44100 -c 2 " + q("speech44.wav"))
            && RunQuiet("lame --quiet -b 128 " + q("speech44.wav") + " " + q("speech.mp3"))
            && RunQuiet("sox " + q("speech44.wav") + " -r 8000 -c 1 -t raw -e signed -b 16 "
                + q("speech.raw"));
    }
    static void TearDownTestSuite() { folder.reset(); }

    void SetUp() override { ASSERT_TRUE(ready) << "sox, lame or espeak-ng failed"; }

    static std::string Input(const std::string& name) { return folder->File(name); }

    // Converts and decodes; the conversion must succeed.
    DecodedAmr Convert(
        const std::string& mp3, int mode, int volume = 4, int limitOn = 0, unsigned int length = 0)
    {
        const std::string amr = out.File("out.amr");
        std::string error;
        EXPECT_EQ(ConvertMp3ToAmr(mp3, amr, mode, 0, volume, limitOn, length, nullptr, &error), 0)
            << error;
        DecodedAmr decoded = DecodeAmr(amr);
        EXPECT_TRUE(decoded.problem.empty()) << decoded.problem;
        return decoded;
    }

    // Expects -1, an error naming the input, and nothing left in the output folder.
    void ExpectNoAudio(const std::string& mp3)
    {
        std::string error;
        EXPECT_EQ(ConvertMp3ToAmr(mp3, out.File("out.amr"), 0, 0, 4, 0, 0, nullptr, &error), -1);
        EXPECT_NE(error.find(mp3), std::string::npos) << error;
        EXPECT_TRUE(FolderEntries(out.Path()).empty());
    }

    static std::unique_ptr<TempDir> folder;
    static bool ready;
    TempDir out;
};

std::unique_ptr<TempDir> Mp3ToAmr::folder;
bool Mp3ToAmr::ready = false;

} // namespace

TEST_F(Mp3ToAmr, StereoCbrGivesEveryFrameInTheChosenMode)
{
    for (int mode = 0; mode <= 7; ++mode) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        const DecodedAmr decoded = Convert(Input("stereo.mp3"), mode);
        // lame's gapless information lets the decoder give exactly 2.5 s: 125 frames.
        ASSERT_EQ(decoded.headers.size(), 125u);
        for (unsigned char header : decoded.headers)
            ASSERT_EQ(header, (mode << 3) | 0x04);
        EXPECT_EQ(ReadWholeFile(out.File("out.amr")).size(),
            6u + 125u * static_cast<unsigned>(AmrFrameBytes(mode)));
    }
}

TEST_F(Mp3ToAmr, OtherVersionsLayersAndRates)
{
    // VBR 22.05 kHz mono carries gapless information; the small MPEG-2 and 2.5 frames and layer
    // II do not, so the encoder's delay and padding (under 0.2 s) come along.
    EXPECT_EQ(Convert(Input("vbr.mp3"), 0).headers.size(), 125u);
    for (const char* name : {"mpeg2.mp3", "mpeg25.mp3", "layer2.mp2"}) {
        SCOPED_TRACE(name);
        const std::size_t frames = Convert(Input(name), 0).headers.size();
        EXPECT_GE(frames, 125u);
        EXPECT_LE(frames, 135u);
    }
}

TEST_F(Mp3ToAmr, FilesJoinedAtADifferentRateConvertWhole)
{
    // 44.1 kHz stereo followed by 22.05 kHz mono: the resampler is renewed at the change and
    // neither part is lost (each part brings its encoder delay, under 0.1 s).
    const std::string joined = out.Write(
        "joined.mp3", ReadWholeFile(Input("stereo.mp3")) + ReadWholeFile(Input("vbr.mp3")));
    const std::size_t frames = Convert(joined, 0).headers.size();
    EXPECT_GE(frames, 250u);
    EXPECT_LE(frames, 260u);
}

TEST_F(Mp3ToAmr, LimitKeepsWholeSeconds)
{
    EXPECT_EQ(Convert(Input("stereo.mp3"), 0, 4, 1, 2).headers.size(), 100u);
    EXPECT_EQ(Convert(Input("stereo.mp3"), 0, 4, 1, 3).headers.size(), 125u);
    EXPECT_EQ(Convert(Input("stereo.mp3"), 0, 4, 0, 2).headers.size(), 125u);
    EXPECT_EQ(Convert(Input("stereo.mp3"), 0, 4, 1, 0).headers.size(), 0u);
    EXPECT_EQ(ReadWholeFile(out.File("out.amr")), "#!AMR\n");
}

TEST_F(Mp3ToAmr, DecodedSpeechFollowsTheInput)
{
    const std::vector<int16_t> reference = ReadSamples(Input("speech.raw"));
    ASSERT_GT(reference.size(), 8000u);
    const DecodedAmr full = Convert(Input("speech.mp3"), 7, 7);
    const std::size_t expectedFrames = (reference.size() + 159) / 160;
    EXPECT_NEAR(static_cast<double>(full.headers.size()), static_cast<double>(expectedFrames), 3);
    const double correlation = BestCorrelation(reference, full.samples, 800);
    EXPECT_GT(correlation, 0.6);

    // The same speech shifted by a second is unrelated: the measure can fail.
    const std::vector<int16_t> shifted(reference.begin() + 8000, reference.end());
    EXPECT_LT(BestCorrelation(shifted, full.samples, 800), 0.3);

    // Volume 4 divides by 8 before coding; the codec is not linear, so loosely.
    const DecodedAmr quiet = Convert(Input("speech.mp3"), 7, 4);
    const double ratio = Rms(quiet.samples) / Rms(full.samples);
    EXPECT_GT(ratio, 0.08);
    EXPECT_LT(ratio, 0.18);
    EXPECT_GT(BestCorrelation(reference, quiet.samples, 800), 0.5);
}

TEST_F(Mp3ToAmr, LargeId3v2TagIsSkipped)
{
    // The picture holds frame-sync patterns that must not be taken for audio.
    std::string picture = RandomBytes(300 * 1024, 7);
    for (std::size_t at = 0; at + 4 < picture.size(); at += 4096)
        picture.replace(at, 4, "\xFF\xFB\x90\x64");
    const std::string tagged = Id3v2WithPicture(picture) + ReadWholeFile(Input("stereo.mp3"));
    const std::string path = out.Write("tagged.mp3", tagged);
    const DecodedAmr decoded = Convert(path, 0);
    EXPECT_EQ(decoded.headers.size(), 125u);

    // An ID3v1 tag at the end as well.
    std::string id3v1 = "TAG" + std::string(125, 'x');
    const std::string both = out.Write("both.mp3", tagged + id3v1);
    EXPECT_EQ(Convert(both, 0).headers.size(), 125u);
}

TEST_F(Mp3ToAmr, TruncatedOrDamagedFilesConvertWhatDecodes)
{
    const std::string whole = ReadWholeFile(Input("stereo.mp3"));
    const std::string truncated
        = out.Write("truncated.mp3", whole.substr(0, whole.size() * 6 / 10));
    const std::size_t truncatedFrames = Convert(truncated, 0).headers.size();
    EXPECT_GE(truncatedFrames, 60u);
    EXPECT_LE(truncatedFrames, 85u);

    std::string damaged = whole;
    damaged.replace(damaged.size() / 2, 3000, RandomBytes(3000, 3));
    const std::size_t damagedFrames = Convert(out.Write("damaged.mp3", damaged), 0).headers.size();
    EXPECT_GE(damagedFrames, 100u);
    EXPECT_LE(damagedFrames, 130u);

    // Cut inside the very first frames: too little for a stream, but no crash.
    std::string error;
    const int result = ConvertMp3ToAmr(out.Write("stub.mp3", whole.substr(0, 700)),
        out.File("stub.amr"), 0, 0, 4, 0, 0, nullptr, &error);
    EXPECT_EQ(result, -1);
    EXPECT_FALSE(FileExists(out.File("stub.amr")));
}

TEST_F(Mp3ToAmr, InputWithoutMpegAudioGivesNoFile)
{
    for (unsigned int seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        const std::string path = folder->Write("random.bin", RandomBytes(64 * 1024, seed));
        ExpectNoAudio(path);
    }
    ExpectNoAudio(folder->Write("empty.mp3", ""));
    ExpectNoAudio(folder->Write("page.mp3",
        "<!DOCTYPE html><html><head><title>404 Not Found"
        "</title></head><body>gone</body></html>\n"));
    // A WAV file is audio, but not MPEG audio.
    ExpectNoAudio(Input("mono.wav"));
}

TEST_F(Mp3ToAmr, FilesThatCannotBeOpenedAreNamed)
{
    std::string error;
    EXPECT_EQ(
        ConvertMp3ToAmr(out.File("missing.mp3"), out.File("a.amr"), 0, 0, 4, 0, 0, nullptr, &error),
        -1);
    EXPECT_NE(error.find("missing.mp3"), std::string::npos) << error;
    EXPECT_EQ(ConvertMp3ToAmr(out.Path(), out.File("a.amr"), 0, 0, 4, 0, 0, nullptr, &error), -1);
    EXPECT_FALSE(FileExists(out.File("a.amr")));

    const std::string unwritable = out.File("no/folder/out.amr");
    EXPECT_EQ(ConvertMp3ToAmr(Input("stereo.mp3"), unwritable, 0, 0, 4, 0, 0, nullptr, &error), -1);
    EXPECT_NE(error.find(unwritable), std::string::npos) << error;
}

TEST_F(Mp3ToAmr, ModeOutsideTheCodecsGivesNoFile)
{
    for (int mode : {8, -1}) {
        std::string error;
        EXPECT_EQ(ConvertMp3ToAmr(
                      Input("stereo.mp3"), out.File("out.amr"), mode, 0, 4, 0, 0, nullptr, &error),
            -1);
        EXPECT_FALSE(error.empty());
        EXPECT_FALSE(FileExists(out.File("out.amr")));
    }
}

TEST_F(Mp3ToAmr, FailureKeepsThePreviousFileAndSuccessReplacesIt)
{
    const std::string amr = out.Write("out.amr", "previous");
    const std::string random = out.Write("random.mp3", RandomBytes(20000, 99));
    EXPECT_EQ(ConvertMp3ToAmr(random, amr, 0, 0, 4, 0, 0), -1);
    EXPECT_EQ(ReadWholeFile(amr), "previous");
    EXPECT_EQ(ConvertMp3ToAmr(Input("stereo.mp3"), amr, 0, 0, 4, 0, 0), 0);
    EXPECT_EQ(ReadWholeFile(amr).size(), 6u + 125u * 13u);
    EXPECT_EQ(FolderEntries(out.Path()), (std::vector<std::string> {"out.amr", "random.mp3"}));
}

TEST_F(Mp3ToAmr, LongestFileNameStillConverts)
{
    // 255 bytes is the longest name a Linux file system takes; the unfinished output must not
    // need a longer one.
    const std::string amr = out.File(std::string(251, 'a') + ".amr");
    std::string error;
    EXPECT_EQ(ConvertMp3ToAmr(Input("stereo.mp3"), amr, 0, 0, 4, 0, 0, nullptr, &error), 0)
        << error;
    EXPECT_EQ(ReadWholeFile(amr).size(), 6u + 125u * 13u);
    EXPECT_EQ(FolderEntries(out.Path()).size(), 1u);
}

TEST_F(Mp3ToAmr, StopEndsTheConversionWithoutAFile)
{
    std::stop_source stop;
    ConversionControl control;
    control.stop = stop.get_token();
    stop.request_stop();
    std::string error;
    EXPECT_EQ(
        ConvertMp3ToAmr(Input("speech.mp3"), out.File("out.amr"), 0, 0, 4, 0, 0, &control, &error),
        -1);
    EXPECT_TRUE(FolderEntries(out.Path()).empty());

    // Stopped from the progress report, on the decoding thread, part-way through.
    std::stop_source later;
    ConversionControl midway;
    midway.stop = later.get_token();
    int reports = 0;
    midway.progress = [&](double) {
        if (++reports == 2)
            later.request_stop();
    };
    EXPECT_EQ(
        ConvertMp3ToAmr(Input("speech.mp3"), out.File("out.amr"), 0, 0, 4, 0, 0, &midway, &error),
        -1);
    EXPECT_GE(reports, 2);
    EXPECT_TRUE(FolderEntries(out.Path()).empty());
}

TEST_F(Mp3ToAmr, ProgressRisesToOne)
{
    std::vector<double> reports;
    ConversionControl control;
    control.progress = [&](double fraction) { reports.push_back(fraction); };
    ASSERT_EQ(
        ConvertMp3ToAmr(Input("speech.mp3"), out.File("out.amr"), 0, 0, 4, 0, 0, &control), 0);
    ASSERT_GE(reports.size(), 3u);
    for (std::size_t i = 1; i < reports.size(); ++i)
        EXPECT_GE(reports[i], reports[i - 1]);
    EXPECT_GE(reports.front(), 0.0);
    EXPECT_EQ(reports.back(), 1.0);
}

// A private output is private from its first byte, whatever the umask, and also when it
// replaces a file that was open to others.
TEST_F(Mp3ToAmr, FileModeIsTheOutputsFromTheStart)
{
    const mode_t previous = ::umask(022);
    ConversionControl control;
    control.fileMode = 0600;
    const std::string amr = out.File("out.amr");
    EXPECT_EQ(ConvertMp3ToAmr(Input("stereo.mp3"), amr, 0, 0, 4, 0, 0, &control), 0);
    struct stat status { };
    ASSERT_EQ(::stat(amr.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    ASSERT_EQ(::chmod(amr.c_str(), 0644), 0);
    EXPECT_EQ(ConvertMp3ToAmr(Input("stereo.mp3"), amr, 0, 0, 4, 0, 0, &control), 0);
    ASSERT_EQ(::stat(amr.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    // Without one, the usual rule: 0666 less the umask.
    const std::string plain = out.File("plain.amr");
    EXPECT_EQ(ConvertMp3ToAmr(Input("stereo.mp3"), plain, 0, 0, 4, 0, 0), 0);
    ASSERT_EQ(::stat(plain.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
    ::umask(previous);
}
