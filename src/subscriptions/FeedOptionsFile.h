// The file of per-feed choices, beside the channels file: GetFeedOptionsFilePath(), a small JSON
// document that only this program reads. The channels file travels to the phone byte for byte
// and so never holds them.
//
//     {"version": 1, "feeds": [{"address": "http://a/feed", "podcast": "off",
//                               "newest": 2, "audio": "mp3"}]}
//
// Each entry has its address and the choices it sets (the text forms of model/FeedOptions.h;
// "newest" a number); what it leaves out follows the global setting.
//
// Thread: any; each call opens the file anew.
#pragma once

#include "model/FeedOptions.h"
#include "platform/Result.h"

#include <QJsonObject>

#include <string>

namespace corvane {

// The choices in the file at path. A missing file is an empty table. A file that cannot be read
// or that is not such a document (not JSON, an entry without address, a value out of range) is
// a failure naming the file and what is wrong; nothing of it is taken, so that a save never
// replaces choices the user made by hand with fewer.
Result<FeedOptionsTable> ReadFeedOptionsFile(const std::string& path);

// A feed's choices as the file holds them, the set ones only: {"podcast": "off", "newest": 2,
// "audio": "mp3"}; an empty object when it has none. The command line shows them so too.
QJsonObject FeedOptionsJson(const FeedOptions& options);

// The document for table (addresses in order). An empty table gives a document without feeds.
std::string FeedOptionsDocumentText(const FeedOptionsTable& table);

// Writes FeedOptionsDocumentText(table) to path through the atomic commit; a failure names the
// file and the reason.
Result<void> WriteFeedOptionsFile(const std::string& path, const FeedOptionsTable& table);

} // namespace corvane
