#include "cli/CliSupport.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>

#include <atomic>
#include <charconv>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pthread.h>
#include <thread>

#include <sys/ioctl.h>
#include <unistd.h>

namespace corvane {

namespace {

// Arguments are bytes, and a file name need not be UTF-8: they pass through the parser as
// Latin-1, one character a byte, so every value comes back exactly as it was given.
QString FromBytes(const std::string& bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text)
{
    return text.toLatin1().toStdString();
}

// The parser wraps an option's description itself: line breaks in it would break its layout.
QString OneLine(const std::string& description)
{
    QString text = QString::fromStdString(description);
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

} // namespace

std::string ParserError(const QCommandLineParser& parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText().toStdString();
    // The parser gives the name without its dashes; the user typed them.
    return "unknown option " + std::string(unknown.first().size() == 1 ? "-" : "--")
        + ToBytes(unknown.first());
}

struct CommandLine::Declarations {
    QCommandLineParser parser;
    QCommandLineOption help {QStringList {"h", "help"}, "show this text"};
    std::vector<std::string> once; // options that may be given only once
    std::string usage; // the positionals as the usage line shows them
    std::size_t required = 0;
    std::size_t allowed = 0;
    std::string epilogue;
    std::string countError;
};

CommandLine::CommandLine(std::string command_, std::vector<std::string> arguments_)
    : command(std::move(command_))
    , arguments(std::move(arguments_))
    , declared(std::make_unique<Declarations>())
{
    declared->parser.addOption(declared->help);
}

CommandLine::~CommandLine() = default;

void CommandLine::Describe(const std::string& description)
{
    declared->parser.setApplicationDescription(QString::fromStdString(description));
}

void CommandLine::Epilogue(const std::string& epilogue)
{
    declared->epilogue = epilogue;
}

void CommandLine::Flag(const std::string& name, const std::string& description)
{
    declared->parser.addOption(
        QCommandLineOption(QString::fromStdString(name), OneLine(description)));
}

void CommandLine::Option(
    const std::string& name, const std::string& valueName, const std::string& description)
{
    Repeated(name, valueName, description);
    declared->once.push_back(name);
}

void CommandLine::Repeated(
    const std::string& name, const std::string& valueName, const std::string& description)
{
    declared->parser.addOption(QCommandLineOption(
        QString::fromStdString(name), OneLine(description), QString::fromStdString(valueName)));
}

void CommandLine::Positional(const std::string& name, const std::string& description)
{
    declared->parser.addPositionalArgument(
        QString::fromStdString(name), QString::fromStdString(description));
    declared->usage += " " + name;
    ++declared->required;
    ++declared->allowed;
}

void CommandLine::Optional(const std::string& name, const std::string& description)
{
    declared->parser.addPositionalArgument(QString::fromStdString(name),
        QString::fromStdString(description), QString::fromStdString("[" + name + "]"));
    declared->usage += " [" + name + "]";
    ++declared->allowed;
}

void CommandLine::MoreOf(const std::string& name, const std::string& description)
{
    declared->parser.addPositionalArgument(QString::fromStdString(name),
        QString::fromStdString(description), QString::fromStdString("[" + name + "]..."));
    declared->usage += " [" + name + "]...";
    declared->allowed = SIZE_MAX;
}

void CommandLine::CountError(const std::string& message)
{
    declared->countError = message;
}

std::optional<int> CommandLine::Parse()
{
    QStringList list {QString::fromStdString(command)}; // the parser skips the first
    for (const std::string& argument : arguments)
        list.append(FromBytes(argument));
    QCommandLineParser& parser = declared->parser;
    const bool parsed = parser.parse(list);
    // --help wins over any other fault, so that a half-typed command line can still ask.
    if (parser.isSet(declared->help)) {
        std::fputs(HelpText().c_str(), stdout);
        return EXIT_DONE;
    }
    if (!parsed)
        return UsageError(ParserError(parser));
    for (const std::string& name : declared->once) {
        if (parser.values(QString::fromStdString(name)).size() > 1)
            return UsageError("--" + name + " given more than once");
    }
    for (const QString& positional : parser.positionalArguments())
        positionals.push_back(ToBytes(positional));
    if (positionals.size() < declared->required || positionals.size() > declared->allowed) {
        if (!declared->countError.empty())
            return UsageError(declared->countError);
        return UsageError(positionals.size() < declared->required
                ? "missing argument"
                : "unexpected argument '" + positionals[declared->allowed] + "'");
    }
    return std::nullopt;
}

bool CommandLine::Has(const std::string& name) const
{
    return declared->parser.isSet(QString::fromStdString(name));
}

std::optional<std::string> CommandLine::Value(const std::string& name) const
{
    if (!Has(name))
        return std::nullopt;
    return ToBytes(declared->parser.value(QString::fromStdString(name)));
}

std::vector<std::string> CommandLine::Values(const std::string& name) const
{
    std::vector<std::string> values;
    for (const QString& value : declared->parser.values(QString::fromStdString(name)))
        values.push_back(ToBytes(value));
    return values;
}

std::string CommandLine::HelpText() const
{
    // The parser's first line names the executable as the process was started; the command
    // is what the user needs to see.
    const std::string parsers = declared->parser.helpText().toStdString();
    const std::size_t firstLineEnd = parsers.find('\n');
    std::string text = "usage: corvane-cli " + command + declared->usage + " [options]\n";
    if (firstLineEnd != std::string::npos)
        text += parsers.substr(firstLineEnd + 1);
    if (!declared->epilogue.empty())
        text += "\n" + declared->epilogue;
    return text;
}

int CommandLine::UsageError(const std::string& message) const
{
    PrintError(message);
    std::fputs(HelpText().c_str(), stderr);
    return EXIT_USAGE;
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

sigset_t StopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void WaitAfterStop(const std::function<bool()>& running, const sigset_t& stopSignals)
{
    constexpr std::chrono::seconds kGrace {10};
    const auto deadline = std::chrono::steady_clock::now() + kGrace;
    while (running()) {
        const timespec wait {0, 100 * 1000 * 1000};
        if (std::chrono::steady_clock::now() >= deadline
            || sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
            std::fputs("The work did not stop; ending the program.\n", stderr);
            std::fflush(stderr);
            std::_Exit(EXIT_INTERRUPTED);
        }
    }
}

bool RunUntilInterrupted(const std::function<void()>& work, std::stop_source& stop)
{
    // The signals are taken by this thread with sigtimedwait, not by a handler: the work's
    // threads inherit the blocked mask, and the stop request lets the work remove its
    // unfinished output before the command ends.
    const sigset_t stopSignals = StopSignals();
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);

    bool interrupted = false;
    std::atomic<bool> finished {false};
    {
        std::jthread worker([&] {
            work();
            finished = true;
        });
        while (!finished) {
            const timespec wait {0, 50 * 1000 * 1000};
            if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) {
                stop.request_stop();
                interrupted = true;
                WaitAfterStop([&finished] { return !finished; }, stopSignals);
                break;
            }
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return interrupted;
}

} // namespace corvane
