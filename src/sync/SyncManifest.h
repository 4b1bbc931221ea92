// The record a sync keeps in its own folder on the device of the files it wrote there, so that
// a later sync replaces and removes only its own files, and skips those that are still current.
//
// The file is ".corvane-sync" in the sync folder: a first line "corvane-sync 1", then one line
// per file, "<state>\t<size>\t<key>\t<path>": state "ok" (the file was written whole, with that
// size) or "pending" (a sync meant to write it and may have been stopped: the file is ours but
// must be written again); key a digest of what the file was made from; path relative to the
// sync folder with '/' between names, and '%', tab, carriage return and line feed in it written
// as "%25", "%09", "%0D" and "%0A". Lines that do not read so are passed over, and so are paths
// that would lead out of the sync folder (absolute ones, "." and ".." names, empty names,
// backslashes) or name the manifest itself.
//
// Thread: any; a value type.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace corvane {

inline constexpr const char* SYNC_MANIFEST_NAME = ".corvane-sync";

struct ManifestEntry {
    bool pending = false;
    std::uint64_t size = 0;
    std::string key;
    bool operator==(const ManifestEntry& other) const = default;
};

class SyncManifest {
public:
    // The entries by path.
    std::map<std::string, ManifestEntry> entries;

    // The manifest's text, and the manifest read from a text (an unknown first line gives an
    // empty manifest: the files then count as not ours).
    std::string Text() const;
    static SyncManifest FromText(const std::string& text);

    // Reads the manifest at path; a missing or unreadable file is an empty manifest.
    static SyncManifest Read(const std::string& path);

    bool operator==(const SyncManifest& other) const = default;
};

} // namespace corvane
