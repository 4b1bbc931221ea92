// The download cache's index: which address each cache file was fetched from.
//
// Cache names are made from addresses by a lossy rule (punctuation becomes '_', long names are
// cut), so two addresses can share a name. Were they to share the file, a conditional download
// of one address would send the modification time of the other address's bytes, get 304 and
// pack those bytes under the wrong name. The index keeps them apart:
// - an address keeps its plain name (CacheFileName) when that name is free or already holds a
//   file of this address; otherwise it takes the first variant (CacheFileNameVariant) that is;
// - before a download, the name is claimed for its address in the index, and a file there of
//   another or unknown origin is removed first, so a 304 only ever confirms the address's own
//   bytes, and a crash at any moment leaves the index naming the file's true origin or nothing;
// - Re-Pack packs only a file that the index says came from the record's address.
//
// The index is the file ".corvane-cache-index" in the data folder: a first line
// "corvane-cache-index 1", then one line per file, "<file name>\t<address>", with '%', tab,
// carriage return and line feed written as "%25", "%09", "%0D" and "%0A". It is replaced
// atomically. Files without a line (a cache from before the index, or an index that was lost)
// are of unknown origin.
//
// Thread: one thread at a time (the update job calls it under its own lock). Two processes that
// update one program folder at once may lose each other's lines; a lost line only makes a file
// of unknown origin, never a false origin.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace corvane {

class CCacheIndex {
public:
    // The index of the cache in dataFolder (ending in '/'). Reads the index file; a missing one
    // is an empty index (every file of unknown origin). One that stands there but cannot be read
    // (not a regular file: a FIFO would block for ever; no permission) is an empty index too,
    // with ReadError saying so, and is never written over. Removes the temporaries a killed save
    // of the index left.
    explicit CCacheIndex(std::string dataFolder);

    // "cannot read the cache index <path>: <reason>" when the index file could not be read;
    // empty otherwise. A full update must then claim nothing (a claim then removes no file, and
    // SaveIfChanged fails with this).
    const std::string& ReadError() const { return readError; }

    // Full update: the cache path that address (of kind CACHE_FEED or CACHE_MP3) downloads
    // into. Claims it for address in memory (SaveIfChanged writes the claim), and removes a file
    // there that was not fetched from address. A second call with the same address in one run
    // gives the same path; another address never gets it in that run. The path is empty only
    // when every variant is taken (practically never). newClaim is true when the claim changed
    // the index: the download must then wait until SaveIfChanged has written it.
    struct Claim {
        std::string path;
        bool newClaim = false;
    };
    Claim ClaimForDownload(const std::string& address, int kind);

    // Writes the index when a claim changed it. False, with a message naming the file and the
    // reason in error, when it cannot be written; the claims then hold in memory only.
    bool SaveIfChanged(std::string& error);

    // Re-Pack: the cache path holding a file fetched from address, or empty when the cache holds
    // none. Touches nothing.
    std::string Find(const std::string& address, int kind) const;

    // The address the file name (without folder) was fetched from; empty when unknown.
    std::string OriginOf(const std::string& fileName) const;

    // The file names (without folder) that the index gives to address for kind: the files that
    // were fetched from it and the names claimed for its downloads, whether or not a file is
    // there now.
    std::vector<std::string> NamesOf(const std::string& address, int kind) const;
    // Every file name the index has a line for.
    std::vector<std::string> FileNames() const;
    // Drops the line of the file name (a removed file); SaveIfChanged writes it.
    void Forget(const std::string& fileName);

    std::string IndexPath() const { return IndexPathIn(folder); }
    static std::string IndexPathIn(const std::string& dataFolder)
    {
        return dataFolder + ".corvane-cache-index";
    }

private:
    void Load();

    std::string folder;
    std::unordered_map<std::string, std::string> origins; // file name -> address
    std::unordered_set<std::string> claimedThisRun; // file names
    bool changed = false;
    std::string readError;
};

} // namespace corvane
