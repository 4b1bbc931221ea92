#include "net/WebAccess.h"

#include "net/ConnectionSharing.h"
#include "net/PartialDownload.h"
#include "net/ResponseHeaders.h"
#include "platform/AtomicFile.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// What LastError says of a fetch that a stop ended, wherever it was ended.
constexpr const char* StoppedText = "the fetch was stopped";
constexpr long DefaultConnectTimeout = 30;
constexpr long DefaultStallTimeout = 60;
constexpr long MaximumTimeout = 86400;
constexpr long MaximumRedirects = 20;
constexpr long long MaximumPauseMilliseconds = 86400LL * 1000;
// Large enough to keep up with a local disk, small enough that a download's memory does not
// depend on the body's size.
constexpr long ReceiveBufferSize = 256 * 1024;

const char* const RequestHeaderLines[] = {
    "Accept: application/*, text/*, image/*, audio/*, video/*",
    "Cache-Control: no-cache",
    "User-Agent: Velmora RSS Helper",
};

// Move-only owners of the libcurl handles of one fetch.
class CurlEasy {
public:
    CurlEasy()
        : handle(curl_easy_init())
    { }
    ~CurlEasy()
    {
        if (handle)
            curl_easy_cleanup(handle);
    }
    CurlEasy(CurlEasy&& other) noexcept
        : handle(std::exchange(other.handle, nullptr))
    { }
    CurlEasy& operator=(CurlEasy&& other) noexcept
    {
        std::swap(handle, other.handle);
        return *this;
    }
    CURL* get() const { return handle; }

private:
    CURL* handle;
};

class CurlUrl {
public:
    CurlUrl()
        : handle(curl_url())
    { }
    ~CurlUrl()
    {
        if (handle)
            curl_url_cleanup(handle);
    }
    CurlUrl(CurlUrl&& other) noexcept
        : handle(std::exchange(other.handle, nullptr))
    { }
    CurlUrl& operator=(CurlUrl&& other) noexcept
    {
        std::swap(handle, other.handle);
        return *this;
    }
    CURLU* get() const { return handle; }

private:
    CURLU* handle;
};

// A multi handle running exactly one easy handle, so that a stop from another thread can wake
// the wait at once (curl_multi_wakeup) instead of at the next progress call.
// The multi handle is the calling thread's (its connection cache outlives the transfer) when
// one is given, else the transfer's own.
class CurlSingleTransfer {
public:
    CurlSingleTransfer(CURL* easy, CURLM* threadMulti)
        : multi(threadMulti ? threadMulti : curl_multi_init())
        , easy(easy)
        , ownMulti(!threadMulti)
    {
        added = multi && curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~CurlSingleTransfer()
    {
        if (added)
            curl_multi_remove_handle(multi, easy);
        if (multi && ownMulti)
            curl_multi_cleanup(multi);
    }
    CurlSingleTransfer(const CurlSingleTransfer&) = delete;
    CurlSingleTransfer& operator=(const CurlSingleTransfer&) = delete;

    // Any thread.
    void Wake() { curl_multi_wakeup(multi); }

    // Runs the transfer until it ends or stop is requested. The transfer's own result, or
    // CURLE_ABORTED_BY_CALLBACK after a stop.
    CURLcode Run(const std::stop_token& stop)
    {
        if (!added)
            return CURLE_OUT_OF_MEMORY;
        int running = 1;
        while (!stop.stop_requested()) {
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                return CURLE_FAILED_INIT;
            if (running == 0) {
                int left = 0;
                while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
                    if (message->msg == CURLMSG_DONE)
                        return message->data.result;
                }
                return CURLE_FAILED_INIT;
            }
            if (curl_multi_poll(multi, nullptr, 0, 1000, nullptr) != CURLM_OK)
                return CURLE_FAILED_INIT;
        }
        return CURLE_ABORTED_BY_CALLBACK;
    }

private:
    CURLM* multi;
    CURL* easy;
    bool ownMulti;
    bool added = false;
};

class CurlHeaderList {
public:
    CurlHeaderList() = default;
    ~CurlHeaderList() { curl_slist_free_all(list); }
    CurlHeaderList(CurlHeaderList&& other) noexcept
        : list(std::exchange(other.list, nullptr))
    { }
    CurlHeaderList& operator=(CurlHeaderList&& other) noexcept
    {
        std::swap(list, other.list);
        return *this;
    }
    bool Append(const char* line)
    {
        curl_slist* longer = curl_slist_append(list, line);
        if (!longer)
            return false;
        list = longer;
        return true;
    }
    curl_slist* get() const { return list; }

private:
    curl_slist* list = nullptr;
};

// A string owned by libcurl (curl_url_get).
class CurlString {
public:
    CurlString() = default;
    ~CurlString() { curl_free(text); }
    CurlString(const CurlString&) = delete;
    CurlString& operator=(const CurlString&) = delete;
    char** out() { return &text; }
    std::string str() const { return text ? text : ""; }

private:
    char* text = nullptr;
};

long TimeoutFromEnvironment(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > MaximumTimeout)
        return fallback;
    return value;
}

// A whole number of milliseconds from 0 to a day, else fallback.
std::chrono::milliseconds PauseFromEnvironment(const char* name, std::chrono::milliseconds fallback)
{
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > MaximumPauseMilliseconds)
        return fallback;
    return std::chrono::milliseconds(value);
}

// Failures of the connection or the transfer that a later attempt may not meet: refused or
// reset connections, time-outs, bodies cut short, replies that never came. Not: addresses that
// cannot be resolved or used, certificates, protocol errors, local errors.
bool IsTransientTransferFailure(CURLcode performed)
{
    switch (performed) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return true;
    default:
        return false;
    }
}

// Failures before any server answered: what an offline computer meets.
bool IsNoConnectionFailure(CURLcode performed)
{
    switch (performed) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
        return true;
    default:
        return false;
    }
}

bool IsTransientStatus(long status)
{
    return (status >= 500 && status <= 599) || status == 429;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Users type addresses as browsers take them: "example.com/feed.xml" and "localhost:8080/f.xml"
// mean http. Text that opens with a scheme of its own ("mailto:", "file:") or with a slash is
// left alone, to be refused as it stands.
std::string WithDefaultScheme(const std::string& url)
{
    if (url.empty() || url.front() == '/' || url.find("://") != std::string::npos)
        return url;
    const std::size_t colon = url.find(':');
    const std::size_t authorityEnd = url.find_first_of("/?#");
    if (colon != std::string::npos && colon < authorityEnd) {
        const std::string_view before(url.data(), colon);
        const std::string_view after = std::string_view(url).substr(colon + 1,
            authorityEnd == std::string::npos ? std::string::npos : authorityEnd - colon - 1);
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        const auto letter = [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
        const bool schemeLike = !before.empty() && letter(before.front())
            && std::all_of(before.begin(), before.end(),
                [&](char c) { return letter(c) || digit(c) || c == '+' || c == '-' || c == '.'; });
        const bool portLike = !after.empty() && std::all_of(after.begin(), after.end(), digit);
        if (schemeLike && !portLike)
            return url;
    }
    return "http://" + url;
}

// Parses url into handle; on failure says why in error.
bool ParseUrl(std::string url, CurlUrl& handle, std::string& error)
{
    std::size_t begin = 0, end = url.size();
    while (begin < end && IsSpace(url[begin]))
        ++begin;
    while (end > begin && IsSpace(url[end - 1]))
        --end;
    url = url.substr(begin, end - begin);
    if (url.find('\0') != std::string::npos) {
        error = "the address holds a zero byte";
        return false;
    }
    if (!handle.get()) {
        error = "out of memory";
        return false;
    }
    url = WithDefaultScheme(url);
    // Not CURLU_GUESS_SCHEME: it would turn "ftp.example.org/x" into an ftp address.
    const CURLUcode parsed
        = curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_URLENCODE);
    if (parsed != CURLUE_OK && url.find("://") == std::string::npos) {
        error = "the address is not an http or https URL";
        return false;
    }
    if (parsed != CURLUE_OK) {
        error = std::string("the address cannot be read as a URL (") + curl_url_strerror(parsed)
            + ")";
        return false;
    }
    CurlString scheme;
    if (curl_url_get(handle.get(), CURLUPART_SCHEME, scheme.out(), 0) != CURLUE_OK
        || (scheme.str() != "http" && scheme.str() != "https")) {
        error = "the address is not an http or https URL";
        return false;
    }
    CurlString host;
    if (curl_url_get(handle.get(), CURLUPART_HOST, host.out(), 0) != CURLUE_OK
        || host.str().empty()) {
        error = "the address has no host name";
        return false;
    }
    return true;
}

bool GlobalInit()
{
    static std::once_flag once;
    static CURLcode result = CURLE_FAILED_INIT;
    std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
    return result == CURLE_OK;
}

// The options of every request: method, protocol, redirects, headers, certificates, time-outs,
// the floor rate (bytes per second over the stall time-out) and the job's share, if any.
// The first option libcurl refuses ends the setting and is returned.
CURLcode SetRequestOptions(CURL* handle, CURLU* url, curl_slist* headers, char* errorText,
    const std::string& agentName, long floorRate, CURLSH* share)
{
    CURLcode setup = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (setup == CURLE_OK)
            setup = curl_easy_setopt(handle, option, value);
    };
    set(CURLOPT_ERRORBUFFER, errorText);
    set(CURLOPT_CURLU, url);
    set(CURLOPT_HTTPGET, 1L);
    // HTTP/1.1, whose connections stay open unless the server says otherwise: a 1.0 client
    // must ask for keep-alive with a header that many servers ignore and that an old proxy passes
    // on unread. Chunked answers are decoded by libcurl; the body stays as the server sent it.
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, MaximumRedirects);
    // Servers see the block's User-Agent line; the agent name goes only to proxies (CONNECT),
    // which do not see the block.
    set(CURLOPT_USERAGENT, agentName.c_str());
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_CONNECTTIMEOUT, CWebAccess::ConnectTimeoutSeconds());
    set(CURLOPT_LOW_SPEED_LIMIT, std::max(1L, floorRate));
    set(CURLOPT_LOW_SPEED_TIME, CWebAccess::StallTimeoutSeconds());
    if (share)
        set(CURLOPT_SHARE, share);
    // Signals are process-wide; fetches run on worker threads.
    set(CURLOPT_NOSIGNAL, 1L);
    // A reply without a status line is taken in so that it can be told apart from a failed
    // connection: its response code stays 0, which is WEB_ERR_STATUS.
    set(CURLOPT_HTTP09_ALLOWED, 1L);
    set(CURLOPT_BUFFERSIZE, ReceiveBufferSize);
    return setup;
}

// What a transfer that libcurl ended with an error means: WEB_ERR_STATUS for a reply whose
// status line could not be read, else WEB_ERR_REQUEST; error receives why in words.
// transient receives whether the failure may pass by itself, noConnection whether no server
// was reached; a failure of ours is neither.
int PerformFailure(CURLcode performed, long status, const std::string& failure,
    const char* errorText, std::string& error, bool& transient, bool& noConnection)
{
    if (!failure.empty())
        error = failure;
    else
        error = *errorText ? errorText : curl_easy_strerror(performed);
    transient = failure.empty() && IsTransientTransferFailure(performed);
    noConnection = failure.empty() && IsNoConnectionFailure(performed);
    // A status line that starts like HTTP but cannot be read ends as "weird server reply" or
    // "unsupported HTTP version" with no status; after a readable status line the same codes
    // mean a broken header or a refused redirect, which are failed requests.
    if ((performed == CURLE_WEIRD_SERVER_REPLY || performed == CURLE_UNSUPPORTED_PROTOCOL)
        && status == 0)
        return WEB_ERR_STATUS;
    return WEB_ERR_REQUEST;
}

} // namespace

// The state one request shares with libcurl's callbacks. The callbacks never throw: they record
// what went wrong here and return libcurl's abort value.
struct CWebAccess::Transfer {
    CURL* handle = nullptr;
    std::string* memory = nullptr; // FetchUrl: the body grows here
    int descriptor = -1; // DownloadUrl: or streams into this file
    std::time_t ifModifiedSince = -1;
    const std::stop_token* stop = nullptr;
    const ProgressCallback* progress = nullptr;

    // Resuming: the sink is the partial of this download, which continues from requestedFrom
    // (0: no range asked) when the answer is a fitting 206.
    PartialDownload* partial = nullptr;
    const std::string* address = nullptr;
    std::uint64_t requestedFrom = 0;
    PartialMetadata resumed; // what the partial's metadata said, when requestedFrom > 0
    std::string rangeOption; // "<requestedFrom>-"
    std::uint64_t bodyOffset = 0; // bytes in the sink before this body
    std::uint64_t wholeLength = 0; // of a continued file
    bool continued = false; // the body is a 206 that continues the partial
    bool restart = false; // the answer cannot continue the partial: start over

    ResponseHeaders response;
    bool bodyStarted = false;
    std::uint64_t received = 0;
    std::uint64_t reported = 0;
    bool unwantedBody = false; // the final answer is not a 200: its body is not read
    bool stopped = false;
    bool notModified = false;
    curl_off_t lastModified = -1;
    std::string failure;

    static std::size_t OnHeader(
        char* data, std::size_t size, std::size_t count, void* user) noexcept;
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept;
    static int OnProgress(
        void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) noexcept;
    // Makes handle deliver its headers, body and progress here, with the conditions of this
    // transfer.
    CURLcode Attach(CURL* handle);
    // At the first byte of the body: whether it is wanted, and where it begins.
    bool StartBody();
    bool ContinuePartial();
    bool StartPartial();
    bool Write(const char* data, std::size_t length);
};

CURLcode CWebAccess::Transfer::Attach(CURL* handle_)
{
    handle = handle_;
    CURLcode setup = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (setup == CURLE_OK)
            setup = curl_easy_setopt(handle, option, value);
    };
    set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    set(CURLOPT_HEADERDATA, static_cast<void*>(this));
    set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    if (descriptor >= 0)
        set(CURLOPT_FILETIME, 1L);
    if (requestedFrom > 0) {
        rangeOption = std::to_string(requestedFrom) + "-";
        set(CURLOPT_RANGE, rangeOption.c_str());
    }
    return setup;
}

std::size_t CWebAccess::Transfer::OnHeader(
    char* data, std::size_t size, std::size_t count, void* user) noexcept
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    try {
        transfer.response.Take(std::string_view(data, length));
    } catch (...) {
        transfer.failure = "out of memory";
        return 0;
    }
    return length;
}

bool CWebAccess::Transfer::StartBody()
{
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    if (status == 206 && requestedFrom > 0)
        return ContinuePartial();
    if (status != 200) {
        unwantedBody = true;
        return false;
    }
    // A 200 that carries a Content-Range is a piece passed off as the whole file.
    if (requestedFrom > 0 && !response.contentRange.empty()) {
        restart = true;
        return false;
    }
    return !partial || StartPartial();
}

namespace {

// Whether a 206 answer is of the version the partial holds. A server (or a proxy) may answer a
// Range without honouring If-Range: only the answer's own validators tell that the version is
// the same, so each one stored must come back unchanged, and one that is missing proves nothing.
bool SameVersion(const PartialMetadata& resumed, const ResponseHeaders& response)
{
    const auto same = [](const std::string& stored, const std::string& answered) {
        return stored.empty() || stored == answered;
    };
    return same(resumed.etag, response.etag) && same(resumed.lastModified, response.lastModified);
}

} // namespace

bool CWebAccess::Transfer::ContinuePartial()
{
    ContentRange range;
    const bool continues = ParseContentRange(response.contentRange, range)
        && range.first == requestedFrom && range.total && range.last + 1 == *range.total
        && (!resumed.length || *resumed.length == *range.total) && SameVersion(resumed, response);
    if (!continues) {
        restart = true;
        return false;
    }
    continued = true;
    bodyOffset = requestedFrom;
    wholeLength = *range.total;
    return true;
}

bool CWebAccess::Transfer::StartPartial()
{
    // The body is the whole file: the server ignored the range, or the file changed.
    if (!partial->StartOver(failure))
        return false;
    PartialMetadata metadata;
    metadata.address = *address;
    metadata.etag = StrongEtag(response);
    metadata.lastModified = StrongLastModified(response);
    std::uint64_t length = 0;
    if (ParseByteCount(response.contentLength, length))
        metadata.length = length;
    // Without a validator the partial serves as a plain temporary and goes if the body breaks.
    partial->Record(metadata);
    return true;
}

bool CWebAccess::Transfer::Write(const char* data, std::size_t length)
{
    if (memory) {
        memory->append(data, length);
        return true;
    }
    std::size_t written = 0;
    while (written < length) {
        const ssize_t step = ::write(descriptor, data + written, length - written);
        if (step < 0) {
            if (errno == EINTR)
                continue;
            failure = std::string("cannot write the downloaded file: ") + std::strerror(errno);
            return false;
        }
        written += static_cast<std::size_t>(step);
    }
    return true;
}

std::size_t CWebAccess::Transfer::OnBody(
    char* data, std::size_t size, std::size_t count, void* user) noexcept
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    try {
        if (!transfer.bodyStarted && !transfer.StartBody())
            return CURL_WRITEFUNC_ERROR;
        transfer.bodyStarted = true;
        if (!transfer.Write(data, length))
            return CURL_WRITEFUNC_ERROR;
    } catch (...) {
        transfer.failure = "out of memory";
        return CURL_WRITEFUNC_ERROR;
    }
    transfer.received += length;
    return length;
}

int CWebAccess::Transfer::OnProgress(
    void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) noexcept
{
    auto& transfer = *static_cast<Transfer*>(user);
    if (transfer.stop->stop_requested()) {
        transfer.stopped = true;
        return 1;
    }
    if (!*transfer.progress || now <= 0)
        return 0;
    // A continued file counts the bytes it had.
    const std::uint64_t received = transfer.bodyOffset + static_cast<std::uint64_t>(now);
    if (received == transfer.reported)
        return 0;
    transfer.reported = received;
    try {
        (*transfer.progress)(
            received, total > 0 ? transfer.bodyOffset + static_cast<std::uint64_t>(total) : 0);
    } catch (...) {
        transfer.failure = "the progress report failed";
        return 1;
    }
    return 0;
}

std::chrono::milliseconds RetryPolicy::PauseBefore(
    int retry, std::optional<std::chrono::seconds> retryAfter) const
{
    using std::chrono::milliseconds;
    // Every step stays within the ceiling, so that no doubling or conversion can overflow.
    const milliseconds ceiling = std::max(maximumPause, milliseconds(0));
    milliseconds pause = std::clamp(firstPause, milliseconds(0), ceiling);
    for (int doubled = 1; doubled < retry && pause < ceiling; ++doubled)
        pause = pause > ceiling / 2 ? ceiling : pause * 2;
    if (retryAfter && *retryAfter > std::chrono::duration_cast<std::chrono::seconds>(pause))
        pause = *retryAfter >= std::chrono::duration_cast<std::chrono::seconds>(ceiling)
            ? ceiling
            : std::chrono::duration_cast<milliseconds>(*retryAfter);
    return pause;
}

RetryPolicy RetryPolicy::FromEnvironment()
{
    RetryPolicy policy;
    policy.firstPause = PauseFromEnvironment("CORVANE_RETRY_PAUSE_MS", policy.firstPause);
    policy.maximumPause = PauseFromEnvironment("CORVANE_RETRY_MAX_PAUSE_MS", policy.maximumPause);
    return policy;
}

RetryPolicy RetryPolicy::None()
{
    RetryPolicy policy;
    policy.retries = 0;
    return policy;
}

CWebAccess::CWebAccess(
    std::string name, std::uintptr_t, std::uint32_t, const char*, const char*, std::uint32_t)
    : agentName(std::move(name))
{ }

CWebAccess::~CWebAccess() = default;

void CWebAccess::SetStopToken(std::stop_token stop)
{
    stopToken = std::move(stop);
}

void CWebAccess::SetProgressCallback(ProgressCallback progress)
{
    progressCallback = std::move(progress);
}

void CWebAccess::SetBeforeCommit(std::function<void()> wait)
{
    beforeCommit = std::move(wait);
}

bool CWebAccess::MayCommit()
{
    if (beforeCommit)
        beforeCommit();
    if (!stopToken.stop_requested())
        return true;
    lastError = StoppedText;
    return false;
}

void CWebAccess::SetRetryPolicy(RetryPolicy policy)
{
    retryPolicy = policy;
}

void CWebAccess::SetResumable(bool resumable_)
{
    resumable = resumable_;
}

void CWebAccess::SetSharing(CWebShare* share_, CConnectionCache* connections_)
{
    share = share_;
    connections = connections_;
}

void CWebAccess::SetFloorRate(long bytesPerSecond)
{
    floorRate = std::max(1L, bytesPerSecond);
}

long CWebAccess::ConnectTimeoutSeconds()
{
    return TimeoutFromEnvironment("CORVANE_CONNECT_TIMEOUT", DefaultConnectTimeout);
}

long CWebAccess::StallTimeoutSeconds()
{
    return TimeoutFromEnvironment("CORVANE_STALL_TIMEOUT", DefaultStallTimeout);
}

void CWebAccess::ClearOutcome()
{
    lastError.clear();
    lastUrl.clear();
    lastNotModified = false;
    lastTransient = false;
    lastNoConnection = false;
    lastRetryAfter.reset();
}

int CWebAccess::WithRetries(const std::function<int()>& attempt)
{
    lastAttempts = 0;
    for (;;) {
        const int result = attempt();
        ++lastAttempts;
        if (result == WEB_OK || !lastTransient || lastAttempts > retryPolicy.retries) {
            // Otherwise the reason reads as if one try had been made.
            if (result != WEB_OK && lastAttempts > 1)
                lastError += " after " + std::to_string(lastAttempts) + " attempts";
            return result;
        }
        if (!PauseBeforeRetry(retryPolicy.PauseBefore(lastAttempts, lastRetryAfter))) {
            lastError = StoppedText;
            lastTransient = false;
            lastNoConnection = false;
            return WEB_ERR_REQUEST;
        }
    }
}

bool CWebAccess::PauseBeforeRetry(std::chrono::milliseconds pause) const
{
    // Woken by the stop itself, not by polling it.
    std::mutex mutex;
    std::condition_variable_any woken;
    std::unique_lock lock(mutex);
    woken.wait_for(lock, stopToken, pause, [] { return false; });
    return !stopToken.stop_requested();
}

int CWebAccess::Perform(const std::string& address, Transfer& transfer)
{
    ClearOutcome();
    const char* refused = stopToken.stop_requested() ? StoppedText
        : !GlobalInit()                              ? "libcurl cannot be initialised"
                                                     : nullptr;
    if (refused) {
        transfer.stopped = stopToken.stop_requested();
        lastError = refused;
        return WEB_ERR_REQUEST;
    }
    CurlUrl url;
    if (!ParseUrl(address, url, lastError))
        return WEB_ERR_REQUEST;
    CurlEasy easy;
    CurlHeaderList headers;
    bool built = easy.get() != nullptr;
    for (const char* line : RequestHeaderLines)
        built = built && headers.Append(line);
    if (transfer.requestedFrom > 0)
        built = built && headers.Append(("If-Range: " + transfer.resumed.Validator()).c_str());
    // Our own header, not libcurl's time condition: that one throws away a 200 body whose
    // Last-Modified is not newer than the copy, although a 200 is always the new document.
    if (transfer.ifModifiedSince >= 0)
        built = built
            && headers.Append(
                ("If-Modified-Since: " + FormatHttpDate(transfer.ifModifiedSince)).c_str());
    if (!built) {
        lastError = "out of memory";
        return WEB_ERR_REQUEST;
    }

    CURL* handle = easy.get();
    transfer.stop = &stopToken;
    transfer.progress = &progressCallback;
    char errorText[CURL_ERROR_SIZE] = "";
    CURLcode setup = SetRequestOptions(handle, url.get(), headers.get(), errorText, agentName,
        floorRate, share ? static_cast<CURLSH*>(share->Handle()) : nullptr);
    if (setup == CURLE_OK)
        setup = transfer.Attach(handle);
    if (setup != CURLE_OK) {
        lastError = std::string("libcurl refused an option: ") + curl_easy_strerror(setup);
        return WEB_ERR_REQUEST;
    }
    const int performed = Run(handle, transfer);
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return Outcome(handle, performed, status, errorText, transfer);
}

int CWebAccess::Run(void* handle, Transfer& transfer)
{
    CurlSingleTransfer single(static_cast<CURL*>(handle),
        connections ? static_cast<CURLM*>(connections->Multi()) : nullptr);
    std::stop_callback wake(stopToken, [&single] { single.Wake(); });
    const CURLcode performed = single.Run(stopToken);
    if (!transfer.response.retryAfter.empty())
        lastRetryAfter = ParseRetryAfter(transfer.response.retryAfter, std::time(nullptr));
    return performed;
}

int CWebAccess::Outcome(
    void* handle, int performed, long status, const char* errorText, Transfer& transfer)
{
    if (transfer.stopped || stopToken.stop_requested()) {
        transfer.stopped = true;
        lastError = StoppedText;
        return WEB_ERR_REQUEST;
    }
    if (transfer.restart) {
        lastError = "the server's answer does not continue the partial download";
        return WEB_ERR_REQUEST;
    }
    const auto code = static_cast<CURLcode>(performed);
    if (code != CURLE_OK && !transfer.unwantedBody)
        return PerformFailure(
            code, status, transfer.failure, errorText, lastError, lastTransient, lastNoConnection);
    return ExamineResponse(handle, status, transfer);
}

int CWebAccess::FetchUrl(std::string url, std::string& body)
{
    return WithRetries([&] { return FetchOnce(url, body); });
}

int CWebAccess::FetchOnce(const std::string& url, std::string& body)
{
    std::string received;
    Transfer transfer;
    transfer.memory = &received;
    const int result = Perform(url, transfer);
    if (result == WEB_OK)
        body = std::move(received);
    return result;
}

int CWebAccess::DownloadUrl(const std::string& url, const std::string& path)
{
    return WithRetries([&] { return DownloadOnce(url, path); });
}

int CWebAccess::DownloadOnce(const std::string& url, const std::string& path)
{
    ClearOutcome();
    if (path.empty()) {
        lastError = "no file name to download into";
        return WEB_ERR_REQUEST;
    }
    // A link at the target stays a link: the download replaces the file it points to.
    AtomicFile file;
    if (!file.Open(path, DOWNLOAD_TEMPORARY_PREFIX, lastError))
        return WEB_ERR_REQUEST;
    struct stat status { };
    // An empty file is no copy worth keeping; ask for the whole body then.
    const bool haveCopy = ::stat(file.TargetPath().c_str(), &status) == 0 && status.st_size > 0;
    PartialDownload partial;
    const bool resuming = resumable && partial.Open(file.TargetPath());
    for (bool restarted = false;; restarted = true) {
        Transfer transfer;
        transfer.descriptor = resuming ? partial.Descriptor() : file.Descriptor();
        if (resuming) {
            transfer.partial = &partial;
            transfer.address = &url;
            transfer.requestedFrom = partial.Continuable(url, transfer.resumed);
        }
        // A partial is continued without a condition: its bytes are of a newer file than the copy.
        if (haveCopy && transfer.requestedFrom == 0)
            transfer.ifModifiedSince = status.st_mtime;
        const int result = Perform(url, transfer);
        if (transfer.restart && !restarted) {
            std::string ignored;
            partial.StartOver(ignored);
            continue;
        }
        return resuming ? FinishPartial(result, transfer, file, partial)
                        : FinishTemporary(result, transfer, file);
    }
}

int CWebAccess::FinishTemporary(int result, Transfer& transfer, AtomicFile& file)
{
    lastNotModified = result == WEB_OK && transfer.notModified;
    if (result != WEB_OK || transfer.notModified || transfer.received == 0)
        return result;
    if (transfer.lastModified >= 0) {
        const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(transfer.lastModified), 0}};
        ::futimens(file.Descriptor(), times);
    }
    if (!MayCommit() || !file.Commit(lastError))
        return WEB_ERR_REQUEST;
    return WEB_OK;
}

int CWebAccess::FinishPartial(
    int result, Transfer& transfer, AtomicFile& file, PartialDownload& partial)
{
    lastNotModified = result == WEB_OK && transfer.notModified;
    if (result != WEB_OK) {
        // What broke off may be continued; what the server refused or we failed at may not.
        partial.Settle(lastTransient || transfer.stopped);
        return result;
    }
    if (transfer.notModified || transfer.received == 0) {
        partial.Remove();
        return result;
    }
    // The mode the temporary was given is the one the file must have: the replaced file's, or a
    // new file's.
    struct stat temporary { };
    const unsigned int mode = ::fstat(file.Descriptor(), &temporary) == 0
        ? static_cast<unsigned int>(temporary.st_mode & 07777)
        : 0600;
    if (!MayCommit()) {
        partial.Settle(true); // as any stopped transfer leaves it
        return WEB_ERR_REQUEST;
    }
    if (!partial.CommitTo(file.TargetPath(), mode, transfer.lastModified, lastError))
        return WEB_ERR_REQUEST;
    return WEB_OK;
}

std::string FetchFailureText(const std::string& address)
{
    return "Failed to get " + address + ", please check the URL and the Internet connection.";
}

int CWebAccess::ExamineResponse(void* handle, long status, Transfer& transfer)
{
    const char* effective = nullptr;
    if (curl_easy_getinfo(handle, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        lastUrl = effective;
    if (status == 0) {
        lastError = "the response has no readable status line";
        return WEB_ERR_STATUS;
    }
    if (transfer.requestedFrom > 0 && (status == 416 || (status == 206 && !transfer.continued))) {
        transfer.restart = true;
        lastError = "the server's answer does not continue the partial download";
        return WEB_ERR_REQUEST;
    }
    if (status == 304 && transfer.ifModifiedSince >= 0) {
        transfer.notModified = true;
        return WEB_OK;
    }
    if (status != 200 && !transfer.continued) {
        lastError = "HTTP status " + std::to_string(status);
        lastTransient = IsTransientStatus(status);
        return static_cast<int>(status);
    }
    if (transfer.continued && transfer.bodyOffset + transfer.received != transfer.wholeLength) {
        transfer.restart = true;
        lastError = "the server's answer does not continue the partial download";
        return WEB_ERR_REQUEST;
    }
    if (transfer.descriptor >= 0)
        curl_easy_getinfo(handle, CURLINFO_FILETIME_T, &transfer.lastModified);
    // The file's time is the next request's If-Modified-Since. A weak Last-Modified there would
    // make a version written later in the same second look unmodified for good; one second
    // earlier costs at most one more download of this version, whose next answer is then strong.
    if (transfer.lastModified > 0 && WeakLastModified(transfer.response))
        --transfer.lastModified;
    return WEB_OK;
}

} // namespace corvane
