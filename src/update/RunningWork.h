// What an update job is working on right now: its running downloads and conversions with their
// progress, for a display that shows more than the status text (the command line's progress line
// on a terminal). The job's listener hears the package-order story; this is the live view beside
// it, taken as a snapshot whenever the display wants one.
//
// Thread: every member may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace corvane {

struct RunningWork {
    enum class Kind { Download, Conversion };
    Kind kind = Kind::Download;
    std::string url;
    std::uint64_t received = 0; // a download's bytes so far
    std::uint64_t total = 0; // a download's announced length; 0 when unknown
    double fraction = 0; // a conversion's share of its input consumed, 0..1
};

class CRunningWorkBoard {
public:
    // A piece of work starts; the returned ticket names it in the calls below.
    std::size_t Begin(RunningWork::Kind kind, const std::string& url);
    void SetBytes(std::size_t ticket, std::uint64_t received, std::uint64_t total);
    void SetFraction(std::size_t ticket, double fraction);
    void End(std::size_t ticket);

    // The running work in the order it started.
    std::vector<RunningWork> Snapshot() const;

private:
    mutable std::mutex mutex;
    std::size_t nextTicket = 0;
    std::map<std::size_t, RunningWork> running;
};

// A ticket that ends its work when it goes out of scope, whichever way the work ended.
class RunningWorkTicket {
public:
    RunningWorkTicket(CRunningWorkBoard* board, RunningWork::Kind kind, const std::string& url)
        : board(board)
        , ticket(board ? board->Begin(kind, url) : 0)
    { }
    ~RunningWorkTicket()
    {
        if (board)
            board->End(ticket);
    }
    RunningWorkTicket(const RunningWorkTicket&) = delete;
    RunningWorkTicket& operator=(const RunningWorkTicket&) = delete;

    void SetBytes(std::uint64_t received, std::uint64_t total) const
    {
        if (board)
            board->SetBytes(ticket, received, total);
    }
    void SetFraction(double fraction) const
    {
        if (board)
            board->SetFraction(ticket, fraction);
    }

private:
    CRunningWorkBoard* board;
    std::size_t ticket;
};

} // namespace corvane
