#include "cli/CliSupport.h"

#include "platform/Utf8.h"

#include <atomic>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <thread>

#include <sys/ioctl.h>
#include <unistd.h>

namespace corvane {

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

std::optional<long long> ParseInteger(const std::string& text, long long minimum, long long maximum)
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

std::string JsonString(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const Utf8Scalar scalar = DecodeUtf8At(text, i);
            if (scalar.valid)
                out.append(text, i, scalar.length);
            else
                AppendUtf8(out, scalar.value);
            i += scalar.length;
            continue;
        }
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
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

int StderrColumns()
{
    winsize size {};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

std::string Megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
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
    std::atomic<bool> finished {false};
    {
        std::jthread worker([&] {
            work();
            finished = true;
        });
        while (!finished) {
            const timespec wait {0, 50 * 1000 * 1000};
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

} // namespace corvane
