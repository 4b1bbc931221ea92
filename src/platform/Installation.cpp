#include "platform/Installation.h"

#include "platform/Paths.h"

#include <filesystem>
#include <system_error>

#ifndef CORVANE_VERSION
#error "the build defines CORVANE_VERSION"
#endif
#ifndef CORVANE_DATADIR_FROM_BINDIR
#error "the build defines CORVANE_DATADIR_FROM_BINDIR"
#endif

namespace corvane {

const char* ProgramVersion()
{
    return CORVANE_VERSION;
}

std::vector<std::string> HelpIndexCandidates(
    const std::string& programFolder, const std::string& executableFolder)
{
    std::vector<std::string> candidates {programFolder + "help/index.html"};
    // Without a known executable folder the others would be relative to the working folder.
    if (!executableFolder.empty()) {
        candidates.push_back(
            executableFolder + "/" CORVANE_DATADIR_FROM_BINDIR "/corvane/help/index.html");
        candidates.push_back(executableFolder + "/help/index.html");
    }
    return candidates;
}

std::string FindHelpIndex(const std::string& programFolder, const std::string& executableFolder)
{
    for (const std::string& candidate : HelpIndexCandidates(programFolder, executableFolder)) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(candidate, error))
            continue;
        const std::filesystem::path found = std::filesystem::weakly_canonical(candidate, error);
        return error ? std::filesystem::absolute(candidate).lexically_normal().string()
                     : found.string();
    }
    return {};
}

std::string FindHelpIndex()
{
    return FindHelpIndex(GetProgramFolder(), ExecutableFolder());
}

std::string ExecutableFolder()
{
    // Linux names the running executable here, links and relative starts resolved, whatever
    // argv[0] said.
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || executable.empty())
        return {};
    return executable.parent_path().string();
}

} // namespace corvane
