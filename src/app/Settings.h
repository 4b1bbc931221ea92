// The settings store: QSettings in INI format, per user, at
// $XDG_CONFIG_HOME/Corvane/Corvane.conf, sections "Path", "Update", "Podcast" and "WinPos".
// Reading an absent value gives its default without writing it. Part of the core (QtCore only).
#pragma once

#include <cstdint>
#include <string>

// The settings that the tree view keeps as members while the program runs.
struct CorvaneSettings {
    std::string outputPath;              // "Path"/"FeedFile": documents folder + "/corvane.mrf"
    int scheduleOn = 0;                  // "Update"/"Scheduled"
    int scheduleHour = 6;                // "Update"/"Hour", 0..23
    int scheduleMinute = 0;              // "Update"/"Minute", 0..59
    int podcastOn = 1;                   // "Podcast"/"On"
    int podcastFormat = 1;               // "Podcast"/"MP3": 0 original MP3, 1 re-compressed AMR
    int compression = 7;                 // "Podcast"/"Compression", 0..7
    int volume = 4;                      // "Podcast"/"Volume", 0..7
    int lengthLimitOn = 0;               // "Podcast"/"Limit"
    std::uint32_t lengthLimit = 1200;    // "Podcast"/"Length", seconds, 1..4294967295
    int firstItemOnly = 0;               // "Podcast"/"Download First One Only"
    int repackable = 0;                  // "Podcast"/"Repackable"
};

struct WindowPlacement {
    int x = 10, y = 10, cx = 500, cy = 350;  // "WinPos"/"x", "y", "cx", "cy"
};

// Reads every setting of the view in the described order, with defaults for absent values.
CorvaneSettings LoadSettings();

// Writes the eleven entries of the Options dialog in its order (all but "Repackable").
void SaveOptions(const CorvaneSettings& settings);

// Writes "Podcast"/"Repackable" at once.
void StoreRepackable(int value);

WindowPlacement LoadWindowPlacement();
void SaveWindowPlacement(const WindowPlacement& placement);

// The default package path: QStandardPaths' documents folder followed by "/corvane.mrf".
std::string DefaultOutputPath();
