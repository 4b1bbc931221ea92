// MP3 to AMR-NB for the phone.
//
// ConvertMp3ToAmr decodes the whole MP3 (libmpg123: MPEG-1, 2 and 2.5, layers I to III, any
// rate, stereo mixed to mono, ID3 tags skipped), resamples it to 8000 Hz mono 16-bit (libsoxr),
// keeps whole seconds of 8000 samples (K = n, or min(n, lengthSeconds) when limitOn; the
// partial last second only when not cut), divides every sample by 2^(7 - volumeIndex) with
// truncation toward zero, and encodes the result with EncodeAmrFile's frame rules. Everything
// streams through fixed buffers: no file is read whole, no temporary PCM file is made, and
// memory stays bounded (a few MB) for any length. Decoding and resampling run on a thread of
// their own while the calling thread encodes, so a conversion costs about what the encoder
// alone costs when a second core is free.
//
// Diagnostic lines go to standard error only while CORVANE_DEBUG is set.
// Thread: any; conversions on different threads share nothing. A conversion blocks its caller
// and starts one thread of its own, which has ended when the function returns.
#pragma once

#include <functional>
#include <stop_token>
#include <string>

namespace corvane {

// The name with which the temporary file of a conversion begins: short, since cache names may
// come close to the longest name a folder takes.
inline constexpr const char* AMR_TEMPORARY_PREFIX = ".corvane-amr-";

// Optional controls of one conversion.
struct ConversionControl {
    std::stop_token stop; // a stop ends the conversion with -1 and nothing written at amrPath
    // 0..1 of the input consumed, rising; called on the decoding thread while the conversion
    // runs, and with 1.0 on the calling thread once amrPath was written. It must not throw.
    std::function<void(double fraction)> progress;
    // Nonzero: the permission bits amrPath gets (0600 for a private file), set on the temporary
    // before its first byte, so the file is never seen with wider ones. Zero: those of the file
    // it replaces, else 0666 less the umask.
    unsigned int fileMode = 0;
};

// Returns 0 when amrPath was written, -1 when the input holds no decodable MPEG audio (empty,
// random bytes, a saved HTML page), a file could not be opened or written, mode is not 0 to 7,
// or the conversion was stopped. A volumeIndex outside 0..7 is clamped into it.
// The output is committed through an AtomicFile (temporary AMR_TEMPORARY_PREFIX + "XXXXXX"
// beside amrPath, renamed over it only on success): on -1 this call leaves nothing at amrPath (a
// file that stood there before stays as it was). A truncated or damaged MP3 converts what still
// decodes. error, when given, receives a message that names the file and the reason on -1.
int ConvertMp3ToAmr(const std::string& mp3Path, const std::string& amrPath, int mode, int dtx,
    int volumeIndex, int limitOn, unsigned int lengthSeconds,
    const ConversionControl* control = nullptr, std::string* error = nullptr);

// Encodes raw PCM (16-bit signed little-endian, mono, 8000 Hz, no header) at rawPath into an
// AMR-NB storage-format file at amrPath: "#!AMR\n", then one frame per 160 samples in the given
// mode (0..7), the last partial frame filled with zeros. dtx 1 turns discontinuous transmission
// on. Returns 0 when the file was written; 1 when a file cannot be opened or mode is above 7
// (read as unsigned), in which case the output, when it could be created, is left empty, and 1
// also when the output could not be written whole (a full disk).
int EncodeAmrFile(const std::string& rawPath, const std::string& amrPath, int mode, int dtx);

} // namespace corvane
