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

// Entries that the view turns into array positions or loop counts must stay in range even when
// the file was edited by hand: an unreadable or out-of-range value reads as its default.
long long ReadInteger(QSettings& store, const char* section, const char* entry, long long fallback,
    long long minimum, long long maximum)
{
    const QVariant value = store.value(Key(section, entry));
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const long long number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < minimum || number > maximum)
        return fallback;
    return number;
}

constexpr long long kIntMin = -2147483647LL - 1;
constexpr long long kIntMax = 2147483647LL;

const std::vector<SettingInfo> kSettings = {
    { "Path", "FeedFile", true, 0, 0 },
    { "Update", "Scheduled", false, 0, 1 },
    { "Update", "Hour", false, 0, 23 },
    { "Update", "Minute", false, 0, 59 },
    { "Podcast", "On", false, 0, 1 },
    { "Podcast", "MP3", false, 0, 1 },
    { "Podcast", "Compression", false, 0, 7 },
    { "Podcast", "Volume", false, 0, 7 },
    { "Podcast", "Limit", false, 0, 1 },
    { "Podcast", "Length", false, 1, 4294967295LL },
    { "Podcast", "Download First One Only", false, 0, 1 },
    { "Podcast", "Repackable", false, 0, 1 },
    { "WinPos", "x", false, kIntMin, kIntMax },
    { "WinPos", "y", false, kIntMin, kIntMax },
    { "WinPos", "cx", false, kIntMin, kIntMax },
    { "WinPos", "cy", false, kIntMin, kIntMax },
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

long long ReadEntry(QSettings& store, const char* section, const char* entry)
{
    const SettingInfo* setting = FindSetting(std::string(section) + "/" + entry);
    return ReadInteger(
        store, section, entry, DefaultOf(*setting), setting->minimum, setting->maximum);
}

bool Finish(QSettings& store, std::string* error)
{
    store.sync();
    if (store.status() == QSettings::NoError)
        return true;
    if (error)
        *error = "cannot write the settings file " + SettingsFilePath();
    return false;
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

void SaveOptions(const CorvaneSettings& settings)
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
    Finish(*store, nullptr);
}

void StoreRepackable(int value)
{
    auto store = OpenStore();
    store->setValue(Key("Podcast", "Repackable"), value);
    Finish(*store, nullptr);
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

void SaveWindowPlacement(const WindowPlacement& placement)
{
    auto store = OpenStore();
    store->setValue(Key("WinPos", "x"), placement.x);
    store->setValue(Key("WinPos", "y"), placement.y);
    store->setValue(Key("WinPos", "cx"), placement.cx);
    store->setValue(Key("WinPos", "cy"), placement.cy);
    Finish(*store, nullptr);
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
    return std::to_string(ReadInteger(*store, setting.section, setting.entry, DefaultOf(setting),
        setting.minimum, setting.maximum));
}

bool WriteSettingText(const SettingInfo& setting, const std::string& value, std::string& error)
{
    auto store = OpenStore();
    const QString key = Key(setting.section, setting.entry);
    if (setting.isText)
        store->setValue(key, QString::fromStdString(value));
    else
        store->setValue(key, QString::fromStdString(value).toLongLong());
    return Finish(*store, &error);
}
