#include "DiskThread.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace tova {

namespace {

struct Queue {
    std::mutex lock;
    std::condition_variable queued;
    std::condition_variable finished;
    std::deque<std::function<void()>> jobs;
    std::uint64_t given = 0;
    std::uint64_t done = 0;

    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock hold(lock);
                queued.wait(hold, [this] { return !jobs.empty(); });
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            job();
            {
                const std::lock_guard hold(lock);
                ++done;
            }
            finished.notify_all();
        }
    }
};

// Never ends: a job may never come back, and the process does not wait for it when it ends.
Queue& queue() {
    static Queue* const queue = [] {
        auto* made = new Queue;
        std::thread([made] { made->work(); }).detach();
        return made;
    }();
    return *queue;
}

} // namespace

bool onDiskThread(std::function<void()> job, std::chrono::milliseconds wait) {
    Queue& q = queue();
    std::unique_lock hold(q.lock);
    q.jobs.push_back(std::move(job));
    const std::uint64_t ticket = ++q.given;
    q.queued.notify_one();
    return q.finished.wait_for(hold, wait, [&] { return q.done >= ticket; });
}

} // namespace tova
