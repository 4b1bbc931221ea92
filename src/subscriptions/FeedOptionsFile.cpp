#include "subscriptions/FeedOptionsFile.h"

#include "platform/AtomicFile.h"
#include "platform/InputFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace corvane {

namespace {

constexpr int kVersion = 1;
// Far beyond any real list of choices; a bigger file is not ours.
constexpr std::uint64_t kLargestFile = 64 * 1024 * 1024;

Result<std::string> ReadWhole(const std::string& path)
{
    InputFile file;
    std::string reason;
    if (!file.Open(path, reason))
        return Result<std::string>::Failure(path + ": " + reason);
    if (file.Size() > kLargestFile)
        return Result<std::string>::Failure(path + ": too large for a file of feed choices");
    std::string bytes;
    char piece[65536];
    for (;;) {
        const long got = file.Read(piece, sizeof piece);
        if (got < 0)
            return Result<std::string>::Failure(path + ": cannot read: " + std::strerror(errno));
        if (got == 0)
            return bytes;
        bytes.append(piece, static_cast<std::size_t>(got));
    }
}

// The text of a choice as ApplyFeedOption takes it; empty when the member is absent.
std::string ChoiceText(const QJsonObject& entry, const char* name)
{
    const QJsonValue value = entry.value(QLatin1String(name));
    if (value.isDouble())
        return std::to_string(value.toInteger(-1));
    if (value.isString())
        return value.toString().toStdString();
    return value.isUndefined() ? std::string() : std::string("(not a text)");
}

// One entry into table; empty when taken, else what is wrong with it.
std::string ReadEntry(const QJsonValue& value, FeedOptionsTable& table)
{
    const QJsonObject entry = value.toObject();
    const std::string address = entry.value(QLatin1String("address")).toString().toStdString();
    if (!value.isObject() || address.empty())
        return "an entry without \"address\"";
    FeedOptions options;
    for (const char* name : {"podcast", "newest", "audio"}) {
        const std::string text = ChoiceText(entry, name);
        if (text.empty())
            continue;
        if (std::string error = ApplyFeedOption(options, name, text); !error.empty())
            return error + " (feed " + address + ")";
    }
    SetFeedOptionsOf(table, address, options);
    return {};
}

} // namespace

Result<FeedOptionsTable> ReadFeedOptionsFile(const std::string& path)
{
    std::error_code missing;
    if (std::filesystem::symlink_status(path, missing).type()
        == std::filesystem::file_type::not_found)
        return FeedOptionsTable();
    Result<std::string> bytes = ReadWhole(path);
    if (!bytes)
        return Result<FeedOptionsTable>::Failure(bytes.Error());
    QJsonParseError parseError;
    const QJsonDocument document
        = QJsonDocument::fromJson(QByteArray::fromStdString(bytes.Value()), &parseError);
    const auto failure = [&path](const std::string& what) {
        return Result<FeedOptionsTable>::Failure(path + ": not a file of feed choices: " + what);
    };
    if (document.isNull())
        return failure(parseError.errorString().toStdString());
    const QJsonObject top = document.object();
    if (!document.isObject() || !top.value(QLatin1String("feeds")).isArray())
        return failure("no list of \"feeds\"");
    if (top.value(QLatin1String("version")).toInt(0) > kVersion)
        return failure("written by a newer version of this program");
    FeedOptionsTable table;
    for (const QJsonValue& entry : top.value(QLatin1String("feeds")).toArray()) {
        if (const std::string error = ReadEntry(entry, table); !error.empty())
            return failure(error);
    }
    return table;
}

QJsonObject FeedOptionsJson(const FeedOptions& options)
{
    QJsonObject object;
    if (options.podcast)
        object.insert("podcast", QString::fromStdString(PodcastText(options.podcast)));
    if (options.newest)
        object.insert("newest", *options.newest);
    if (options.audio != FeedAudio::Default)
        object.insert("audio", QString::fromStdString(AudioText(options.audio)));
    return object;
}

std::string FeedOptionsDocumentText(const FeedOptionsTable& table)
{
    QJsonArray feeds;
    for (const auto& [address, options] : table) {
        QJsonObject entry = FeedOptionsJson(options);
        entry.insert("address", QString::fromStdString(address));
        feeds.append(entry);
    }
    const QJsonObject top {{"version", kVersion}, {"feeds", feeds}};
    return QJsonDocument(top).toJson(QJsonDocument::Indented).toStdString();
}

Result<void> WriteFeedOptionsFile(const std::string& path, const FeedOptionsTable& table)
{
    std::string error;
    if (!WriteFileAtomically(path, FeedOptionsDocumentText(table), error))
        return Result<void>::Failure(error);
    return {};
}

} // namespace corvane
