#include "cli/CliJson.h"

#include "platform/Utf8.h"
#include "update/Package.h"
#include "update/PackageReader.h"

#include <QJsonDocument>

#include <cstdio>

namespace corvane {

QString JsonText(const std::string& utf8)
{
    const std::string repaired = RepairUtf8(utf8);
    return QString::fromUtf8(repaired.data(), static_cast<qsizetype>(repaired.size()));
}

QJsonObject RecordJson(const PackageRecord& record)
{
    return QJsonObject {{"offset", static_cast<qint64>(record.offset)},
        {"address", JsonText(record.name)}, {"type", RecordTypeName(record.type)},
        {"size", static_cast<qint64>(record.dataLength)}};
}

void PrintJson(const QJsonObject& object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace corvane
