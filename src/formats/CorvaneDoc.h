// The document: owns the subscription tree's root node and the OPML head read with it, and
// offers the readers of feed documents and OPML files.
//
// The readers are defined with the formats they read (formats/RssReader.cpp and
// formats/OutlineReader.cpp); they touch no document state apart from LoadSubscriptions, and
// several threads may read feeds at once.
#pragma once

#include "model/FeedOptions.h"
#include "model/Records.h"

#include <memory>
#include <string>

namespace corvane {

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
    // platform/InputFile.h) or is not well-formed (what was read before the fault stays in the
    // channel).
    static int ReadFeedFile(const std::string& path, std::unique_ptr<CFeedChannel>& channel);

    // Reads the OPML file at path into a new head and a new root titled "My Subscriptions",
    // stored in the two slots (destroying what they held) whatever happens. Returns 1 or 0 like
    // ReadFeedFile. When the file could not be opened or read (missing, no permission, not a
    // regular file), unreadable, when given, receives why in words without the path (as
    // InputFile gives them); it is left as it was otherwise, also for a malformed document.
    // feedOptions, when given, receives the feeds' own choices the file carries (see
    // formats/OutlineReader.h).
    static int ReadOutlineFile(const std::string& path, std::unique_ptr<COutlineHead>& head,
        std::unique_ptr<COutlineItem>& root, std::string* unreadable = nullptr,
        FeedOptionsTable* feedOptions = nullptr);

    // ReadOutlineFile into the document's own root and head.
    int LoadSubscriptions(const std::string& path);
};

} // namespace corvane
