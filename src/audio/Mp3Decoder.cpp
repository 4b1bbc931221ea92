#include "audio/Mp3Decoder.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#include <fcntl.h>
#include <mpg123.h>
#include <sys/stat.h>

namespace corvane {

namespace {

void InitialiseOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

} // namespace

Mp3Decoder::Mp3Decoder()
{
    InitialiseOnce();
    int result = MPG123_OK;
    handle = mpg123_new(nullptr, &result);
    if (!handle)
        throw std::bad_alloc();
    // Quiet: the library must not print into the command-line program's output.
    // Skip ID3v2 without parsing it: a tag with a large picture costs nothing.
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_MONO_MIX | MPG123_SKIP_ID3V2, 0.);
    mpg123_param(handle, MPG123_REMOVE_FLAGS, MPG123_PICTURE, 0.);
    // Resync through damage of any length: a damaged file converts what still decodes. The
    // search is bounded by the file's length.
    mpg123_param(handle, MPG123_RESYNC_LIMIT, -1, 0.);
    // Float output: the resampler works in float, so the samples are rounded to 16 bits once.
    mpg123_format_none(handle);
    mpg123_format2(handle, 0, MPG123_MONO, MPG123_ENC_FLOAT_32);
}

Mp3Decoder::~Mp3Decoder()
{
    if (handle) {
        mpg123_close(handle);
        mpg123_delete(handle);
    }
}

Mp3Decoder::Mp3Decoder(Mp3Decoder&& other) noexcept
    : handle(std::exchange(other.handle, nullptr))
    , file(std::move(other.file))
    , fileSize(other.fileSize)
    , rate(other.rate)
    , locked(other.locked)
    , lastFrame(other.lastFrame)
    , lastVersion(other.lastVersion)
    , lastLayer(other.lastLayer)
    , lastRate(other.lastRate)
    , run(other.run)
{ }

Mp3Decoder& Mp3Decoder::operator=(Mp3Decoder&& other) noexcept
{
    if (this != &other) {
        if (handle) {
            mpg123_close(handle);
            mpg123_delete(handle);
        }
        handle = std::exchange(other.handle, nullptr);
        file = std::move(other.file);
        fileSize = other.fileSize;
        rate = other.rate;
        locked = other.locked;
        lastFrame = other.lastFrame;
        lastVersion = other.lastVersion;
        lastLayer = other.lastLayer;
        lastRate = other.lastRate;
        run = other.run;
    }
    return *this;
}

bool Mp3Decoder::Open(const std::string& path, std::string* error)
{
    InputFile opened;
    std::string reason;
    if (!opened.Open(path, reason)) {
        if (error)
            *error = path + ": " + reason;
        return false;
    }
    if (mpg123_open_fd(handle, opened.Descriptor()) != MPG123_OK) {
        if (error)
            *error = "cannot read " + path + ": " + mpg123_strerror(handle);
        return false;
    }
    // mpg123 reads the descriptor but does not close it; ours closes it after mpg123_close.
    file = std::move(opened);
    fileSize = static_cast<long long>(file.Size());
    return true;
}

bool Mp3Decoder::Next(const float** samples, std::size_t* count)
{
    *samples = nullptr;
    *count = 0;
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int result = mpg123_decode_frame(handle, &frameNumber, &audio, &bytes);
        if (result == MPG123_NEW_FORMAT)
            continue; // the rate is read from the frame below; the encoding is fixed
        if (result != MPG123_OK)
            return false; // MPG123_DONE, or damage that resync could not pass

        mpg123_frameinfo2 info {};
        mpg123_info2(handle, &info);
        if (!locked) {
            const bool consistent = frameNumber == lastFrame + 1 && info.version == lastVersion
                && info.layer == lastLayer && info.rate == lastRate;
            run = consistent ? run + 1 : 1;
            if (run >= STREAM_LOCK_FRAMES)
                locked = true;
            lastFrame = frameNumber;
            lastVersion = info.version;
            lastLayer = info.layer;
            lastRate = info.rate;
        }
        int encoding = 0;
        int channels = 0;
        mpg123_getformat(handle, &rate, &channels, &encoding);
        *samples = reinterpret_cast<const float*>(audio);
        *count = bytes / sizeof(float);
        return true;
    }
}

double Mp3Decoder::Fraction() const
{
    if (fileSize <= 0)
        return 1.0;
    const off_t position = mpg123_tell_stream(handle);
    if (position <= 0)
        return 0.0;
    const double fraction = static_cast<double>(position) / static_cast<double>(fileSize);
    return fraction > 1.0 ? 1.0 : fraction;
}

} // namespace corvane
