#include "update/RunningWork.h"

namespace corvane {

std::size_t CRunningWorkBoard::Begin(RunningWork::Kind kind, const std::string& url)
{
    std::lock_guard lock(mutex);
    const std::size_t ticket = nextTicket++;
    RunningWork& work = running[ticket];
    work.kind = kind;
    work.url = url;
    return ticket;
}

void CRunningWorkBoard::SetBytes(std::size_t ticket, std::uint64_t received, std::uint64_t total)
{
    std::lock_guard lock(mutex);
    if (auto found = running.find(ticket); found != running.end()) {
        found->second.received = received;
        found->second.total = total;
    }
}

void CRunningWorkBoard::SetFraction(std::size_t ticket, double fraction)
{
    std::lock_guard lock(mutex);
    if (auto found = running.find(ticket); found != running.end())
        found->second.fraction = fraction;
}

void CRunningWorkBoard::End(std::size_t ticket)
{
    std::lock_guard lock(mutex);
    running.erase(ticket);
}

std::vector<RunningWork> CRunningWorkBoard::Snapshot() const
{
    std::lock_guard lock(mutex);
    std::vector<RunningWork> snapshot;
    snapshot.reserve(running.size());
    for (const auto& [ticket, work] : running)
        snapshot.push_back(work);
    return snapshot;
}

} // namespace corvane
