// JSON output of corvane-cli: one object a run, on standard output, through QJsonDocument.
#pragma once

#include <QJsonObject>
#include <QString>

#include <string>

namespace corvane {

struct PackageRecord;
struct FeedOptions;

// UTF-8 text as a JSON string value: every maximal ill-formed subpart becomes U+FFFD, as
// everywhere else in the program, whatever Qt's own decoder would make of it.
QString JsonText(const std::string& utf8);

// One record of a package, the same in every command that lists records (inspect, update,
// repack): {"offset": where the record starts, "address": its name, "type": "feed", "mp3" or
// "amr" (RecordTypeName), "size": its data length in bytes}.
QJsonObject RecordJson(const PackageRecord& record);

// A feed's own choices, the set ones only: {"podcast": "off", "newest": 2, "audio": "mp3"}; an
// empty object when it has none. The same in list, feed-options and episodes.
QJsonObject FeedOptionsJson(const FeedOptions& options);

// Prints object on one line on standard output and flushes it.
void PrintJson(const QJsonObject& object);

} // namespace corvane
