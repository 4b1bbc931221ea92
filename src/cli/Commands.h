// The commands of corvane-cli; each lives in a source file of its own and is listed in main.cpp.
#pragma once

#include "cli/CliSupport.h"
#include "subscriptions/Subscriptions.h"
#include "update/UpdateJob.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class CSubscriptions;

// PackageCommands.cpp: looking into a package file.
int RunInspect(CommandLine& arguments);
int RunExtract(CommandLine& arguments);

// UpdateCommands.cpp: the update job and Re-Pack.
int RunUpdateCommand(CommandLine& arguments);
int RunRepackCommand(CommandLine& arguments);

// ConvertCommand.cpp: one MP3 file to an AMR-NB file.
int RunConvert(CommandLine& arguments);

// FetchCommand.cpp: one download into a file.
int RunFetch(CommandLine& arguments);
// True when text starts with "http://" or "https://" (in any case).
bool IsWebAddress(const std::string& text);
// Downloads url into a new file in the private temporary folder and gives its path, which the
// caller deletes. Empty on failure, after the failure message and its reason were printed.
std::string DownloadToPrivateFile(const std::string& url);

// FeedCommand.cpp: one feed document read as an update reads it.
int RunFeed(CommandLine& arguments);
// Reads the feed document at path and prints it (text, or JSON with json); shownName names it in
// the failure message (a downloaded temporary file is shown as its address). Returns the exit code.
int ShowFeedDocument(const std::string& path, const std::string& shownName, bool json);

// SubscriptionCommands.cpp: the subscription tree and its channels file.
// The subscriptions as the desktop program would find them at start, with the undo depth of
// the earlier calls. Null, after saying why, when the channels file stands there but cannot be
// read at all: a command must neither show nor save over a tree it never saw.
std::unique_ptr<CSubscriptions> OpenSubscriptions();
int RunList(CommandLine& arguments);
int RunAdd(CommandLine& arguments);
int RunRemove(CommandLine& arguments);
int RunUndo(CommandLine& arguments);
int RunImport(CommandLine& arguments);
int RunExport(CommandLine& arguments);

// AddCommand.cpp: the checks of corvane-cli add.
struct AddRequest {
    std::vector<std::string> urls; // as given
    std::optional<std::string> title; // wins over the feed's own
    std::optional<int> pick; // which of several announced feeds (1-based)
    bool allowDuplicate = false;
    bool noFetch = false;
    bool quiet = false;
    int connections = DEFAULT_CONNECTIONS;
    int connectionsPerHost = DEFAULT_CONNECTIONS_PER_HOST;
    std::stop_token stop;
};
// The feeds to add for request, in the order given: each address checked (http or https, not
// held by the tree nor earlier in the call) and, unless noFetch, its feed found and read (several
// at once). Every address refused is named on standard error with the reason, and anyRefused set.
std::vector<CSubscriptions::FeedFields> CheckNewFeeds(
    const CSubscriptions& subscriptions, const AddRequest& request, bool& anyRefused);

// FeedOptionsCommand.cpp: a feed's own choices, and the episodes the next update takes.
int RunFeedOptions(CommandLine& arguments);
int RunEpisodes(CommandLine& arguments);

// OptionsCommand.cpp: the settings store.
int RunOptions(CommandLine& arguments);

// CleanCommand.cpp: pruning the download cache against the channels file's tree.
int RunClean(CommandLine& arguments);

// SendCommand.cpp: the package to a Send To target.
int RunSend(CommandLine& arguments);
// True when target names a Send To target or a folder now; else prints why (with the known
// targets) and gives false.
bool CheckSendTarget(const std::string& target);
// After an update that ended with updateCode: sends the package at packagePath (empty:
// "Path"/"FeedFile") to target when the update wrote it, and gives the exit code to end with.
// Where the package went is printed on report (standard error when standard output is kept for
// the update's JSON; null prints nothing, for --quiet). Failures go to standard error always.
int SendAfterUpdate(
    int updateCode, const std::string& target, const std::string& packagePath, std::FILE* report);

// SyncCommand.cpp: the package's episodes as tagged files with playlists onto a device.
int RunSync(CommandLine& arguments);
// As CheckSendTarget, for a target that is a folder (a volume, a phone's storage, a path).
bool CheckSyncTarget(const std::string& target);
// As SendAfterUpdate: syncs the episodes of the package the update wrote.
int SyncAfterUpdate(
    int updateCode, const std::string& target, const std::string& packagePath, std::FILE* report);

// ScheduleCommand.cpp: the daily update as a systemd user timer.
int RunSchedule(CommandLine& arguments);
// updateArguments: further arguments of the timer's update (--sync TARGET).
int ScheduleOn(const std::vector<std::string>& updateArguments = {});
int ScheduleOff();
int ScheduleStatus();
// The desktop notification of a headless update's end, when HeadlessRunNotifies says so.
void NotifyHeadlessRun(const UpdateJobResult& result, const std::string& packagePath);

} // namespace corvane
