// The document: owns the subscription tree's root node and the OPML head read with it, and
// offers the readers of feed documents and OPML files.
//
// The readers are defined with the formats they read (formats/RssReader.cpp and
// formats/OutlineReader.cpp); they touch no document state apart from LoadSubscriptions, and
// several threads may read feeds at once.
#pragma once

#include "model/Records.h"

#include <cstddef>
#include <memory>
#include <string>

// A file that the user (or a download) names, opened for reading: the one way the readers here
// and the copies of the channels file open what they read. Owns its descriptor (closed with the
// object; move-only). Any thread.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Opens path (symbolic links followed) for reading, closing what was open before. Only a
    // regular file is taken: a FIFO, directory, device or socket is refused before a byte of it
    // is read, and the open itself never waits (a FIFO without a writer would block it for
    // ever). False on failure, with reason saying why in words without the path:
    // "cannot open: <errno text>" or "not a regular file (a FIFO)".
    bool Open(const std::string& path, std::string& reason);

    bool IsOpen() const { return fd >= 0; }

    // Up to size bytes into buffer (reads interrupted by a signal are repeated): the count, 0 at
    // the end of the file, -1 on an error (errno says which). Needs an open file.
    long Read(char* buffer, std::size_t size);

private:
    int fd = -1;
};

class CCorvaneDoc {
public:
    // An empty untitled root and an empty head; the document's title is "Velmora".
    CCorvaneDoc();

    std::unique_ptr<COutlineItem> root;
    std::unique_ptr<COutlineHead> head;
    std::string title = "Velmora";

    // Reads the feed document at path into a new CFeedChannel stored in channel (destroying what
    // it held). The slot holds a channel afterwards whatever happens. Returns 1 when the parse
    // succeeded, 0 when the file could not be opened (also when it is not a regular file, see
    // InputFile) or is not well-formed (what was read before the fault stays in the channel).
    static int ReadFeedFile(const std::string& path, std::unique_ptr<CFeedChannel>& channel);

    // Reads the OPML file at path into a new head and a new root titled "My Subscriptions",
    // stored in the two slots (destroying what they held) whatever happens. Returns 1 or 0 like
    // ReadFeedFile. When the file could not be opened or read (missing, no permission, not a
    // regular file), unreadable, when given, receives why in words without the path (as
    // InputFile gives them); it is left as it was otherwise, also for a malformed document.
    static int ReadOutlineFile(const std::string& path, std::unique_ptr<COutlineHead>& head,
                               std::unique_ptr<COutlineItem>& root,
                               std::string* unreadable = nullptr);

    // ReadOutlineFile into the document's own root and head.
    int LoadSubscriptions(const std::string& path);
};
