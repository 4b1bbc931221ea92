// Environment variables for one test.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets an environment variable (or removes it) for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name_, const std::optional<std::string>& value)
        : name(name_)
    {
        if (const char* old = std::getenv(name))
            saved = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (saved)
            setenv(name, saved->c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    std::optional<std::string> saved;
};
