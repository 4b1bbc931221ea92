// CWebAccess: Corvane's only way onto the network. One synchronous HTTP GET per attempt, on the
// calling thread, through one libcurl easy handle per request.
//
// Requests go out as HTTP/1.1 GETs (so that a connection can serve the next request, see
// SetSharing; chunked answers are taken in) with the header block
//   Accept: application/*, text/*, image/*, audio/*, video/*
//   Cache-Control: no-cache
//   User-Agent: Velmora RSS Helper
// besides Host (and Authorization for user info, If-Modified-Since for a conditional download,
// Range and If-Range for a resumed one). The block's User-Agent line wins over the session's agent
// name, so every request carries the same User-Agent whichever caller made it (the agent name
// reaches only a proxy, in the CONNECT of an https fetch). No Accept-Encoding is sent, nothing is
// decoded.
//
// URLs are parsed with libcurl's URL parser after surrounding white space is trimmed: only http
// and https with a host are fetched (ports, user info, queries; spaces and bytes beyond ASCII are
// percent-encoded); an address without a scheme ("example.com/feed.xml") is taken as http;
// another scheme or a malformed URL is WEB_ERR_REQUEST and nothing is sent. Redirects are followed
// (at most 20, and only to http or https); the status examined is the final response's. https
// verifies certificates against the system's store. Proxies are the environment's (http_proxy,
// https_proxy, no_proxy).
//
// No fetch hangs forever: a connection that is not made within the connect time-out (30 s, or
// CORVANE_CONNECT_TIMEOUT seconds) and a transfer slower than the floor rate (1 byte/s unless
// SetFloorRate says more) for the stall time-out (60 s, or CORVANE_STALL_TIMEOUT seconds) end
// the attempt with WEB_ERR_REQUEST, a transient failure (a resumable download keeps its partial). A
// stop requested through the stop token ends the fetch within a second with WEB_ERR_REQUEST, also
// while it pauses before a retry.
//
// Retries are off unless SetRetryPolicy asks for them; resuming is off unless SetResumable asks
// for it. Without either, every call is exactly one request.
//
// Thread: one object per thread and use; objects are never shared.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace corvane {

class AtomicFile;
class CConnectionCache;
class CWebShare;
class PartialDownload;

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

// The name with which the partial file of a resumable download begins: the partial of
// "<folder>/<name>" is "<folder>/" + PARTIAL_DOWNLOAD_PREFIX + "<name>", and its metadata is the
// partial's path + PARTIAL_METADATA_SUFFIX. Both are mode 0600.
inline constexpr const char* PARTIAL_DOWNLOAD_PREFIX = ".corvane-partial-";
inline constexpr const char* PARTIAL_METADATA_SUFFIX = ".meta";

// The partial file and the metadata file of a download into targetPath (a path whose links are
// already resolved: the partial stands beside the file the download replaces).
std::string PartialDownloadPath(const std::string& targetPath);
std::string PartialMetadataPath(const std::string& targetPath);

// How often and after which pauses a fetch that failed transiently is tried again (see
// CWebAccess::LastFailureIsTransient). A default-constructed policy is the one of the update job:
// 3 retries after 1 s, 2 s and 4 s.
struct RetryPolicy {
    int retries = 3; // attempts after the first; 0 or less: none
    std::chrono::milliseconds firstPause {1000}; // doubled before each further retry
    std::chrono::milliseconds maximumPause {60000}; // no pause is longer, Retry-After or not

    // The pause before retry number retry (1 for the first): firstPause doubled retry - 1 times,
    // at least retryAfter when the failed response asked for that, never above maximumPause, never
    // below 0.
    std::chrono::milliseconds PauseBefore(
        int retry, std::optional<std::chrono::seconds> retryAfter) const;

    // RetryPolicy{} with firstPause from CORVANE_RETRY_PAUSE_MS and maximumPause from
    // CORVANE_RETRY_MAX_PAUSE_MS when they hold a whole number of milliseconds from 0 to 86400000
    // (tests shorten the pauses this way); otherwise the defaults. Read at every call.
    static RetryPolicy FromEnvironment();
    // No retries: one attempt per call. What a CWebAccess does until told otherwise.
    static RetryPolicy None();
};

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
    // WEB_ERR_REQUEST, leaving no file behind at the target (a resumable download may keep its
    // partial file, see SetResumable). A pause before a retry ends at once. The update job's
    // Cancel relies on it.
    void SetStopToken(std::stop_token stop);

    // Called from the fetching thread as bytes arrive: received so far, and the announced total
    // (0 when unknown). Optional. It should not throw; an exception it throws is caught and ends
    // the fetch with WEB_ERR_REQUEST. A resumed download counts the bytes it already had, so
    // received and total are those of the whole file; a retry or a restart counts from its own
    // start again.
    using ProgressCallback = std::function<void(std::uint64_t received, std::uint64_t total)>;
    void SetProgressCallback(ProgressCallback progress);

    // Called on the fetching thread just before a downloaded file replaces the one at
    // DownloadUrl's target; it may wait. A stop requested by then leaves the target as it was
    // (the fetch was stopped). The update job holds its cache unchanged this way until it has
    // stored that the cache is about to change. Optional.
    void SetBeforeCommit(std::function<void()> wait);

    // Retries for FetchUrl and DownloadUrl: after an attempt whose failure is transient
    // (LastFailureIsTransient), the call waits policy.PauseBefore(n, LastRetryAfter()) and tries
    // again, up to policy.retries times; the result, LastError and the other Last... accessors are
    // then those of the last attempt. Any other failure, or WEB_OK, ends the call at once. A stop
    // during a pause ends the call with WEB_ERR_REQUEST ("the fetch was stopped"). Default:
    // RetryPolicy::None().
    void SetRetryPolicy(RetryPolicy policy);
    const RetryPolicy& GetRetryPolicy() const { return retryPolicy; }

    // Whether DownloadUrl keeps what a broken-off transfer received, to continue from there next
    // time. Off by default. See DownloadUrl.
    void SetResumable(bool resumable);

    // What the fetches share (net/ConnectionSharing.h): share, the job's name cache and TLS
    // sessions; connections, the calling thread's open connections, which a fetch to a server
    // they hold reuses and which keep the fetch's connection for the thread's next fetch. Either
    // may be null (the default: a fetch opens and closes its own connection). Not owned; both
    // must outlive the fetches, and connections belongs to the thread that fetches.
    void SetSharing(CWebShare* share, CConnectionCache* connections);

    // The floor rate in bytes per second (at least 1, the default): a transfer that stays below
    // it for the stall time-out fails as transient. Keeps a server that trickles from holding an
    // update (and its lock) for hours.
    void SetFloorRate(long bytesPerSecond);

    // Fetches url into body. On WEB_OK body holds the whole response body (NUL bytes included);
    // on any other result body is left exactly as the caller passed it. The body is held in
    // memory: use DownloadUrl for bodies of unknown size (enclosures).
    int FetchUrl(std::string url, std::string& body);

    // Fetches url into the file at path. The body streams into a temporary file in the target's
    // folder, which is renamed over path only when the whole body arrived with status
    // 200 and at least one byte; memory stays bounded whatever the size. When path already
    // exists, the request carries If-Modified-Since with its modification time and a 304 answer
    // is WEB_OK leaving the file as it is; a downloaded file takes the server's Last-Modified as
    // its modification time (one second earlier when it is less than a second before the
    // response's Date: a version written later in that second must not look unmodified). (A server
    // that ignores the condition and answers 200 with a Last-Modified not newer than the file is
    // treated like a 304.) An empty file at path counts as absent for the condition. On any result
    // but WEB_OK, and on an empty 200 body, nothing at path is created or changed. A replaced file
    // keeps its permission bits; a new one gets 0666 less the umask. A symbolic link at path stays
    // a link and the file it points to is replaced. A path that is not a regular file, or whose
    // folder cannot take a temporary file, is WEB_ERR_REQUEST before any request is sent. The file
    // is committed through an AtomicFile whose temporary DOWNLOAD_TEMPORARY_PREFIX + "XXXXXX"
    // stands in the target's folder, locked, only while the download runs (a killed process leaves
    // it for RemoveStaleTemporaries).
    //
    // Resuming (SetResumable(true)). The body streams into the partial file
    // PartialDownloadPath(target) instead (target: path with its links resolved), which this call
    // creates if needed and holds under an exclusive flock while it writes; a partial that another
    // writer holds, or whose name the folder cannot take, is left alone and the download goes
    // into the temporary as above, without resuming. When the 200's response carries a validator
    // (a strong ETag, else a Last-Modified at least a second older than its Date), the metadata
    // file PartialMetadataPath(target) is written (through an AtomicFile) before the first byte,
    // naming the address, the validator and the announced length; without one the partial is
    // only a temporary. An attempt that breaks off transiently (cut short, reset, a time-out,
    // 5xx, 429: LastFailureIsTransient) or by a stop keeps the partial and its metadata; any
    // other failure, a 304 and an empty 200 remove both. When a partial with bytes stands with
    // the metadata of the same address (and fewer bytes than its announced length), the next
    // request of that address into that target (a retry, or the next call) sends
    // "Range: bytes=<partial's size>-" and "If-Range: <the ETag, else the Last-Modified>", and no
    // If-Modified-Since. A 206 whose Content-Range continues at the partial's size, runs to the
    // end and announces the same total (and whose strong ETag, if any, is the same) appends; a
    // 200 (the server ignored the range, or the file changed) starts over with its body. A 416, a
    // 206 that does not continue the partial or does not add up to the total, and a 200 carrying
    // a Content-Range discard the partial and start over with one more request (with
    // If-Modified-Since as above) in the same attempt. Partials of another address are discarded.
    // The whole file is committed by renaming the partial over the target, with the permission
    // bits and modification time described above; nothing partial ever stands at the target's
    // name.
    int DownloadUrl(const std::string& url, const std::string& path);

    const std::string& AgentName() const { return agentName; }

    // The address the last final response came from, after redirects; empty when no response
    // came. A page's relative links resolve against it.
    const std::string& LastUrl() const { return lastUrl; }

    // True when the last DownloadUrl ended in WEB_OK because the file at its path was up to date
    // (304, or a Last-Modified not newer than the file), so the file was left as it was.
    bool LastWasNotModified() const { return lastNotModified; }

    // What went wrong in the last fetch that did not end in WEB_OK, in words ("Connection refused",
    // "the address is not an http or https URL", "HTTP status 404", "cannot write the downloaded
    // file: No space left on device", ...), followed by " after <n> attempts" when retries were
    // spent on it; empty after WEB_OK. For diagnostics: the update job
    // prints it after its described message.
    const std::string& LastError() const { return lastError; }

    // Whether the last fetch failed in a way that may pass by itself: the connection was refused
    // or reset, a connect or stall time-out, a body cut short, an empty reply, HTTP 5xx or 429.
    // False after WEB_OK, other statuses, a bad address, a stop, local file errors and anything
    // else.
    bool LastFailureIsTransient() const { return lastTransient; }

    // Whether the last fetch reached no server: the name did not resolve, the connection was
    // refused or unreachable, or it timed out. What a computer whose network is not up yet
    // meets; a scheduled update waits for the network on it.
    bool LastFailureIsNoConnection() const { return lastNoConnection; }

    // The Retry-After of the last final response, as a delay from when it arrived (an HTTP date
    // in the past is 0 s); empty when it had none or it could not be read.
    std::optional<std::chrono::seconds> LastRetryAfter() const { return lastRetryAfter; }

    // How many attempts the last FetchUrl or DownloadUrl made: 1 + the retries it took. (A
    // restart within an attempt, see DownloadUrl, does not count.)
    int LastAttempts() const { return lastAttempts; }

    // The time-outs in force: CORVANE_CONNECT_TIMEOUT / CORVANE_STALL_TIMEOUT when they hold a
    // whole number of seconds from 1 to 86400, else 30 and 60. Read at every fetch.
    static long ConnectTimeoutSeconds();
    static long StallTimeoutSeconds();

private:
    struct Transfer;
    // Runs attempt until it succeeds, fails other than transiently, or the retries are spent.
    int WithRetries(const std::function<int()>& attempt);
    // Waits pause unless a stop comes first; false then.
    bool PauseBeforeRetry(std::chrono::milliseconds pause) const;
    // Forgets what the request before said.
    void ClearOutcome();
    int FetchOnce(const std::string& url, std::string& body);
    int DownloadOnce(const std::string& url, const std::string& path);
    // What a download's request left: the file committed, or left as it was.
    int FinishTemporary(int result, Transfer& transfer, AtomicFile& file);
    int FinishPartial(int result, Transfer& transfer, AtomicFile& file, PartialDownload& partial);
    // Runs beforeCommit; false when a stop came meanwhile.
    bool MayCommit();

    // One request: its options, its transfer (a CURLcode) and what its response means.
    int Perform(const std::string& url, Transfer& transfer);
    int Run(void* handle, Transfer& transfer);
    int Outcome(
        void* handle, int performed, long status, const char* errorText, Transfer& transfer);
    // What the finished transfer's response with status means (handle: its CURL easy handle).
    int ExamineResponse(void* handle, long status, Transfer& transfer);

    std::string agentName;
    std::stop_token stopToken;
    ProgressCallback progressCallback;
    std::function<void()> beforeCommit;
    RetryPolicy retryPolicy = RetryPolicy::None();
    bool resumable = false;
    CWebShare* share = nullptr;
    CConnectionCache* connections = nullptr;
    long floorRate = 1;
    std::string lastError;
    std::string lastUrl;
    bool lastNotModified = false;
    bool lastTransient = false;
    bool lastNoConnection = false;
    std::optional<std::chrono::seconds> lastRetryAfter;
    int lastAttempts = 0;
};

} // namespace corvane
