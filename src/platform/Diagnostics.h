// Diagnostic lines of the readers and the encoder. They have no readers in normal use, so they
// go to standard error, and only while the environment variable CORVANE_DEBUG is set; they never
// reach standard output, where the command-line program prints its results.
#pragma once

namespace corvane {

// printf-style; a line feed is not added. Thread-safe (one fprintf per call).
void DebugLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True while CORVANE_DEBUG is set (read once per process).
bool DebugEnabled();

} // namespace corvane
