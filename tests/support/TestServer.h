// TestServer: an in-process HTTP server on 127.0.0.1 for tests and benches. Nothing leaves the
// machine.
//
// The constructor binds an ephemeral port on 127.0.0.1 and starts serving on its own threads;
// requests can be made as soon as it returns. The destructor wakes every handler that is still
// sleeping (delays, stalls, slow bodies), stops the server and joins its thread.
//
// Endpoints are matched on the exact path, without the query string; a later registration on the
// same path replaces the earlier one. A path without an endpoint answers 404 with an empty body.
// Range headers are left to the endpoint: the library's own range answering is off, so every
// endpoint but ServeRanges answers a range request as a server without range support does, with
// its whole body and its own status.
// Every request is recorded (method, version, target, query, headers) under its path, whether or
// not an endpoint exists, so tests can check what a client sent.
//
// Thread: registration and the query functions may be called from any thread, also while
// requests are in flight. Handlers run on the server's worker threads.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TestServer {
public:
    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    // One request as the server saw it.
    struct RecordedRequest {
        std::string method; // "GET"
        std::string version; // "HTTP/1.0"
        std::string target; // the request target as sent, query included
        std::string query; // the part after '?', empty when none
        httplib::Headers headers; // as sent (the library's LOCAL_/REMOTE_ entries removed)
    };

    // Listens on a free port of 127.0.0.1, or on port (one that a server of a moment ago had:
    // the network "comes up"), answering on threads worker threads. A connection a client keeps
    // open holds its thread until it idles for a second; the default leaves room for a job's
    // connections to one host and the idle ones its workers keep.
    explicit TestServer(int port = 0, std::size_t threads = 24);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return port; }
    // "http://127.0.0.1:<port>" + path.
    std::string Url(const std::string& path) const;

    // A fixed answer: status, body, content type.
    void Serve(const std::string& path, std::string body,
        std::string contentType = "application/octet-stream", int status = 200);
    // The file's bytes, read in pieces as they are sent (for large bodies), with Content-Length.
    void ServeFile(const std::string& path, const std::string& filePath, std::string contentType);
    // A redirect answer with Location: target (a full URL or a path).
    void Redirect(const std::string& path, const std::string& target, int status = 302);
    // Full control.
    void Handle(const std::string& path, Handler handler);
    // Waits this long before the endpoint answers (no byte is sent meanwhile).
    void SetDelay(const std::string& path, std::chrono::milliseconds delay);

    // Ready-made misbehaviours.
    // Announces announcedLength in Content-Length, sends body (shorter), then drops the connection.
    void ServeCutShort(const std::string& path, std::string body, std::size_t announcedLength);
    // Sends the headers and the first `sentBefore` bytes of body, then nothing for `stall`, then
    // the rest.
    void ServeStall(const std::string& path, std::string body, std::size_t sentBefore,
        std::chrono::milliseconds stall);
    // Sends body in pieces of pieceSize bytes with `pause` between pieces.
    void ServeSlow(const std::string& path, std::string body, std::size_t pieceSize,
        std::chrono::milliseconds pause);
    // Serves body with Last-Modified: lastModified (seconds since the epoch, UTC). A request whose
    // If-Modified-Since is not earlier than lastModified gets 304 with no body.
    void ServeWithLastModified(const std::string& path, std::string body, std::time_t lastModified,
        std::string contentType = "application/octet-stream");
    // A file served the way a server with range support serves it. Every answer carries Date
    // (now), and ETag: etag and Last-Modified: lastModified unless they are empty / -1. A request
    // with "Range: bytes=<first>-" whose If-Range, if it has one, is the ETag or the Last-Modified
    // date gets 206 with Content-Range "bytes <first>-<size - 1>/<size>" and the rest of body, or
    // 416 with "Content-Range: bytes */<size>" when first is not within body. Every other request
    // gets 200 with the whole body. The first cutAnswers answers send only the first cutAfter
    // bytes of the body they announce, then drop the connection.
    void ServeRanges(const std::string& path, std::string body, std::string etag,
        std::time_t lastModified = -1, int cutAnswers = 0, std::size_t cutAfter = 0);

    // Requests seen on path.
    int Hits(const std::string& path) const;
    // The header blocks clients sent on path, in arrival order.
    std::vector<httplib::Headers> RequestHeaders(const std::string& path) const;
    // Everything recorded about the requests on path, in arrival order.
    std::vector<RecordedRequest> Requests(const std::string& path) const;

    // Sleeps for `duration` unless the server is being destroyed; false when woken by that.
    // For custom handlers that stall.
    bool Sleep(std::chrono::milliseconds duration) const;

    // An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT") and back; -1 when it cannot be read.
    static std::string FormatHttpDate(std::time_t time);
    static std::time_t ParseHttpDate(const std::string& text);

private:
    void Dispatch(const httplib::Request& request, httplib::Response& response);

    httplib::Server server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    mutable std::condition_variable wake;
    bool stopping = false;
    bool poolStarted = false; // the worker threads exist
    std::map<std::string, Handler> handlers;
    std::map<std::string, std::chrono::milliseconds> delays;
    std::map<std::string, std::vector<RecordedRequest>> requests;
};
