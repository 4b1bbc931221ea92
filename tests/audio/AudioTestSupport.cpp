#include "AudioTestSupport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <opencore-amrnb/interf_dec.h>

bool RunQuiet(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

namespace {

// Storage-format frame sizes, header included, by frame type (RFC 4867 section 5.3);
// 0 marks the types that never occur in AMR-NB files.
int FrameSize(int type)
{
    static const int sizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
    return sizes[type & 15];
}

class Decoder {
public:
    Decoder()
        : state(Decoder_Interface_init())
    { }
    ~Decoder() { Decoder_Interface_exit(state); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
    void* Get() const { return state; }

private:
    void* state;
};

} // namespace

DecodedAmr DecodeAmr(const std::string& path)
{
    DecodedAmr result;
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    result.magicOk = bytes.compare(0, 6, "#!AMR\n") == 0;
    if (!result.magicOk) {
        result.problem = "no magic";
        return result;
    }
    Decoder decoder;
    std::size_t at = 6;
    while (at < bytes.size()) {
        const auto header = static_cast<unsigned char>(bytes[at]);
        const int size = FrameSize(header >> 3);
        if (size == 0 || at + static_cast<std::size_t>(size) > bytes.size()) {
            result.problem = "bad frame at byte " + std::to_string(at);
            return result;
        }
        result.headers.push_back(header);
        short pcm[160];
        Decoder_Interface_Decode(
            decoder.Get(), reinterpret_cast<const unsigned char*>(bytes.data() + at), pcm, 0);
        result.samples.insert(result.samples.end(), pcm, pcm + 160);
        at += static_cast<std::size_t>(size);
    }
    return result;
}

std::vector<int16_t> ReadSamples(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<unsigned char>(bytes[2 * i])
            | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return samples;
}

void WriteSamples(const std::string& path, const std::vector<int16_t>& samples)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int16_t sample : samples) {
        const auto value = static_cast<uint16_t>(sample);
        out.put(static_cast<char>(value & 0xFF));
        out.put(static_cast<char>(value >> 8));
    }
}

double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag)
{
    double best = -1.0;
    for (int lag = 0; lag <= maxLag; ++lag) {
        const std::size_t length = std::min(a.size(),
            b.size() > static_cast<std::size_t>(lag) ? b.size() - static_cast<std::size_t>(lag)
                                                     : 0);
        double ab = 0, aa = 0, bb = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const double x = a[i];
            const double y = b[i + static_cast<std::size_t>(lag)];
            ab += x * y;
            aa += x * x;
            bb += y * y;
        }
        if (aa > 0 && bb > 0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

double Rms(const std::vector<int16_t>& samples)
{
    if (samples.empty())
        return 0;
    double sum = 0;
    for (int16_t sample : samples)
        sum += static_cast<double>(sample) * sample;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}
