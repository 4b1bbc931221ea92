// The commands of corvane-cli; each lives in a source file of its own and is listed in main.cpp.
#pragma once

#include "cli/CliSupport.h"
#include "update/UpdateJob.h"

namespace corvane {

// PackageCommands.cpp: looking into a package file.
int RunInspect(CommandArguments& arguments);
int RunExtract(CommandArguments& arguments);

// UpdateCommands.cpp: the update job and Re-Pack.
int RunUpdateCommand(CommandArguments& arguments);
int RunRepackCommand(CommandArguments& arguments);

// ConvertCommand.cpp: one MP3 file to an AMR-NB file.
int RunConvert(CommandArguments& arguments);

// FetchCommand.cpp: one download into a file.
int RunFetch(CommandArguments& arguments);
// True when text starts with "http://" or "https://" (in any case).
bool IsWebAddress(const std::string& text);
// Downloads url into a new file in the private temporary folder and gives its path, which the
// caller deletes. Empty on failure, after the failure message and its reason were printed.
std::string DownloadToPrivateFile(const std::string& url);

// FeedCommand.cpp: one feed document read as an update reads it.
int RunFeed(CommandArguments& arguments);
// Reads the feed document at path and prints it (text, or JSON with json); shownName names it in
// the failure message (a downloaded temporary file is shown as its address). Returns the exit code.
int ShowFeedDocument(const std::string& path, const std::string& shownName, bool json);

// SubscriptionCommands.cpp: the subscription tree and its channels file.
int RunList(CommandArguments& arguments);
int RunAdd(CommandArguments& arguments);
int RunRemove(CommandArguments& arguments);
int RunUndo(CommandArguments& arguments);
int RunImport(CommandArguments& arguments);
int RunExport(CommandArguments& arguments);

// OptionsCommand.cpp: the settings store.
int RunOptions(CommandArguments& arguments);

// CleanCommand.cpp: pruning the download cache against the channels file's tree.
int RunClean(CommandArguments& arguments);

// ScheduleCommand.cpp: the daily update as a systemd user timer.
int RunSchedule(CommandArguments& arguments);
int ScheduleOn();
int ScheduleOff();
int ScheduleStatus();
// The desktop notification of a headless update's end, when HeadlessRunNotifies says so.
void NotifyHeadlessRun(const UpdateJobResult& result, const std::string& packagePath);

} // namespace corvane
