// Small helpers of the network tests.
#pragma once

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// Sets an environment variable for the life of the object, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value)
        : name(std::move(name))
    {
        if (const char* old = std::getenv(this->name.c_str()))
            previous = old;
        ::setenv(this->name.c_str(), value.c_str(), 1);
    }
    ~ScopedEnvironment()
    {
        if (previous)
            ::setenv(name.c_str(), previous->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::string name;
    std::optional<std::string> previous;
};

// A loopback port that nothing listens on (bound, then released).
inline int ClosedLoopbackPort()
{
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    return ntohs(address.sin_port);
}

// The names in a folder.
inline std::set<std::string> FolderEntries(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

inline std::time_t ModificationTime(const std::string& path)
{
    struct stat status { };
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtime : -1;
}

inline void SetModificationTime(const std::string& path, std::time_t time)
{
    const timespec times[2] = {{time, 0}, {time, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// Every byte value, twice, NUL bytes included.
inline std::string AllByteValues()
{
    std::string bytes;
    for (int round = 0; round < 2; ++round)
        for (int value = 0; value < 256; ++value)
            bytes.push_back(static_cast<char>(value));
    return bytes;
}
