// Helpers of the audio tests: making MP3 inputs with sox, lame and espeak-ng, and reading AMR
// files back through opencore's own decoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Runs a shell command with its output discarded; true when it exited 0.
bool RunQuiet(const std::string& command);
// The text quoted for the shell.
std::string ShellQuote(const std::string& text);

// An AMR-NB storage-format file taken apart and decoded.
struct DecodedAmr {
    bool magicOk = false;
    std::string problem; // empty when every frame parsed
    std::vector<unsigned char> headers; // the header byte of each frame
    std::vector<int16_t> samples; // 160 per frame, from Decoder_Interface_Decode
};
DecodedAmr DecodeAmr(const std::string& path);

// Raw 16-bit little-endian samples of a file.
std::vector<int16_t> ReadSamples(const std::string& path);
void WriteSamples(const std::string& path, const std::vector<int16_t>& samples);

// The largest normalised cross-correlation of b delayed by 0..maxLag samples against a.
double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag);
double Rms(const std::vector<int16_t>& samples);
