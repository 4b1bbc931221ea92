// Helper programs (systemctl) run to their end: without a shell, with a time limit, their output
// captured. Any thread; each call is independent.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace corvane {

struct ChildRun {
    bool started = false;
    int exitStatus = -1; // -1: killed after the time limit, or ended by a signal
    std::string output; // standard output and error together; the reason when not started
};

// Runs program (a path) with arguments, standard input from /dev/null, for at most timeLimit;
// a child still running then is killed.
ChildRun RunChild(const std::string& program, const std::vector<std::string>& arguments,
    std::chrono::milliseconds timeLimit = std::chrono::seconds(60));

// The first executable called name in the folders of PATH (/usr/local/bin:/usr/bin:/bin when
// PATH is unset; an empty entry is the current folder), or empty when there is none.
std::string FindOnPath(const std::string& name);

} // namespace corvane
