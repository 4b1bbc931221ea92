#include "net/ConnectionSharing.h"

#include <curl/curl.h>

namespace corvane {

static_assert(CURL_LOCK_DATA_LAST <= 16, "CWebShare::locks has a mutex for each kind of data");

namespace {

void LockShared(CURL*, curl_lock_data data, curl_lock_access, void* share)
{
    static_cast<CWebShare*>(share)->LockFor(data).lock();
}

void UnlockShared(CURL*, curl_lock_data data, void* share)
{
    static_cast<CWebShare*>(share)->LockFor(data).unlock();
}

} // namespace

CWebShare::CWebShare()
{
    CURLSH* handle = curl_share_init();
    if (!handle)
        return;
    bool set = curl_share_setopt(handle, CURLSHOPT_LOCKFUNC, &LockShared) == CURLSHE_OK
        && curl_share_setopt(handle, CURLSHOPT_UNLOCKFUNC, &UnlockShared) == CURLSHE_OK
        && curl_share_setopt(handle, CURLSHOPT_USERDATA, this) == CURLSHE_OK;
    for (curl_lock_data data : {CURL_LOCK_DATA_DNS, CURL_LOCK_DATA_SSL_SESSION})
        set = set && curl_share_setopt(handle, CURLSHOPT_SHARE, data) == CURLSHE_OK;
    if (!set) {
        curl_share_cleanup(handle);
        return;
    }
    share = handle;
}

CWebShare::~CWebShare()
{
    if (share)
        curl_share_cleanup(static_cast<CURLSH*>(share));
}

CConnectionCache::CConnectionCache()
{
    CURLM* handle = curl_multi_init();
    if (!handle)
        return;
    curl_multi_setopt(handle, CURLMOPT_MAXCONNECTS, MaximumIdleConnections);
    multi = handle;
}

CConnectionCache::~CConnectionCache()
{
    if (multi)
        curl_multi_cleanup(static_cast<CURLM*>(multi));
}

} // namespace corvane
