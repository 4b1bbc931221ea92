#include "update/LastRun.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"
#include "platform/Paths.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QString>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace corvane {

namespace {

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string S(const QJsonValue& value)
{
    return value.toString().toStdString();
}

QJsonObject ToJson(const LastRun& run)
{
    QJsonArray failures;
    for (const UpdateFailure& failure : run.failures)
        failures.append(
            QJsonObject {{"address", Q(failure.address)}, {"reason", Q(failure.reason)}});
    return QJsonObject {
        {"time", static_cast<qint64>(run.time)},
        {"program", Q(run.program)},
        {"kind", Q(run.kind)},
        {"exitStatus", run.exitStatus},
        {"packageWritten", run.packageWritten},
        {"packageSize", static_cast<qint64>(run.packageSize)},
        {"package", Q(run.packagePath)},
        {"message", Q(run.message)},
        {"failures", failures},
        {"fullUpdate", run.fullUpdate},
        {"lastFullUpdate", static_cast<qint64>(run.lastFullUpdate)},
    };
}

LastRun FromJson(const QJsonObject& object)
{
    LastRun run;
    run.time = object.value("time").toInteger();
    run.program = S(object.value("program"));
    run.kind = S(object.value("kind"));
    run.exitStatus = object.value("exitStatus").toInt();
    run.packageWritten = object.value("packageWritten").toBool();
    run.packageSize = static_cast<std::uint64_t>(object.value("packageSize").toInteger());
    run.packagePath = S(object.value("package"));
    run.message = S(object.value("message"));
    for (const QJsonValue& failure : object.value("failures").toArray())
        run.failures.push_back(
            {S(failure.toObject().value("address")), S(failure.toObject().value("reason"))});
    const QJsonValue full = object.value("fullUpdate");
    run.fullUpdate = full.isBool() ? full.toBool() : run.kind != "Re-Pack" && run.packageWritten;
    const QJsonValue last = object.value("lastFullUpdate");
    run.lastFullUpdate = last.isDouble() ? last.toInteger() : run.fullUpdate ? run.time : 0;
    return run;
}

std::string SizeText(std::uint64_t bytes)
{
    char text[48];
    if (bytes < 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

std::string LocalTimeText(std::int64_t seconds)
{
    const QDateTime when = QDateTime::fromSecsSinceEpoch(seconds);
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

// "https://a/feed (HTTP status 404)", or the reason alone for the package's own failure.
std::string FailureLine(const UpdateFailure& failure)
{
    if (failure.address.empty())
        return failure.reason;
    return failure.address + (failure.reason.empty() ? "" : " (" + failure.reason + ")");
}

// The record's bytes. False with reason empty when there is no record, else with why not.
bool ReadRecord(const std::string& path, std::string& bytes, std::string& reason)
{
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT)
        return false;
    InputFile file;
    if (!file.Open(path, reason))
        return false;
    constexpr std::uint64_t kLargest = 1 << 20; // a record is a few hundred bytes
    if (file.Size() > kLargest) {
        reason = "larger than a record can be";
        return false;
    }
    char buffer[4096];
    for (long count; (count = file.Read(buffer, sizeof buffer)) != 0;) {
        if (count < 0) {
            reason = std::strerror(errno);
            return false;
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return true;
}

} // namespace

int RunExitStatus(const UpdateJobResult& result, bool interrupted)
{
    if (interrupted || result.cancelled)
        return RUN_INTERRUPTED;
    if (result.folderBusy)
        return RUN_FOLDER_BUSY;
    if (!result.packageWritten)
        return RUN_NOT_WRITTEN;
    return result.anyFailed ? RUN_PARTLY_FAILED : RUN_DONE;
}

LastRun LastRunOf(const UpdateJobResult& result, const std::string& program,
    const std::string& kind, const std::string& packagePath, bool interrupted, bool wholeTree)
{
    LastRun run;
    run.time = static_cast<std::int64_t>(std::time(nullptr));
    run.program = program;
    run.kind = kind;
    run.exitStatus = RunExitStatus(result, interrupted);
    run.packageWritten = result.packageWritten;
    run.packageSize = result.packageSize;
    run.packagePath = packagePath;
    run.message = run.exitStatus == RUN_INTERRUPTED ? "Cancelled; the previous package was kept."
                                                    : result.finalText;
    run.failures = result.failures;
    run.fullUpdate = wholeTree && result.packageWritten;
    return run;
}

std::string LastRunPath()
{
    return GetProgramFolder() + "last-update.json";
}

Result<void> WriteLastRun(const LastRun& given)
{
    LastRun run = given;
    if (run.fullUpdate)
        run.lastFullUpdate = run.time;
    else if (const std::optional<LastRun> previous = ReadLastRun())
        run.lastFullUpdate = std::max(run.lastFullUpdate, previous->lastFullUpdate);
    const QByteArray bytes = QJsonDocument(ToJson(run)).toJson(QJsonDocument::Indented);
    std::string error;
    if (!WriteFileAtomically(LastRunPath(), std::string_view(bytes.data(), bytes.size()), error))
        return Result<void>::Failure(error);
    return {};
}

std::optional<LastRun> ReadLastRun(std::string* error)
{
    const std::string path = LastRunPath();
    if (error)
        error->clear();
    std::string bytes;
    if (std::string reason; !ReadRecord(path, bytes, reason)) {
        if (error && !reason.empty())
            *error = "cannot read the last update's record " + path + ": " + reason;
        return std::nullopt;
    }
    QJsonParseError parse {};
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray::fromStdString(bytes), &parse);
    if (!document.isObject()) {
        if (error)
            *error = "cannot read the last update's record " + path + ": "
                + (parse.error == QJsonParseError::NoError ? std::string("not a JSON object")
                                                           : parse.errorString().toStdString());
        return std::nullopt;
    }
    return FromJson(document.object());
}

std::string LastRunText(const LastRun& run)
{
    std::string text = "Last run: " + LocalTimeText(run.time) + ", " + run.kind + " by "
        + run.program + ", exit status " + std::to_string(run.exitStatus) + "\n";
    if (!run.message.empty())
        text += "  " + run.message + "\n";
    if (run.packageWritten)
        text += "  Package: " + run.packagePath + " (" + std::to_string(run.packageSize)
            + " bytes)\n";
    for (const UpdateFailure& failure : run.failures)
        text += "  Failed: " + FailureLine(failure) + "\n";
    return text;
}

UpdateNotice UpdateNoticeOf(const UpdateJobResult& result, const std::string& packagePath)
{
    UpdateNotice notice;
    if (result.cancelled) {
        notice.summary = "Corvane: update cancelled";
        notice.body = "The previous package was kept.";
        return notice;
    }
    if (!result.packageWritten) {
        notice.summary = "Corvane: the package was not written";
        notice.body = result.finalText.empty() ? result.packageError : result.finalText;
        return notice;
    }
    const std::string size
        = SizeText(result.packageSize) + " (" + std::to_string(result.packageSize) + " bytes)";
    if (!result.anyFailed) {
        notice.summary = "Corvane: feeds updated";
        notice.body = "The package " + packagePath + " is ready for the phone: " + size + ".";
        return notice;
    }
    notice.summary = "Corvane: feeds updated, some failed";
    notice.body = "The package " + packagePath + " was written: " + size + ".";
    constexpr std::size_t kNamed = 5; // a notification shows a few lines, not a log
    for (std::size_t i = 0; i < result.failures.size() && i < kNamed; ++i)
        notice.body += "\nFailed: " + FailureLine(result.failures[i]);
    if (result.failures.size() > kNamed)
        notice.body += "\nand " + std::to_string(result.failures.size() - kNamed) + " more";
    return notice;
}

bool HeadlessRunNotifies(const char* notifySetting, const char* invocationId)
{
    if (notifySetting && *notifySetting)
        return std::string_view(notifySetting) != "0";
    return invocationId && *invocationId;
}

} // namespace corvane
