// CWebAccess: Corvane's only way onto the network. One synchronous HTTP GET per call, on the
// calling thread, through one libcurl easy handle per fetch.
//
// Requests go out as HTTP/1.0 GETs with the header block
//   Accept: application/*, text/*, image/*, audio/*, video/*
//   Cache-Control: no-cache
//   User-Agent: Velmora RSS Helper
// besides Host (and Authorization for user info, If-Modified-Since for a conditional download).
// The block's User-Agent line wins over the session's agent name, so every request carries the
// same User-Agent whichever caller made it (the agent name reaches only a proxy, in the CONNECT
// of an https fetch). No Accept-Encoding is sent, nothing is decoded.
//
// URLs are parsed with libcurl's URL parser after surrounding white space is trimmed: only http
// and https with a host are fetched (ports, user info, queries; spaces and bytes beyond ASCII are
// percent-encoded); no scheme, another scheme or a malformed URL is WEB_ERR_REQUEST and nothing
// is sent. Redirects are followed (at most 20, and only to http or https); the status examined is
// the final response's. https verifies certificates against the system's store. Proxies are the
// environment's (http_proxy, https_proxy, no_proxy).
//
// No fetch hangs forever: a connection that is not made within the connect time-out (30 s, or
// CORVANE_CONNECT_TIMEOUT seconds) and a transfer slower than 1 byte/s for the stall time-out
// (60 s, or CORVANE_STALL_TIMEOUT seconds) end the fetch with WEB_ERR_REQUEST. A stop requested
// through the stop token ends it within a second with WEB_ERR_REQUEST.
//
// Thread: one object per thread and use; objects are never shared.
#pragma once

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace corvane {

// Results of a fetch. Any other value is the HTTP status of a final response other than 200 (or
// 304, see DownloadUrl). Every caller treats anything but WEB_OK as failure.
constexpr int WEB_OK = 1; // status 200 and the whole body arrived
constexpr int WEB_ERR_REQUEST = -20; // no connection, a bad URL, a transfer error or cut-short
                                     // body, a time-out, a redirect loop, or a stop
constexpr int WEB_ERR_STATUS = -21; // a response came but its status line could not be read
                                    // (no status line at all, or one that is not HTTP)

// The described sentence that tells the user a fetch of address failed: "Failed to get
// <address>, please check the URL and the Internet connection." The update job, the channel
// properties and corvane-cli fetch all show it.
std::string FetchFailureText(const std::string& address);

// The name with which the temporary file of a download begins.
inline constexpr const char* DOWNLOAD_TEMPORARY_PREFIX = ".corvane-download-";

class CWebAccess {
public:
    // agentName identifies the client ("Velmora RSS Reader", or "RSS Reader" for the scheduled
    // update). The remaining arguments keep the described session's shape: context is always 1,
    // accessType 0 (the environment's proxy settings), no proxy name or bypass list, flags 0.
    explicit CWebAccess(std::string agentName, std::uintptr_t context = 1,
        std::uint32_t accessType = 0, const char* proxyName = nullptr,
        const char* proxyBypass = nullptr, std::uint32_t flags = 0);
    ~CWebAccess();
    CWebAccess(const CWebAccess&) = delete;
    CWebAccess& operator=(const CWebAccess&) = delete;

    // A stop requested on this token ends the running fetch (and refuses later ones) with
    // WEB_ERR_REQUEST, leaving no file behind. The update job's Cancel relies on it.
    void SetStopToken(std::stop_token stop);

    // Called from the fetching thread as bytes arrive: received so far, and the announced total
    // (0 when unknown). Optional. It should not throw; an exception it throws is caught and ends
    // the fetch with WEB_ERR_REQUEST.
    using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;
    void SetProgressCallback(ProgressCallback progress);

    // Fetches url into body. On WEB_OK body holds the whole response body (NUL bytes included);
    // on any other result body is left exactly as the caller passed it. The body is held in
    // memory: use DownloadUrl for bodies of unknown size (enclosures).
    int FetchUrl(std::string url, std::string& body);

    // Fetches url into the file at path. The body streams into a temporary file in the target's
    // folder, which is renamed over path only when the whole body arrived with status
    // 200 and at least one byte; memory stays bounded whatever the size. When path already
    // exists, the request carries If-Modified-Since with its modification time and a 304 answer
    // is WEB_OK leaving the file as it is; a downloaded file takes the server's Last-Modified as
    // its modification time. (A server that ignores the condition and answers 200 with a
    // Last-Modified not newer than the file is treated like a 304.) An empty file at path counts
    // as absent for the condition. On any result but WEB_OK, and on an empty 200 body, nothing
    // at path is created or changed.
    // A replaced file keeps its permission bits; a new one gets 0666 less the umask. A symbolic
    // link at path stays a link and the file it points to is replaced. A path that is not a
    // regular file, or whose folder cannot take a temporary file, is WEB_ERR_REQUEST before any
    // request is sent. The file is committed through an AtomicFile whose temporary
    // DOWNLOAD_TEMPORARY_PREFIX + "XXXXXX" stands in the target's folder, locked, only while the
    // download runs (a killed process leaves it for RemoveStaleTemporaries).
    int DownloadUrl(const std::string& url, const std::string& path);

    const std::string& AgentName() const { return agentName; }

    // True when the last DownloadUrl ended in WEB_OK because the file at its path was up to date
    // (304, or a Last-Modified not newer than the file), so the file was left as it was.
    bool LastWasNotModified() const { return lastNotModified; }

    // What went wrong in the last fetch that did not end in WEB_OK, in words ("Connection refused",
    // "the address is not an http or https URL", "HTTP status 404", ...); empty after WEB_OK.
    // For diagnostics only: callers show their described messages.
    const std::string& LastError() const { return lastError; }

    // The time-outs in force: CORVANE_CONNECT_TIMEOUT / CORVANE_STALL_TIMEOUT when they hold a
    // whole number of seconds from 1 to 86400, else 30 and 60. Read at every fetch.
    static long ConnectTimeoutSeconds();
    static long StallTimeoutSeconds();

private:
    struct Transfer;
    int Perform(const std::string& url, Transfer& transfer);
    // What the finished transfer's response with status means (handle: its CURL easy handle).
    int ExamineResponse(void* handle, long status, Transfer& transfer);

    std::string agentName;
    std::stop_token stopToken;
    ProgressCallback progressCallback;
    std::string lastError;
    bool lastNotModified = false;
};

} // namespace corvane
