// JSON output of corvane-cli: one object a run, on standard output, through QJsonDocument.
#pragma once

#include <QJsonObject>
#include <QString>

#include <string>

namespace corvane {

// UTF-8 text as a JSON string value: every maximal ill-formed subpart becomes U+FFFD, as
// everywhere else in the program, whatever Qt's own decoder would make of it.
QString JsonText(const std::string& utf8);

// Prints object on one line on standard output and flushes it.
void PrintJson(const QJsonObject& object);

} // namespace corvane
