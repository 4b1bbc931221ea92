#include "audio/PcmQueue.h"

#include <algorithm>

namespace corvane {

PcmQueue::PcmQueue(std::size_t depth_)
    : depth(std::max<std::size_t>(depth_, 1))
{ }

bool PcmQueue::Push(const int16_t* samples, std::size_t count)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return cancelled || blocks.size() < depth; });
    if (cancelled)
        return false;
    std::vector<int16_t> block;
    if (!spare.empty()) {
        block = std::move(spare.back());
        spare.pop_back();
    }
    block.assign(samples, samples + count);
    blocks.push_back(std::move(block));
    changed.notify_all();
    return true;
}

bool PcmQueue::Pop(std::vector<int16_t>& block)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return cancelled || closed || !blocks.empty(); });
    if (cancelled || blocks.empty())
        return false;
    std::vector<int16_t> previous = std::move(block);
    block = std::move(blocks.front());
    blocks.pop_front();
    // The consumer's previous block comes back as a spare for the producer.
    if (previous.capacity() > 0 && spare.size() < depth)
        spare.push_back(std::move(previous));
    changed.notify_all();
    return true;
}

void PcmQueue::Close()
{
    std::lock_guard lock(mutex);
    closed = true;
    changed.notify_all();
}

void PcmQueue::Cancel()
{
    std::lock_guard lock(mutex);
    cancelled = true;
    changed.notify_all();
}

bool PcmQueue::Cancelled() const
{
    std::lock_guard lock(mutex);
    return cancelled;
}

} // namespace corvane
