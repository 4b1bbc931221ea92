#include "platform/Settings.h"

#include "platform/InputFile.h"
#include "platform/Paths.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include <charconv>
#include <cstdlib>
#include <memory>
#include <system_error>
#include <variant>

#include <sys/stat.h>

namespace corvane {

namespace {

// QSettings caches its per-user folder for the life of the process, so the file path is formed
// here each time instead: tests and the command-line program change XDG_CONFIG_HOME.
// Why the settings file is refused ("not a regular file (a FIFO)"), or empty. QSettings would
// open a FIFO, a device or a socket and wait for a writer for ever (and a write would go into
// it). A folder there is left to QSettings, which reads nothing from it and fails to write.
std::string RefusedBecause()
{
    const std::string path = SettingsFilePath();
    struct stat status { };
    if (::stat(path.c_str(), &status) != 0 || S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))
        return {};
    InputFile file;
    std::string reason;
    return file.Open(path, reason) ? std::string() : reason;
}

// Null when the settings file is refused (RefusedBecause).
std::unique_ptr<QSettings> OpenStore()
{
    if (!RefusedBecause().empty())
        return nullptr;
    return std::make_unique<QSettings>(
        QString::fromStdString(SettingsFilePath()), QSettings::IniFormat);
}

QString Key(const char* section, const char* entry)
{
    return QString::fromLatin1(section) + QLatin1Char('/') + QString::fromLatin1(entry);
}

constexpr long long kIntMin = -2147483647LL - 1;
constexpr long long kIntMax = 2147483647LL;

constexpr OutOfRangeRead kDefault = OutOfRangeRead::Default;
constexpr OutOfRangeRead kOn = OutOfRangeRead::On;
constexpr OutOfRangeRead kInvalid = OutOfRangeRead::Invalid;

constexpr SettingGroup kOptions = SettingGroup::Options;
constexpr SettingGroup kWindow = SettingGroup::Window;

using S = CorvaneSettings;
using W = WindowPlacement;

// Section by section in the described order, which is also the order of reading and writing.
const std::vector<SettingInfo> kSettings = {
    {"Path", "FeedFile", true, 0, 0, kDefault, kOptions, &S::outputPath},
    {"Update", "Scheduled", false, 0, 1, kOn, kOptions, &S::scheduleOn},
    {"Update", "Hour", false, 0, 23, kInvalid, kOptions, &S::scheduleHour},
    {"Update", "Minute", false, 0, 59, kInvalid, kOptions, &S::scheduleMinute},
    {"Update", "Prune", false, 0, 1, kOn, kOptions, &S::prune},
    {"Update", "Catch Up", false, 0, 1, kOn, kOptions, &S::catchUp},
    {"Update", "Connections", false, 1, 256, kDefault, SettingGroup::Tuning, &S::connections},
    {"Update", "Floor Rate", false, 0, 1048576, kDefault, SettingGroup::Tuning, &S::floorRate},
    {"Podcast", "On", false, 0, 1, kOn, kOptions, &S::podcastOn},
    {"Podcast", "MP3", false, 0, 1, kOn, kOptions, &S::podcastFormat},
    {"Podcast", "Compression", false, 0, 7, kDefault, kOptions, &S::compression},
    {"Podcast", "Volume", false, 0, 7, kDefault, kOptions, &S::volume},
    {"Podcast", "Limit", false, 0, 1, kOn, kOptions, &S::lengthLimitOn},
    {"Podcast", "Length", false, 1, 4294967295LL, kDefault, kOptions, &S::lengthLimit},
    {"Podcast", "Download First One Only", false, 0, 1, kOn, kOptions, &S::firstItemOnly},
    {"Podcast", "Newest", false, 0, 1000, kDefault, kOptions, &S::newest},
    {"Podcast", "Any MP3 Type", false, 0, 1, kOn, kOptions, &S::anyMp3Type},
    {"Podcast", "Repackable", false, 0, 1, kOn, SettingGroup::Repackable, &S::repackable},
    {"WinPos", "x", false, kIntMin, kIntMax, kDefault, kWindow, &W::x},
    {"WinPos", "y", false, kIntMin, kIntMax, kDefault, kWindow, &W::y},
    {"WinPos", "cx", false, kIntMin, kIntMax, kDefault, kWindow, &W::cx},
    {"WinPos", "cy", false, kIntMin, kIntMax, kDefault, kWindow, &W::cy},
};

template <class... Handlers> struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

long long DefaultOf(const SettingInfo& setting)
{
    return std::visit(
        Overloaded {
            [](std::string S::*) { return 0LL; },
            []<class Value>(Value S::*member) { return static_cast<long long>(S {}.*member); },
            [](int W::*member) { return static_cast<long long>(W {}.*member); },
        },
        setting.member);
}

// An integer entry as the program uses it; invalid (when given) is set when the value is kept
// although outside its range.
long long ReadInteger(QSettings& store, const SettingInfo& setting, bool* invalid = nullptr)
{
    const QVariant value = store.value(Key(setting.section, setting.entry));
    if (!value.isValid())
        return DefaultOf(setting);
    bool ok = false;
    const long long number = value.toString().trimmed().toLongLong(&ok);
    if (ok && number >= setting.minimum && number <= setting.maximum)
        return number;
    switch (setting.outOfRange) {
    case OutOfRangeRead::On:
        return ok ? 1 : DefaultOf(setting); // zero is in range: this number is nonzero
    case OutOfRangeRead::Invalid:
        if (invalid)
            *invalid = true;
        return ok && number >= kIntMin && number <= kIntMax ? number : -1;
    case OutOfRangeRead::Default:
        break;
    }
    return DefaultOf(setting);
}

std::string ReadText(QSettings& store, const SettingInfo& setting)
{
    const QVariant value = store.value(Key(setting.section, setting.entry));
    return value.isValid() ? value.toString().toStdString() : DefaultOutputPath();
}

// Reads every entry whose member lives in target (CorvaneSettings or WindowPlacement).
template <class Target> void ReadInto(QSettings& store, Target& target)
{
    for (const SettingInfo& setting : kSettings) {
        std::visit(
            Overloaded {
                [&](std::string Target::*member) { target.*member = ReadText(store, setting); },
                [&]<class Value>(Value Target::*member) {
                    target.*member = static_cast<Value>(ReadInteger(store, setting));
                },
                [](auto) {},
            },
            setting.member);
    }
}

// The stored form of an entry's member: its text, or its number.
template <class Target> QVariant StoredValue(const SettingInfo& setting, const Target& source)
{
    return std::visit(Overloaded {
                          [&](std::string Target::*member) {
                              return QVariant(QString::fromStdString(source.*member));
                          },
                          [&](int Target::*member) { return QVariant(source.*member); },
                          [&](std::uint32_t Target::*member) {
                              return QVariant(static_cast<qulonglong>(source.*member));
                          },
                          [](auto) { return QVariant(); },
                      },
        setting.member);
}

// Writes what store holds to the file; a failure names the file and says why.
Result<void> Finish(QSettings& store)
{
    store.sync();
    const QSettings::Status status = store.status();
    if (status == QSettings::NoError)
        return {};
    const char* reason = status == QSettings::FormatError
        ? "the file is not in INI format"
        : "the file or its folder cannot be written";
    return Result<void>::Failure(
        "cannot write the settings file " + SettingsFilePath() + ": " + reason);
}

// Writes the entries of group, in the table's order, from source.
template <class Target> Result<void> WriteGroup(SettingGroup group, const Target& source)
{
    auto store = OpenStore();
    if (!store)
        return Result<void>::Failure(
            "cannot write the settings file " + SettingsFilePath() + ": " + RefusedBecause());
    for (const SettingInfo& setting : kSettings) {
        if (setting.group == group)
            store->setValue(Key(setting.section, setting.entry), StoredValue(setting, source));
    }
    return Finish(*store);
}

} // namespace

std::string SettingsFilePath()
{
    if (IsOwnProgramFolder())
        return ProgramFolderPath() + "Corvane.conf";
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/Corvane/Corvane.conf")).toStdString();
}

std::string DefaultOutputPath()
{
    QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (documents.isEmpty())
        documents = QDir::homePath() + QStringLiteral("/Documents");
    return (documents + QStringLiteral("/corvane.mrf")).toStdString();
}

std::string SettingsFileProblem()
{
    const std::string reason = RefusedBecause();
    return reason.empty() ? reason
                          : "cannot read the settings file " + SettingsFilePath() + ": " + reason;
}

CorvaneSettings LoadSettings()
{
    auto store = OpenStore();
    CorvaneSettings settings;
    if (store)
        ReadInto(*store, settings);
    return settings;
}

Result<void> SaveOptions(const CorvaneSettings& settings)
{
    return WriteGroup(SettingGroup::Options, settings);
}

Result<void> StoreRepackable(int value)
{
    CorvaneSettings settings;
    settings.repackable = value;
    return WriteGroup(SettingGroup::Repackable, settings);
}

WindowPlacement LoadWindowPlacement()
{
    auto store = OpenStore();
    WindowPlacement placement;
    if (store)
        ReadInto(*store, placement);
    return placement;
}

Result<void> SaveWindowPlacement(const WindowPlacement& placement)
{
    return WriteGroup(SettingGroup::Window, placement);
}

const std::vector<SettingInfo>& AllSettings()
{
    return kSettings;
}

const SettingInfo* FindSetting(const std::string& sectionSlashEntry)
{
    for (const SettingInfo& setting : kSettings) {
        if (sectionSlashEntry == std::string(setting.section) + "/" + setting.entry)
            return &setting;
    }
    return nullptr;
}

std::string ReadSettingText(const SettingInfo& setting)
{
    auto store = OpenStore();
    if (!store)
        return "unknown (" + SettingsFileProblem() + ")";
    if (setting.isText)
        return ReadText(*store, setting);
    bool invalid = false;
    const long long number = ReadInteger(*store, setting, &invalid);
    if (!invalid)
        return std::to_string(number);
    return store->value(Key(setting.section, setting.entry)).toString().toStdString()
        + " (invalid: " + std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum)
        + "; the scheduled update never runs)";
}

std::string CheckSettingText(const SettingInfo& setting, const std::string& value)
{
    const std::string name = std::string(setting.section) + "/" + setting.entry;
    if (setting.isText)
        return value.empty() ? "bad value for " + name + ": the path is empty" : std::string();
    long long number = 0;
    const char* first = value.data();
    const char* last = value.data() + value.size();
    if (first != last && *first == '+')
        ++first;
    const auto [end, error] = std::from_chars(first, last, number);
    if (!value.empty() && error == std::errc() && end == last && number >= setting.minimum
        && number <= setting.maximum)
        return {};
    return "bad value '" + value + "' for " + name + ": expected a whole number from "
        + std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum);
}

bool WriteSettingText(const SettingInfo& setting, const std::string& value, std::string& error)
{
    auto store = OpenStore();
    if (!store) {
        error = "cannot write the settings file " + SettingsFilePath() + ": " + RefusedBecause();
        return false;
    }
    const QString key = Key(setting.section, setting.entry);
    if (setting.isText)
        store->setValue(key, QString::fromStdString(value));
    else
        store->setValue(key, QString::fromStdString(value).toLongLong());
    const Result<void> written = Finish(*store);
    if (!written)
        error = written.Error();
    return written.Ok();
}

} // namespace corvane
