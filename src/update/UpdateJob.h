// The update job: downloads the feeds (and, with podcasts on, their audio enclosures) into the
// download cache and packs everything into the package; or, for Re-Pack, packs again from the
// cache without the network.
//
// The job runs on a worker thread of its own and reports through a listener. The command-line
// program prints; the desktop program forwards each call into its GUI thread.
#pragma once

#include "app/Settings.h"

#include <cstdint>
#include <string>
#include <vector>

// Implemented by whoever shows a job. Every call comes from the job's worker thread.
class UpdateListener {
public:
    virtual ~UpdateListener() = default;
    // "Downloading <address>", "Packing <address>", "Converting <address>", and the final text.
    virtual void OnStatus(const std::string& text) = 0;
    // The progress bar's range (0..maximum) and each step.
    virtual void OnProgressRange(int maximum) = 0;
    virtual void OnProgressStep() = 0;
    // A failure the user must acknowledge: the job waits until this returns.
    // text is "Failed to get <address>, please check the URL and the Internet connection."
    virtual void OnFailure(const std::string& text) = 0;
    // The job reached its end (not called after a cancel). finalText is the status shown last.
    virtual void OnFinished(const std::string& finalText, bool anyFailed) = 0;
};
