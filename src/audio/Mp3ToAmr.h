// MP3 to AMR-NB for the phone.
//
// ConvertMp3ToAmr decodes the whole MP3 (libmpg123: MPEG-1, 2 and 2.5, layers I to III, any
// rate, stereo mixed to mono, ID3 tags skipped), resamples it to 8000 Hz mono 16-bit (libsoxr),
// keeps whole seconds of 8000 samples (K = n, or min(n, lengthSeconds) when limitOn; the
// partial last second only when not cut), divides every sample by 2^(7 - volumeIndex) with
// truncation toward zero, and encodes the result with EncodeAmrFile's frame rules. Everything
// streams through fixed buffers: no file is read whole, memory stays bounded for any length.
//
// Diagnostic lines go to standard error only while CORVANE_DEBUG is set.
// Thread: any; conversions on different threads share nothing.
#pragma once

#include <functional>
#include <stop_token>
#include <string>

// Optional controls of one conversion.
struct ConversionControl {
    std::stop_token stop; // a stop ends the conversion with -1, no file
    std::function<void(double fraction)> progress; // 0..1 of the input consumed; any thread
};

// Returns 0 when amrPath was written, -1 when the input holds no decodable MPEG audio, a file
// could not be opened, or the conversion was stopped (then no AMR file is left at amrPath).
// error, when given, receives a message that names the file and the reason on -1.
int ConvertMp3ToAmr(const std::string& mp3Path, const std::string& amrPath, int mode, int dtx,
    int volumeIndex, int limitOn, unsigned int lengthSeconds,
    const ConversionControl* control = nullptr, std::string* error = nullptr);

// Encodes raw PCM (16-bit signed little-endian, mono, 8000 Hz, no header) at rawPath into an
// AMR-NB storage-format file at amrPath: "#!AMR\n", then one frame per 160 samples in the given
// mode (0..7), the last partial frame filled with zeros. dtx 1 turns discontinuous transmission
// on. Returns 0 when the file was written; 1 when a file cannot be opened or mode is above 7
// (read as unsigned), in which case the output, when it could be created, is left empty.
int EncodeAmrFile(const std::string& rawPath, const std::string& amrPath, int mode, int dtx);
