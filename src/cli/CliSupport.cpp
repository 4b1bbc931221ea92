#include "cli/CliSupport.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <thread>
#include <unistd.h>

CommandArguments::CommandArguments(std::vector<std::string> arguments_)
    : arguments(std::move(arguments_))
{
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (*it == "--help" || *it == "-h") {
            help = true;
            it = arguments.erase(it);
        } else {
            ++it;
        }
    }
}

bool CommandArguments::TakeFlag(const std::string& name)
{
    bool found = false;
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (*it == name) {
            found = true;
            it = arguments.erase(it);
        } else {
            ++it;
        }
    }
    return found;
}

std::vector<std::string> CommandArguments::TakeOptions(const std::string& name)
{
    std::vector<std::string> values;
    const std::string withEquals = name + "=";
    for (auto it = arguments.begin(); it != arguments.end();) {
        if (*it == name) {
            if (it + 1 == arguments.end()) {
                usageError = name + " needs a value";
                it = arguments.erase(it);
                continue;
            }
            values.push_back(*(it + 1));
            it = arguments.erase(it, it + 2);
        } else if (it->rfind(withEquals, 0) == 0) {
            values.push_back(it->substr(withEquals.size()));
            it = arguments.erase(it);
        } else {
            ++it;
        }
    }
    return values;
}

std::optional<std::string> CommandArguments::TakeOption(const std::string& name)
{
    std::vector<std::string> values = TakeOptions(name);
    if (values.empty())
        return std::nullopt;
    if (values.size() > 1)
        usageError = name + " given more than once";
    return values.back();
}

std::vector<std::string> CommandArguments::Positionals()
{
    for (const std::string& argument : arguments) {
        if (argument.size() > 1 && argument[0] == '-' && usageError.empty()) {
            usageError = "unknown option " + argument;
        }
    }
    return arguments;
}

void PrintError(const std::string& message)
{
    std::fprintf(stderr, "corvane-cli: %s\n", message.c_str());
}

std::optional<long long> ParseInteger(const std::string& text, long long minimum,
                                      long long maximum)
{
    long long value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (first != last && *first == '+')
        ++first;
    auto [end, error] = std::from_chars(first, last, value);
    if (text.empty() || error != std::errc() || end != last || value < minimum || value > maximum)
        return std::nullopt;
    return value;
}

namespace {

// Length of the valid UTF-8 sequence at text[i], or 0 when the bytes there are not one.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3
                                                              : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    if (length == 2 && lead < 0xC2)
        return 0;  // overlong
    if (length == 3) {
        const unsigned char second = byte(i + 1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0))
            return 0;  // overlong or a surrogate
    }
    if (length == 4) {
        const unsigned char second = byte(i + 1);
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90) || lead > 0xF4)
            return 0;
    }
    return length;
}

} // namespace

std::string JsonString(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else {
                out.append(text, i, length);
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    out += '"';
    return out;
}

bool StderrIsTerminal()
{
    return isatty(STDERR_FILENO) == 1;
}

bool RunUntilInterrupted(const std::function<void()>& work, std::stop_source& stop)
{
    // The signals are taken by this thread with sigtimedwait, not by a handler: the work's
    // threads inherit the blocked mask, and the stop request lets the work remove its
    // unfinished output before the command ends.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &signals, &previous);

    bool interrupted = false;
    std::atomic<bool> finished { false };
    {
        std::jthread worker([&] {
            work();
            finished = true;
        });
        while (!finished) {
            const timespec wait { 0, 50 * 1000 * 1000 };
            if (sigtimedwait(&signals, nullptr, &wait) > 0) {
                stop.request_stop();
                interrupted = true;
                break;
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return interrupted;
}
