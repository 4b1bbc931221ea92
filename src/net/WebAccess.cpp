#include "net/WebAccess.h"

#include "platform/AtomicFile.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

constexpr long DefaultConnectTimeout = 30;
constexpr long DefaultStallTimeout = 60;
constexpr long MaximumTimeout = 86400;
constexpr long MaximumRedirects = 20;
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
class CurlSingleTransfer {
public:
    explicit CurlSingleTransfer(CURL* easy)
        : multi(curl_multi_init())
        , easy(easy)
    {
        added = multi && curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~CurlSingleTransfer()
    {
        if (added)
            curl_multi_remove_handle(multi, easy);
        if (multi)
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

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
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
    // Without CURLU_DEFAULT_SCHEME an address without a scheme is refused rather than guessed.
    const CURLUcode parsed
        = curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), CURLU_URLENCODE);
    if (parsed != CURLUE_OK && url.find("://") == std::string::npos) {
        error = "the address does not start with http:// or https://";
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

// The options of every request: method, protocol, redirects, headers, certificates, time-outs.
// The first option libcurl refuses ends the setting and is returned.
CURLcode SetRequestOptions(
    CURL* handle, CURLU* url, curl_slist* headers, char* errorText, const std::string& agentName)
{
    CURLcode setup = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (setup == CURLE_OK)
            setup = curl_easy_setopt(handle, option, value);
    };
    set(CURLOPT_ERRORBUFFER, errorText);
    set(CURLOPT_CURLU, url);
    set(CURLOPT_HTTPGET, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    set(CURLOPT_PROTOCOLS_STR, "http,https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // One request per connection, as HTTP/1.0 means: a server that answers 1.0 with 1.1 keep-alive
    // and then closes would otherwise make a redirect hop reuse a dead connection.
    set(CURLOPT_FORBID_REUSE, 1L);
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, MaximumRedirects);
    // Servers see the block's User-Agent line; the agent name goes only to proxies (CONNECT),
    // which do not see the block.
    set(CURLOPT_USERAGENT, agentName.c_str());
    set(CURLOPT_HTTPHEADER, headers);
    set(CURLOPT_SSL_VERIFYPEER, 1L);
    set(CURLOPT_SSL_VERIFYHOST, 2L);
    set(CURLOPT_CONNECTTIMEOUT, CWebAccess::ConnectTimeoutSeconds());
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, CWebAccess::StallTimeoutSeconds());
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
int PerformFailure(CURLcode performed, long status, const std::string& failure,
    const char* errorText, std::string& error)
{
    if (!failure.empty())
        error = failure;
    else
        error = *errorText ? errorText : curl_easy_strerror(performed);
    // A status line that starts like HTTP but cannot be read ends as "weird server reply" or
    // "unsupported HTTP version" with no status; after a readable status line the same codes
    // mean a broken header or a refused redirect, which are failed requests.
    if ((performed == CURLE_WEIRD_SERVER_REPLY || performed == CURLE_UNSUPPORTED_PROTOCOL)
        && status == 0)
        return WEB_ERR_STATUS;
    return WEB_ERR_REQUEST;
}

} // namespace

// The state one fetch shares with libcurl's callbacks. The callbacks never throw: they record
// what went wrong here and return libcurl's abort value.
struct CWebAccess::Transfer {
    CURL* handle = nullptr;
    std::string* memory = nullptr; // FetchUrl: the body grows here
    int descriptor = -1; // DownloadUrl: or streams into this file
    std::time_t ifModifiedSince = -1;
    const std::stop_token* stop = nullptr;
    const ProgressCallback* progress = nullptr;

    std::uint64_t received = 0;
    std::uint64_t reported = 0;
    bool unwantedBody = false; // the final answer is not a 200: its body is not read
    bool stopped = false;
    bool notModified = false;
    curl_off_t lastModified = -1;
    std::string failure;

    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) noexcept;
    static int OnProgress(
        void* user, curl_off_t total, curl_off_t now, curl_off_t, curl_off_t) noexcept;
    // Makes handle deliver its body and progress here, with the conditions of this transfer.
    CURLcode Attach(CURL* handle);
};

CURLcode CWebAccess::Transfer::Attach(CURL* handle_)
{
    handle = handle_;
    CURLcode setup = CURLE_OK;
    auto set = [&](CURLoption option, auto value) {
        if (setup == CURLE_OK)
            setup = curl_easy_setopt(handle, option, value);
    };
    set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
    set(CURLOPT_WRITEDATA, static_cast<void*>(this));
    set(CURLOPT_NOPROGRESS, 0L);
    set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    set(CURLOPT_XFERINFODATA, static_cast<void*>(this));
    if (descriptor >= 0)
        set(CURLOPT_FILETIME, 1L);
    if (ifModifiedSince >= 0) {
        set(CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_IFMODSINCE));
        set(CURLOPT_TIMEVALUE_LARGE, static_cast<curl_off_t>(ifModifiedSince));
    }
    return setup;
}

std::size_t CWebAccess::Transfer::OnBody(
    char* data, std::size_t size, std::size_t count, void* user) noexcept
{
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t length = size * count;
    long status = 0;
    curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        transfer.unwantedBody = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (transfer.memory) {
        try {
            transfer.memory->append(data, length);
        } catch (...) {
            transfer.failure = "out of memory";
            return CURL_WRITEFUNC_ERROR;
        }
    } else {
        std::size_t written = 0;
        while (written < length) {
            const ssize_t step = ::write(transfer.descriptor, data + written, length - written);
            if (step < 0) {
                if (errno == EINTR)
                    continue;
                transfer.failure
                    = std::string("cannot write the downloaded file: ") + std::strerror(errno);
                return CURL_WRITEFUNC_ERROR;
            }
            written += static_cast<std::size_t>(step);
        }
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
    if (*transfer.progress && now > 0 && static_cast<std::uint64_t>(now) != transfer.reported) {
        transfer.reported = static_cast<std::uint64_t>(now);
        try {
            (*transfer.progress)(
                transfer.reported, total > 0 ? static_cast<std::uint64_t>(total) : 0);
        } catch (...) {
            transfer.failure = "the progress report failed";
            return 1;
        }
    }
    return 0;
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

long CWebAccess::ConnectTimeoutSeconds()
{
    return TimeoutFromEnvironment("CORVANE_CONNECT_TIMEOUT", DefaultConnectTimeout);
}

long CWebAccess::StallTimeoutSeconds()
{
    return TimeoutFromEnvironment("CORVANE_STALL_TIMEOUT", DefaultStallTimeout);
}

int CWebAccess::Perform(const std::string& address, Transfer& transfer)
{
    const char* refused = stopToken.stop_requested() ? "the fetch was stopped"
        : !GlobalInit()                              ? "libcurl cannot be initialised"
                                                     : nullptr;
    if (refused) {
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
    if (!built) {
        lastError = "out of memory";
        return WEB_ERR_REQUEST;
    }

    CURL* handle = easy.get();
    transfer.stop = &stopToken;
    transfer.progress = &progressCallback;
    char errorText[CURL_ERROR_SIZE] = "";
    CURLcode setup = SetRequestOptions(handle, url.get(), headers.get(), errorText, agentName);
    if (setup == CURLE_OK)
        setup = transfer.Attach(handle);
    if (setup != CURLE_OK) {
        lastError = std::string("libcurl refused an option: ") + curl_easy_strerror(setup);
        return WEB_ERR_REQUEST;
    }

    CURLcode performed;
    {
        CurlSingleTransfer single(handle);
        std::stop_callback wake(stopToken, [&single] { single.Wake(); });
        performed = single.Run(stopToken);
    }
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);

    if (transfer.stopped || stopToken.stop_requested()) {
        lastError = "the fetch was stopped";
        return WEB_ERR_REQUEST;
    }
    if (performed != CURLE_OK && !transfer.unwantedBody)
        return PerformFailure(performed, status, transfer.failure, errorText, lastError);
    return ExamineResponse(handle, status, transfer);
}

int CWebAccess::FetchUrl(std::string url, std::string& body)
{
    lastError.clear();
    lastNotModified = false;
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
    lastError.clear();
    lastNotModified = false;
    if (path.empty()) {
        lastError = "no file name to download into";
        return WEB_ERR_REQUEST;
    }
    // A link at the target stays a link: the download replaces the file it points to.
    AtomicFile file;
    std::string error;
    if (!file.Open(path, DOWNLOAD_TEMPORARY_PREFIX, error)) {
        lastError = error;
        return WEB_ERR_REQUEST;
    }
    struct stat status { };
    const bool exists = ::stat(file.TargetPath().c_str(), &status) == 0;
    Transfer transfer;
    transfer.descriptor = file.Descriptor();
    // An empty file is no copy worth keeping; ask for the whole body then.
    if (exists && status.st_size > 0)
        transfer.ifModifiedSince = status.st_mtime;

    const int result = Perform(url, transfer);
    lastNotModified = result == WEB_OK && transfer.notModified;
    if (result != WEB_OK || transfer.notModified || transfer.received == 0)
        return result;

    if (transfer.lastModified >= 0) {
        const timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(transfer.lastModified), 0}};
        ::futimens(file.Descriptor(), times);
    }
    if (!file.Commit(error)) {
        lastError = error;
        return WEB_ERR_REQUEST;
    }
    return WEB_OK;
}

std::string FetchFailureText(const std::string& address)
{
    return "Failed to get " + address + ", please check the URL and the Internet connection.";
}

int CWebAccess::ExamineResponse(void* handle, long status, Transfer& transfer)
{
    if (status == 0) {
        lastError = "the response has no readable status line";
        return WEB_ERR_STATUS;
    }
    if (status == 304 && transfer.ifModifiedSince >= 0) {
        transfer.notModified = true;
        return WEB_OK;
    }
    if (status != 200) {
        lastError = "HTTP status " + std::to_string(status);
        return static_cast<int>(status);
    }
    if (transfer.ifModifiedSince >= 0) {
        // libcurl itself drops a 200 body whose Last-Modified is not newer than the condition.
        long unmet = 0;
        curl_easy_getinfo(handle, CURLINFO_CONDITION_UNMET, &unmet);
        if (unmet) {
            transfer.notModified = true;
            return WEB_OK;
        }
    }
    if (transfer.descriptor >= 0)
        curl_easy_getinfo(handle, CURLINFO_FILETIME_T, &transfer.lastModified);
    return WEB_OK;
}

} // namespace corvane
