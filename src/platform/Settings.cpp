#include "platform/Settings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QString>

#include <cstdlib>
#include <memory>

namespace {

// QSettings caches its per-user folder for the life of the process, so the file path is formed
// here each time instead: tests and the command-line program change XDG_CONFIG_HOME.
std::unique_ptr<QSettings> OpenStore()
{
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

const std::vector<SettingInfo> kSettings = {
    { "Path", "FeedFile", true, 0, 0, kDefault },
    { "Update", "Scheduled", false, 0, 1, kOn },
    { "Update", "Hour", false, 0, 23, kInvalid },
    { "Update", "Minute", false, 0, 59, kInvalid },
    { "Podcast", "On", false, 0, 1, kOn },
    { "Podcast", "MP3", false, 0, 1, kOn },
    { "Podcast", "Compression", false, 0, 7, kDefault },
    { "Podcast", "Volume", false, 0, 7, kDefault },
    { "Podcast", "Limit", false, 0, 1, kOn },
    { "Podcast", "Length", false, 1, 4294967295LL, kDefault },
    { "Podcast", "Download First One Only", false, 0, 1, kOn },
    { "Podcast", "Repackable", false, 0, 1, kOn },
    { "WinPos", "x", false, kIntMin, kIntMax, kDefault },
    { "WinPos", "y", false, kIntMin, kIntMax, kDefault },
    { "WinPos", "cx", false, kIntMin, kIntMax, kDefault },
    { "WinPos", "cy", false, kIntMin, kIntMax, kDefault },
};

long long DefaultOf(const SettingInfo& setting)
{
    const CorvaneSettings defaults;
    const WindowPlacement placement;
    const std::string name = std::string(setting.section) + "/" + setting.entry;
    if (name == "Update/Scheduled")
        return defaults.scheduleOn;
    if (name == "Update/Hour")
        return defaults.scheduleHour;
    if (name == "Update/Minute")
        return defaults.scheduleMinute;
    if (name == "Podcast/On")
        return defaults.podcastOn;
    if (name == "Podcast/MP3")
        return defaults.podcastFormat;
    if (name == "Podcast/Compression")
        return defaults.compression;
    if (name == "Podcast/Volume")
        return defaults.volume;
    if (name == "Podcast/Limit")
        return defaults.lengthLimitOn;
    if (name == "Podcast/Length")
        return defaults.lengthLimit;
    if (name == "Podcast/Download First One Only")
        return defaults.firstItemOnly;
    if (name == "Podcast/Repackable")
        return defaults.repackable;
    if (name == "WinPos/x")
        return placement.x;
    if (name == "WinPos/y")
        return placement.y;
    if (name == "WinPos/cx")
        return placement.cx;
    return placement.cy;
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

long long ReadEntry(QSettings& store, const char* section, const char* entry)
{
    return ReadInteger(store, *FindSetting(std::string(section) + "/" + entry));
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

} // namespace

std::string SettingsFilePath()
{
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

CorvaneSettings LoadSettings()
{
    auto store = OpenStore();
    CorvaneSettings settings;
    const QVariant path = store->value(Key("Path", "FeedFile"));
    settings.outputPath = path.isValid() ? path.toString().toStdString() : DefaultOutputPath();
    settings.scheduleOn = static_cast<int>(ReadEntry(*store, "Update", "Scheduled"));
    settings.scheduleHour = static_cast<int>(ReadEntry(*store, "Update", "Hour"));
    settings.scheduleMinute = static_cast<int>(ReadEntry(*store, "Update", "Minute"));
    settings.podcastOn = static_cast<int>(ReadEntry(*store, "Podcast", "On"));
    settings.lengthLimit = static_cast<std::uint32_t>(ReadEntry(*store, "Podcast", "Length"));
    settings.podcastFormat = static_cast<int>(ReadEntry(*store, "Podcast", "MP3"));
    settings.lengthLimitOn = static_cast<int>(ReadEntry(*store, "Podcast", "Limit"));
    settings.compression = static_cast<int>(ReadEntry(*store, "Podcast", "Compression"));
    settings.volume = static_cast<int>(ReadEntry(*store, "Podcast", "Volume"));
    settings.firstItemOnly
        = static_cast<int>(ReadEntry(*store, "Podcast", "Download First One Only"));
    settings.repackable = static_cast<int>(ReadEntry(*store, "Podcast", "Repackable"));
    return settings;
}

Result<void> SaveOptions(const CorvaneSettings& settings)
{
    auto store = OpenStore();
    store->setValue(Key("Path", "FeedFile"), QString::fromStdString(settings.outputPath));
    store->setValue(Key("Update", "Scheduled"), settings.scheduleOn);
    store->setValue(Key("Update", "Hour"), settings.scheduleHour);
    store->setValue(Key("Update", "Minute"), settings.scheduleMinute);
    store->setValue(Key("Podcast", "On"), settings.podcastOn);
    store->setValue(Key("Podcast", "MP3"), settings.podcastFormat);
    store->setValue(Key("Podcast", "Compression"), settings.compression);
    store->setValue(Key("Podcast", "Volume"), settings.volume);
    store->setValue(Key("Podcast", "Limit"), settings.lengthLimitOn);
    store->setValue(Key("Podcast", "Length"), static_cast<qulonglong>(settings.lengthLimit));
    store->setValue(Key("Podcast", "Download First One Only"), settings.firstItemOnly);
    return Finish(*store);
}

Result<void> StoreRepackable(int value)
{
    auto store = OpenStore();
    store->setValue(Key("Podcast", "Repackable"), value);
    return Finish(*store);
}

WindowPlacement LoadWindowPlacement()
{
    auto store = OpenStore();
    WindowPlacement placement;
    placement.x = static_cast<int>(ReadEntry(*store, "WinPos", "x"));
    placement.y = static_cast<int>(ReadEntry(*store, "WinPos", "y"));
    placement.cx = static_cast<int>(ReadEntry(*store, "WinPos", "cx"));
    placement.cy = static_cast<int>(ReadEntry(*store, "WinPos", "cy"));
    return placement;
}

Result<void> SaveWindowPlacement(const WindowPlacement& placement)
{
    auto store = OpenStore();
    store->setValue(Key("WinPos", "x"), placement.x);
    store->setValue(Key("WinPos", "y"), placement.y);
    store->setValue(Key("WinPos", "cx"), placement.cx);
    store->setValue(Key("WinPos", "cy"), placement.cy);
    return Finish(*store);
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
    if (setting.isText) {
        const QVariant value = store->value(Key(setting.section, setting.entry));
        return value.isValid() ? value.toString().toStdString() : DefaultOutputPath();
    }
    bool invalid = false;
    const long long number = ReadInteger(*store, setting, &invalid);
    if (!invalid)
        return std::to_string(number);
    return store->value(Key(setting.section, setting.entry)).toString().toStdString()
        + " (invalid: " + std::to_string(setting.minimum) + " to " + std::to_string(setting.maximum)
        + "; the scheduled update never runs)";
}

bool WriteSettingText(const SettingInfo& setting, const std::string& value, std::string& error)
{
    auto store = OpenStore();
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
