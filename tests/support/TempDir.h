// A fresh temporary folder for one test, removed with everything in it when the object dies.
#pragma once

#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing '/'.
    const std::string& Path() const { return path; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const;
    // Writes bytes into File(name) and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;

private:
    std::string path;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);
