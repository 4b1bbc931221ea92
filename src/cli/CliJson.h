// JSON output of corvane-cli: one object a run, on standard output, through QJsonDocument.
#pragma once

#include <QJsonObject>
#include <QString>

#include <string>

namespace corvane {

struct PackageRecord;

// UTF-8 text as a JSON string value: every maximal ill-formed subpart becomes U+FFFD, as
// everywhere else in the program, whatever Qt's own decoder would make of it.
QString JsonText(const std::string& utf8);

// One record of a package, the same in every command that lists records (inspect, update,
// repack): {"offset": where the record starts, "address": its name, "type": "feed", "mp3" or
// "amr" (RecordTypeName), "size": its data length in bytes}.
QJsonObject RecordJson(const PackageRecord& record);

// Prints object on one line on standard output and flushes it.
void PrintJson(const QJsonObject& object);

} // namespace corvane
