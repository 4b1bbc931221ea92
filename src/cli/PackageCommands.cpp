// corvane-cli inspect and extract: looking into a package file.
#include "cli/CliJson.h"
#include "cli/Commands.h"

#include "update/CacheNames.h"
#include "update/Package.h"
#include "update/PackageReader.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

namespace corvane {

namespace {

// Names come from the package and may hold anything; control bytes would steer the terminal.
std::string Printable(const std::string& text)
{
    std::string out;
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// The file names of one extract run: each record's cache name, made distinct within the run.
// Names the cache shares (an exact duplicate, "/a/b.mp3" against "/a_b.mp3", "x.mp3" against
// "x-mp3") would otherwise overwrite one another in the folder, losing a record silently.
class ExtractNames {
public:
    void Reserve(const std::string& fileName) { taken.insert(fileName); }

    // The name for a record whose cache name part is cacheName (a stem, then ".xml", ".mp3" or
    // ".amr"): cacheName itself when it is free, with "unnamed" for an empty stem (which would
    // give a hidden file); when that is taken, " (2)", " (3)" and so on go before the extension.
    // Never a name given before in the run. (Cache names fit a file name: the cache keeps whole
    // paths within 260 bytes, so a name part never reaches 255.)
    std::string Take(const std::string& cacheName)
    {
        const std::size_t dot = cacheName.rfind('.');
        const std::string extension = dot == std::string::npos ? "" : cacheName.substr(dot);
        std::string stem = cacheName.substr(0, dot);
        if (stem.empty())
            stem = "unnamed";
        // Each turn tries a number no earlier turn tried, so this ends after at most as many
        // turns as names were taken.
        for (std::size_t number = 1;; ++number) {
            const std::string suffix
                = (number == 1 ? std::string() : " (" + std::to_string(number) + ")") + extension;
            const std::string name = stem + suffix;
            if (taken.insert(name).second)
                return name;
        }
    }

private:
    std::set<std::string> taken;
};

// The head and records of a package that was read whole.
QJsonObject PackageObject(const CPackageReader& reader)
{
    QJsonArray records;
    for (const PackageRecord& record : reader.Records())
        records.append(RecordJson(record));
    return QJsonObject {{"sync", static_cast<qint64>(reader.SyncFlag())},
        {"channels",
            reader.ChannelsOffset() ? QJsonValue(static_cast<qint64>(reader.ChannelsLength()))
                                    : QJsonValue()},
        {"records", records}};
}

} // namespace

int RunInspect(CommandLine& arguments)
{
    arguments.Describe(
        "Shows the head of a package file and one line per record: type, data length, name.");
    arguments.Positional("PACKAGE", "the package file");
    arguments.Flag("json",
        "print one object instead: {\"sync\": 0|1, \"channels\": BYTES of the channel list or "
        "null,\n\"records\": [{\"offset\": where the record starts, \"address\", \"type\" (feed, "
        "mp3,\namr), \"size\": BYTES of data}, ...]}, the records as update --json lists them");
    arguments.CountError("inspect needs one PACKAGE");
    arguments.Epilogue("Exit codes: 0 done, 1 the package cannot be read or breaks (the message "
                       "names the offset),\n2 wrong usage.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const bool json = arguments.Has("json");

    CPackageReader reader;
    const bool ok = reader.Open(arguments.Positionals()[0]);
    if (json) {
        // Half an object would only mislead a program: on failure, nothing on standard output.
        if (!ok) {
            PrintError(reader.Error());
            return EXIT_FAILED;
        }
        PrintJson(PackageObject(reader));
        return EXIT_DONE;
    }

    // For people, whatever could be read is shown, then where it breaks.
    if (reader.MagicOk()) {
        std::printf("package %s: %llu bytes\n", Printable(reader.Path()).c_str(),
            static_cast<unsigned long long>(reader.FileSize()));
        if (reader.ChannelsOffset())
            std::printf("synchronize flag 1: channel list of %u bytes at offset %llu\n",
                reader.ChannelsLength(), static_cast<unsigned long long>(*reader.ChannelsOffset()));
        else if (ok || reader.SyncFlag() == 0)
            std::printf("synchronize flag %u: no channel list\n", reader.SyncFlag());
        for (const PackageRecord& record : reader.Records())
            std::printf("%-4s %10u  %s\n", RecordTypeName(record.type), record.dataLength,
                Printable(record.name).c_str());
        std::printf(
            "%zu record%s\n", reader.Records().size(), reader.Records().size() == 1 ? "" : "s");
    }
    std::fflush(stdout);
    if (!ok) {
        PrintError(reader.Error());
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

int RunExtract(CommandLine& arguments)
{
    arguments.Describe(
        "Writes the data of each record of a package file into DIR (created when missing), named "
        "as\nthe download cache names its files, and the channel list, when the package carries "
        "one, as\nCorvane.Cha. A record whose name is taken by an earlier one gets \"NAME "
        "(2).EXT\" "
        "(and so\non), told on standard error. A package that breaks part-way has the records "
        "before the\nbreak extracted and exits 1.");
    arguments.Positional("PACKAGE", "the package file");
    arguments.Positional("DIR", "the folder to write into");
    arguments.Flag("quiet", "do not list the files written");
    arguments.CountError("extract needs PACKAGE and DIR");
    arguments.Epilogue("Exit codes: 0 done, 1 failed (the message names the file and the "
                       "reason), 2 wrong usage.\n");
    if (const std::optional<int> code = arguments.Parse())
        return *code;
    const bool quiet = arguments.Has("quiet");
    const std::string& packagePath = arguments.Positionals()[0];
    const std::string& folder = arguments.Positionals()[1];

    CPackageReader reader;
    const bool ok = reader.Open(packagePath);
    const std::string breakText = reader.Error();
    if (!reader.MagicOk()) {
        PrintError(reader.Error());
        return EXIT_FAILED;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder)) {
        PrintError(folder + ": cannot create the folder"
            + (error ? ": " + error.message() : std::string()));
        return EXIT_FAILED;
    }

    const std::string prefix = folder.back() == '/' ? folder : folder + "/";
    ExtractNames names;
    names.Reserve("Corvane.Cha");
    if (reader.ChannelsOffset()) {
        const std::string target = prefix + "Corvane.Cha";
        if (!reader.CopyTo(*reader.ChannelsOffset(), reader.ChannelsLength(), target)) {
            PrintError(reader.Error());
            return EXIT_FAILED;
        }
        if (!quiet)
            std::printf("channels %10u  %s\n", reader.ChannelsLength(), Printable(target).c_str());
    }
    for (const PackageRecord& record : reader.Records()) {
        // The cache's names cannot leave the folder: '/' and '.' become '_'.
        const std::string cacheName = CacheFileNamePart(record.name, static_cast<int>(record.type));
        const std::string fileName = names.Take(cacheName);
        const std::string target = prefix + fileName;
        if (fileName != cacheName)
            PrintError("the record \"" + Printable(record.name) + "\" at offset "
                + std::to_string(record.offset) + " is written as " + Printable(fileName)
                + (cacheName.front() == '.' ? " (" + cacheName + " would be a hidden file)"
                                            : " (" + Printable(cacheName) + " is taken)"));
        if (!reader.CopyTo(record.dataOffset, record.dataLength, target)) {
            PrintError(reader.Error());
            return EXIT_FAILED;
        }
        if (!quiet)
            std::printf("%-8s %10u  %s\n", RecordTypeName(record.type), record.dataLength,
                Printable(target).c_str());
    }
    std::fflush(stdout);
    if (!ok) {
        PrintError(breakText);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

} // namespace corvane
