// A bounded queue of 16-bit PCM blocks between the decoding thread and the encoding thread.
// Blocks are recycled, so a long conversion allocates only while the queue first fills.
// Thread: one producer and one consumer; Cancel from any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace corvane {

class PcmQueue {
public:
    // depth: the most blocks held at once (at least 1).
    explicit PcmQueue(std::size_t depth);

    // Copies the samples into one block; waits while the queue is full. False when cancelled.
    bool Push(const int16_t* samples, std::size_t count);
    // Swaps the oldest block into block; waits while the queue is empty. False when the queue
    // is closed and drained, or cancelled.
    bool Pop(std::vector<int16_t>& block);
    // The producer has finished: Pop drains what is left, then returns false.
    void Close();
    // Ends both sides at once; blocks not yet taken are dropped.
    void Cancel();
    bool Cancelled() const;

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::vector<int16_t>> blocks;
    std::vector<std::vector<int16_t>> spare;
    std::size_t depth;
    bool closed = false;
    bool cancelled = false;
};

} // namespace corvane
