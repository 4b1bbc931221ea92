// What the fetches of one update job share, so that many feeds do not each pay for a name
// lookup, a TCP connection and a TLS handshake of their own.
//
// CWebShare: the job's libcurl share object (CURLSH) holding the name resolver's cache and the
// TLS sessions, used by every fetch of the job from any thread (its lock callbacks keep one
// mutex per kind of data). Connections are not in it: libcurl documents a connection cache
// shared by concurrent threads as unsupported (two threads can take the same connection).
//
// CConnectionCache: one thread's open connections (a libcurl multi handle's connection cache),
// which the next fetch of that thread to the same server reuses when the server kept the
// connection open. At most MaximumIdleConnections stay open between fetches; the oldest closes
// first. Used by its own thread only; the fetches wake it (curl_multi_wakeup) from other
// threads to stop them.
//
// Both are move-free owners: create them before the fetches that use them (CWebAccess::
// SetSharing) and destroy them after. A handle libcurl could not create leaves the object
// empty, and fetches then run without sharing, as if none had been given.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>

namespace corvane {

class CWebShare {
public:
    CWebShare();
    ~CWebShare();
    CWebShare(const CWebShare&) = delete;
    CWebShare& operator=(const CWebShare&) = delete;

    // The CURLSH, or null when libcurl could not make one.
    void* Handle() const { return share; }

    // The mutex of one kind of shared data (a curl_lock_data value), for the lock callbacks.
    std::mutex& LockFor(int data) { return locks.at(static_cast<std::size_t>(data)); }

private:
    void* share = nullptr;
    // One per curl_lock_data value that libcurl may ask for (it has fewer than 16).
    std::array<std::mutex, 16> locks;
};

class CConnectionCache {
public:
    static constexpr long MaximumIdleConnections = 2;

    CConnectionCache();
    ~CConnectionCache(); // closes the connections
    CConnectionCache(const CConnectionCache&) = delete;
    CConnectionCache& operator=(const CConnectionCache&) = delete;

    // The CURLM whose cache the thread's fetches use, or null.
    void* Multi() const { return multi; }

private:
    void* multi = nullptr;
};

} // namespace corvane
