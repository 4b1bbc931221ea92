// corvane-cli inspect and extract: looking into a package file.
#include "cli/Commands.h"

#include "update/CacheNames.h"
#include "update/Package.h"
#include "update/PackageReader.h"

#include <cstdio>
#include <filesystem>
#include <string>

namespace corvane {

namespace {

const char* TypeName(std::uint32_t type)
{
    switch (type) {
    case RECORD_FEED:
        return "feed";
    case RECORD_MP3:
        return "mp3";
    case RECORD_AMR:
        return "amr";
    default:
        return "?";
    }
}

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

const char* const inspectHelp
    = "usage: corvane-cli inspect PACKAGE [--json]\n"
      "\n"
      "Shows the head of a package file and one line per record: type, data length, name.\n"
      "--json prints one object instead:\n"
      "  {\"sync\": 0|1, \"channels\": LENGTH or null,\n"
      "   \"records\": [{\"offset\": O, \"type\": T, \"name\": \"...\", \"length\": D}, ...]}\n"
      "where offset is where the record starts.\n"
      "\n"
      "Exit codes: 0 done, 1 the package cannot be read or breaks (the message names the offset),\n"
      "2 wrong usage.\n";

const char* const extractHelp
    = "usage: corvane-cli extract PACKAGE DIR\n"
      "\n"
      "Writes the data of each record of a package file into DIR (created when missing), named as\n"
      "the download cache names its files, and the channel list, when the package carries one, as\n"
      "Corvane.Cha. Records that share a name overwrite one another, as in the cache. A package\n"
      "that breaks part-way has the records before the break extracted and exits 1.\n"
      "\n"
      "Exit codes: 0 done, 1 failed (the message names the file and the reason), 2 wrong usage.\n";

} // namespace

int RunInspect(CommandArguments& arguments)
{
    if (arguments.WantsHelp()) {
        std::fputs(inspectHelp, stdout);
        return EXIT_DONE;
    }
    const bool json = arguments.TakeFlag("--json");
    const std::vector<std::string> positionals = arguments.Positionals();
    if (!arguments.UsageError().empty() || positionals.size() != 1) {
        PrintError(
            arguments.UsageError().empty() ? "inspect needs one PACKAGE" : arguments.UsageError());
        std::fputs(inspectHelp, stderr);
        return EXIT_USAGE;
    }

    CPackageReader reader;
    const bool ok = reader.Open(positionals[0]);
    if (json) {
        // Half an object would only mislead a program: on failure, nothing on standard output.
        if (!ok) {
            PrintError(reader.Error());
            return EXIT_FAILED;
        }
        std::string out = "{\"sync\": " + std::to_string(reader.SyncFlag()) + ", \"channels\": ";
        out += reader.ChannelsOffset() ? std::to_string(reader.ChannelsLength()) : "null";
        out += ", \"records\": [";
        bool first = true;
        for (const PackageRecord& record : reader.Records()) {
            out += first ? "" : ", ";
            first = false;
            out += "{\"offset\": " + std::to_string(record.offset) + ", \"type\": "
                + std::to_string(record.type) + ", \"name\": " + JsonString(record.name)
                + ", \"length\": " + std::to_string(record.dataLength) + "}";
        }
        out += "]}\n";
        std::fputs(out.c_str(), stdout);
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
            std::printf("%-4s %10u  %s\n", TypeName(record.type), record.dataLength,
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

int RunExtract(CommandArguments& arguments)
{
    if (arguments.WantsHelp()) {
        std::fputs(extractHelp, stdout);
        return EXIT_DONE;
    }
    const std::vector<std::string> positionals = arguments.Positionals();
    if (!arguments.UsageError().empty() || positionals.size() != 2) {
        PrintError(arguments.UsageError().empty() ? "extract needs PACKAGE and DIR"
                                                  : arguments.UsageError());
        std::fputs(extractHelp, stderr);
        return EXIT_USAGE;
    }
    const std::string& packagePath = positionals[0];
    const std::string& folder = positionals[1];

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
    if (reader.ChannelsOffset()) {
        const std::string target = prefix + "Corvane.Cha";
        if (!reader.CopyTo(*reader.ChannelsOffset(), reader.ChannelsLength(), target)) {
            PrintError(reader.Error());
            return EXIT_FAILED;
        }
        std::printf("channels %10u  %s\n", reader.ChannelsLength(), Printable(target).c_str());
    }
    for (const PackageRecord& record : reader.Records()) {
        // The cache's names cannot leave the folder: '/' and '.' become '_'.
        const std::string target
            = prefix + CacheFileNamePart(record.name, static_cast<int>(record.type));
        if (!reader.CopyTo(record.dataOffset, record.dataLength, target)) {
            PrintError(reader.Error());
            return EXIT_FAILED;
        }
        std::printf(
            "%-8s %10u  %s\n", TypeName(record.type), record.dataLength, Printable(target).c_str());
    }
    std::fflush(stdout);
    if (!ok) {
        PrintError(breakText);
        return EXIT_FAILED;
    }
    return EXIT_DONE;
}

} // namespace corvane
