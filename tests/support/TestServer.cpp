#include "TestServer.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace {

constexpr std::size_t FilePieceSize = 256 * 1024;

// The first byte of "bytes=<first>-", or false for any other Range.
bool OpenRangeStart(const std::string& range, std::size_t& first)
{
    const std::string unit = "bytes=";
    if (range.compare(0, unit.size(), unit) != 0 || range.size() < unit.size() + 2
        || range.back() != '-')
        return false;
    const std::string digits = range.substr(unit.size(), range.size() - unit.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    first = static_cast<std::size_t>(std::stoull(digits));
    return true;
}

std::string QueryOf(const std::string& target)
{
    const auto mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

} // namespace

TestServer::TestServer(int wantedPort, std::size_t threads)
{
    // A connection kept open holds a worker thread until it idles for the keep-alive time-out,
    // which is short so that idle ones end soon.
    server.new_task_queue = [this, threads] {
        auto* pool = new httplib::ThreadPool(threads);
        {
            std::lock_guard lock(mutex);
            poolStarted = true;
        }
        wake.notify_all();
        return pool;
    };
    server.set_keep_alive_timeout(1);
    server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
        Dispatch(request, response);
    });
    port = wantedPort > 0 ? (server.bind_to_port("127.0.0.1", wantedPort) ? wantedPort : -1)
                          : server.bind_to_any_port("127.0.0.1");
    if (port <= 0)
        throw std::runtime_error("TestServer: cannot bind a port on 127.0.0.1");
    thread = std::thread([this] { server.listen_after_bind(); });
    // The socket already listens, so connections queue; but stop() only takes effect once the
    // accept loop runs, so wait for it or a quick destructor would leave the thread blocked.
    for (int tries = 0; !server.is_running() && tries < 5000; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The worker threads start after the loop reports running; a test that counts this
    // process's threads must not see them still appear.
    std::unique_lock lock(mutex);
    wake.wait_for(lock, std::chrono::seconds(5), [this] { return poolStarted; });
}

TestServer::~TestServer()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    server.stop();
    if (thread.joinable())
        thread.join();
}

std::string TestServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

void TestServer::Dispatch(const httplib::Request& request, httplib::Response& response)
{
    Handler handler;
    std::chrono::milliseconds delay {0};
    {
        std::lock_guard lock(mutex);
        RecordedRequest record {request.method, request.version, request.target,
            QueryOf(request.target), request.headers};
        // cpp-httplib files the socket's addresses among the headers; no client sent them.
        for (const char* added : {"LOCAL_ADDR", "LOCAL_PORT", "REMOTE_ADDR", "REMOTE_PORT"})
            record.headers.erase(added);
        requests[request.path].push_back(std::move(record));
        if (auto found = handlers.find(request.path); found != handlers.end())
            handler = found->second;
        if (auto found = delays.find(request.path); found != delays.end())
            delay = found->second;
    }
    // cpp-httplib would cut any body to a requested range, also one sent with status 200, which
    // no real server does; the request is the server's own object, not a constant.
    const_cast<httplib::Request&>(request).ranges.clear();
    // cpp-httplib answers HTTP/1.1 and offers keep-alive even to a 1.0 client that did not ask
    // for it; say plainly that the connection ends.
    if (request.version == "HTTP/1.0" && request.get_header_value("Connection") != "keep-alive")
        response.set_header("Connection", "close");
    if (delay.count() > 0 && !Sleep(delay))
        return;
    if (!handler) {
        response.status = 404;
        return;
    }
    handler(request, response);
}

bool TestServer::Sleep(std::chrono::milliseconds duration) const
{
    std::unique_lock lock(mutex);
    return !wake.wait_for(lock, duration, [this] { return stopping; });
}

void TestServer::Handle(const std::string& path, Handler handler)
{
    std::lock_guard lock(mutex);
    handlers[path] = std::move(handler);
}

void TestServer::SetDelay(const std::string& path, std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex);
    delays[path] = delay;
}

void TestServer::Serve(
    const std::string& path, std::string body, std::string contentType, int status)
{
    Handle(path,
        [body = std::move(body), contentType = std::move(contentType), status](
            const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(body, contentType.c_str());
        });
}

void TestServer::ServeFile(
    const std::string& path, const std::string& filePath, std::string contentType)
{
    Handle(path,
        [filePath, contentType = std::move(contentType)](
            const httplib::Request&, httplib::Response& response) {
            auto file = std::make_shared<std::ifstream>(filePath, std::ios::binary);
            if (!*file) {
                response.status = 500;
                return;
            }
            file->seekg(0, std::ios::end);
            const auto size = static_cast<std::size_t>(file->tellg());
            file->seekg(0);
            auto buffer = std::make_shared<std::vector<char>>(FilePieceSize);
            response.set_content_provider(size, contentType,
                [file, buffer](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    file->seekg(static_cast<std::streamoff>(offset));
                    const auto want = std::min(length, buffer->size());
                    file->read(buffer->data(), static_cast<std::streamsize>(want));
                    const auto got = static_cast<std::size_t>(file->gcount());
                    return got > 0 && sink.write(buffer->data(), got);
                });
        });
}

void TestServer::Redirect(const std::string& path, const std::string& target, int status)
{
    Handle(path, [target, status](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_header("Location", target);
    });
}

void TestServer::ServeCutShort(
    const std::string& path, std::string body, std::size_t announcedLength)
{
    auto shared = std::make_shared<const std::string>(std::move(body));
    Handle(path, [shared, announcedLength](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(announcedLength, "application/octet-stream",
            [shared](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                if (offset >= shared->size())
                    return false; // drops the connection before the announced length
                return sink.write(shared->data() + offset, shared->size() - offset);
            });
    });
}

void TestServer::ServeStall(const std::string& path, std::string body, std::size_t sentBefore,
    std::chrono::milliseconds stall)
{
    auto shared = std::make_shared<const std::string>(std::move(body));
    sentBefore = std::min(sentBefore, shared->size());
    Handle(path,
        [this, shared, sentBefore, stall](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(shared->size(), "application/octet-stream",
                [this, shared, sentBefore, stall](
                    std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset < sentBefore)
                        return sink.write(shared->data() + offset, sentBefore - offset);
                    if (!Sleep(stall))
                        return false;
                    return sink.write(shared->data() + offset, shared->size() - offset);
                });
        });
}

void TestServer::ServeSlow(const std::string& path, std::string body, std::size_t pieceSize,
    std::chrono::milliseconds pause)
{
    auto shared = std::make_shared<const std::string>(std::move(body));
    pieceSize = std::max<std::size_t>(pieceSize, 1);
    Handle(path,
        [this, shared, pieceSize, pause](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(shared->size(), "application/octet-stream",
                [this, shared, pieceSize, pause](
                    std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset > 0 && !Sleep(pause))
                        return false;
                    const auto count = std::min(pieceSize, shared->size() - offset);
                    return sink.write(shared->data() + offset, count);
                });
        });
}

void TestServer::ServeWithLastModified(
    const std::string& path, std::string body, std::time_t lastModified, std::string contentType)
{
    Handle(path,
        [body = std::move(body), lastModified, contentType = std::move(contentType)](
            const httplib::Request& request, httplib::Response& response) {
            response.set_header("Last-Modified", FormatHttpDate(lastModified));
            if (request.has_header("If-Modified-Since")) {
                const auto since = ParseHttpDate(request.get_header_value("If-Modified-Since"));
                if (since != -1 && since >= lastModified) {
                    response.status = 304;
                    return;
                }
            }
            response.set_content(body, contentType.c_str());
        });
}

void TestServer::ServeRanges(const std::string& path, std::string body, std::string etag,
    std::time_t lastModified, int cutAnswers, std::size_t cutAfter)
{
    auto shared = std::make_shared<const std::string>(std::move(body));
    auto cutsLeft = std::make_shared<std::atomic<int>>(cutAnswers);
    Handle(path,
        [shared, etag, lastModified, cutsLeft, cutAfter](
            const httplib::Request& request, httplib::Response& response) {
            const std::string modified = lastModified == -1 ? "" : FormatHttpDate(lastModified);
            response.set_header("Date", FormatHttpDate(std::time(nullptr)));
            if (!etag.empty())
                response.set_header("ETag", etag);
            if (!modified.empty())
                response.set_header("Last-Modified", modified);
            const std::string ifRange = request.get_header_value("If-Range");
            const bool current = !request.has_header("If-Range")
                || (!ifRange.empty() && (ifRange == etag || ifRange == modified));
            std::size_t first = 0;
            const bool ranged = current && request.has_header("Range")
                && OpenRangeStart(request.get_header_value("Range"), first);
            if (ranged && first >= shared->size()) {
                response.status = 416;
                response.set_header("Content-Range", "bytes */" + std::to_string(shared->size()));
                return;
            }
            if (!ranged)
                first = 0;
            response.status = ranged ? 206 : 200;
            if (ranged)
                response.set_header("Content-Range",
                    "bytes " + std::to_string(first) + "-" + std::to_string(shared->size() - 1)
                        + "/" + std::to_string(shared->size()));
            // Cut answers stop after cutAfter bytes of what they announce.
            const std::size_t length = shared->size() - first;
            const std::size_t sent
                = cutsLeft->fetch_sub(1) > 0 ? std::min(cutAfter, length) : length;
            response.set_content_provider(length, "application/octet-stream",
                [shared, first, sent](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset >= sent)
                        return false; // drops the connection before the announced length
                    return sink.write(shared->data() + first + offset, sent - offset);
                });
        });
}

int TestServer::Hits(const std::string& path) const
{
    std::lock_guard lock(mutex);
    const auto found = requests.find(path);
    return found == requests.end() ? 0 : static_cast<int>(found->second.size());
}

std::vector<httplib::Headers> TestServer::RequestHeaders(const std::string& path) const
{
    std::vector<httplib::Headers> result;
    for (auto& request : Requests(path))
        result.push_back(std::move(request.headers));
    return result;
}

std::vector<TestServer::RecordedRequest> TestServer::Requests(const std::string& path) const
{
    std::lock_guard lock(mutex);
    const auto found = requests.find(path);
    return found == requests.end() ? std::vector<RecordedRequest>() : found->second;
}

std::string TestServer::FormatHttpDate(std::time_t time)
{
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm parts {};
    gmtime_r(&time, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[parts.tm_wday],
        parts.tm_mday, months[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour, parts.tm_min,
        parts.tm_sec);
    return text;
}

std::time_t TestServer::ParseHttpDate(const std::string& text)
{
    static const char* const months[]
        = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char day[4] = {}, month[4] = {};
    std::tm parts {};
    if (std::sscanf(text.c_str(), "%3s, %d %3s %d %d:%d:%d GMT", day, &parts.tm_mday, month,
            &parts.tm_year, &parts.tm_hour, &parts.tm_min, &parts.tm_sec)
        != 7)
        return -1;
    const auto found = std::find_if(std::begin(months), std::end(months),
        [&](const char* name) { return std::string(name) == month; });
    if (found == std::end(months))
        return -1;
    parts.tm_mon = static_cast<int>(found - std::begin(months));
    parts.tm_year -= 1900;
    return timegm(&parts);
}
