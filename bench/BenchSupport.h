// Helpers shared by the benchmarks: timing a child process and making a large input file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ChildRun {
    double seconds = 0;
    double cpuSeconds = 0; // user and system time of all the child's threads
    long peakKilobytes = 0;
    bool ok = false;
};

// Runs arguments[0] (looked up in PATH) with arguments and waits for it. The wall-clock time is
// measured here; the peak memory and CPU time come from the child's own accounting, so the
// benchmark's own footprint does not count. ok only when it exited with status 0.
ChildRun Run(const std::vector<std::string>& arguments);

// Writes bytes of pseudo-random data to path, the first of them replaced by prefix. The data
// is the same every run, so runs compare like with like.
bool MakeSource(const std::string& path, std::uint64_t bytes, std::string_view prefix = {});

// Where the benchmarks put their large files unless --dir says otherwise: $TMPDIR, else
// /var/tmp (on disk, unlike a /tmp that may be memory-backed).
std::string DefaultScratchFolder();
