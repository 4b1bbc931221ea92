// What the last update of the program folder did, kept for `corvane-cli schedule status` (a
// timer's run has no one watching it) and for the desktop program's catch-up, which must know
// whether an update ran since the set time passed. Also the short text that tells the user how
// an update went (the desktop notification).
//
// The record is "<program folder>last-update.json", replaced atomically at the end of every job
// of corvane-cli and of the desktop program:
//   {"time": <seconds since 1970, UTC>, "program": "corvane-cli", "kind": "update",
//    "exitStatus": 3, "packageWritten": true, "packageSize": 123, "package": "<path>",
//    "message": "<final text>", "failures": [{"address": "...", "reason": "..."}],
//    "fullUpdate": true, "lastFullUpdate": <seconds since 1970, UTC>}
// Thread: any; each call reads or writes the file anew.
#pragma once

#include "platform/Result.h"
#include "update/UpdateJob.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// The exit statuses of corvane-cli's update and repack, which the record keeps for runs of
// either program.
inline constexpr int RUN_DONE = 0;
inline constexpr int RUN_NOT_WRITTEN = 1;
inline constexpr int RUN_PARTLY_FAILED = 3; // the package was written, something failed
inline constexpr int RUN_FOLDER_BUSY = 75; // another update held the program folder (EX_TEMPFAIL)
inline constexpr int RUN_INTERRUPTED = 130;

// The exit status of a job that ended with result (interrupted: Ctrl-C or a termination signal).
int RunExitStatus(const UpdateJobResult& result, bool interrupted = false);

struct LastRun {
    std::int64_t time = 0; // when the job ended, seconds since 1970 (UTC)
    std::string program; // "corvane-cli" or "corvane"
    std::string kind; // "update", "Re-Pack" or "scheduled update"
    int exitStatus = RUN_DONE;
    bool packageWritten = false;
    std::uint64_t packageSize = 0;
    std::string packagePath;
    std::string message; // the final text, or why nothing was written
    std::vector<UpdateFailure> failures;
    // A full update of the whole tree that wrote its package: what catch-up counts as "an update
    // ran". Not a Re-Pack, an update of some feeds, one that found the folder busy, was
    // cancelled, found no network or could not write the package. A record written before the
    // field existed counts when it is not a Re-Pack and wrote its package.
    bool fullUpdate = false;
    // When the latest full update ended, this run or an earlier one (0: none known). The record
    // holds the last run only; WriteLastRun carries this over from the record it replaces, so a
    // Re-Pack or an offline run after the day's update does not hide that update.
    std::int64_t lastFullUpdate = 0;
};

// The record of a job that ended now with result. wholeTree: the job was a full update (not a
// Re-Pack) of every feed of the tree.
LastRun LastRunOf(const UpdateJobResult& result, const std::string& program,
    const std::string& kind, const std::string& packagePath, bool interrupted = false,
    bool wholeTree = false);

std::string LastRunPath(); // GetProgramFolder() + "last-update.json"
// Writes run with its lastFullUpdate: its own time when it is a full update, else the replaced
// record's.
Result<void> WriteLastRun(const LastRun& run);
// The record, or nullopt when there is none (error empty) or it cannot be read (error says why,
// naming the file).
std::optional<LastRun> ReadLastRun(std::string* error = nullptr);

// The record in a few lines for `schedule status`: when (local time), which program, how it
// ended, the package and its size, each failure with its reason.
std::string LastRunText(const LastRun& run);

// What a desktop notification says of a job's end: the title and one or more lines.
struct UpdateNotice {
    std::string summary;
    std::string body;
};
// "Corvane: feeds updated" with the package's size; or which feeds failed (at most a few named,
// then how many more); or why nothing was written.
UpdateNotice UpdateNoticeOf(const UpdateJobResult& result, const std::string& packagePath);

// Whether a run of corvane-cli tells the desktop how its update went. Nobody watches a run that
// systemd started (invocationId: its INVOCATION_ID), so it does; one on a terminal, in a script
// or in the tests does not, since its exit status and output tell. notifySetting (the
// CORVANE_NOTIFY variable) decides when set: "1" always (a cron job), "0" never.
bool HeadlessRunNotifies(const char* notifySetting, const char* invocationId);

} // namespace corvane
