#include "BenchSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

ChildRun Run(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ChildRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t child = 0;
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return run;
    int status = 0;
    rusage usage {};
    if (wait4(child, &status, 0, &usage) != child)
        return run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

bool MakeSource(const std::string& path, std::uint64_t bytes, std::string_view prefix)
{
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    std::vector<unsigned char> piece(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    bool ok = true;
    for (std::uint64_t written = 0; ok && written < bytes;) {
        for (unsigned char& byte : piece) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<unsigned char>(state);
        }
        if (written == 0 && !prefix.empty())
            std::memcpy(piece.data(), prefix.data(), std::min(prefix.size(), piece.size()));
        const auto count
            = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), bytes - written));
        ok = std::fwrite(piece.data(), 1, count, file) == count;
        written += count;
    }
    return std::fclose(file) == 0 && ok;
}

std::string DefaultScratchFolder()
{
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/var/tmp";
}
