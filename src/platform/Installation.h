// What comes with the program rather than from the user: its version and its help.
//
// Installed files are found relative to the running executable, through the install's relative
// path from its bin folder to its data folder, so that an install works under any prefix it is
// copied to and no folder of the build machine is compiled in.
#pragma once

#include <string>
#include <vector>

namespace corvane {

// The version both programs print for --version, as the project's build names it ("1.2").
const char* ProgramVersion();

// The places where the help's first page may be, best first, for a program folder ending in '/'
// and the folder of the running executable:
//   1. programFolder + "help/index.html": a help the user put beside the channels file;
//   2. the install's data folder: executableFolder + "/../share/corvane/help/index.html" (the
//      relative part as the install's folders have it);
//   3. executableFolder + "/help/index.html": the copy that the build puts beside the programs
//      it builds, so that they run from the build folder as they are.
// An empty executableFolder gives the first only.
std::vector<std::string> HelpIndexCandidates(
    const std::string& programFolder, const std::string& executableFolder);

// The first candidate that exists, as a clean absolute path; empty when none does.
std::string FindHelpIndex(const std::string& programFolder, const std::string& executableFolder);

// FindHelpIndex for this user's program folder and this process's executable.
std::string FindHelpIndex();

// The folder of this process's executable, without a trailing '/'; empty when unknown.
std::string ExecutableFolder();

} // namespace corvane
