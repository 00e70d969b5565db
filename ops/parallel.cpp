#include "parallel.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace torvale {

void run_in_parallel(int count, const std::function<void(int i)> &work,
                     const std::function<void(int n)> &finished)
{
    const int workers = std::min(std::clamp(QThread::idealThreadCount(), 1, 4), count);
    if (workers <= 1) { // not worth a thread
        for (int i = 0; i < count; ++i)
            work(i);
        if (count > 0 && finished)
            finished(count);
        return;
    }
    // Workers count what they finish without taking a lock (with small files
    // a wake-up per file cost more than the file); the calling thread looks
    // at the count a few dozen times a second, and is woken once at the end.
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    std::mutex mutex;
    std::condition_variable allDone;
    auto worker = [&] {
        for (int i; (i = next++) < count;) {
            work(i);
            if (++done == count) {
                std::lock_guard<std::mutex> lock(mutex);
                allDone.notify_one();
            }
        }
    };
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back(worker);
    for (int reported = 0; reported < count;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            allDone.wait_for(lock, std::chrono::milliseconds(20), [&] { return done == count; });
        }
        const int now = done;
        if (now > reported) {
            reported = now;
            if (finished)
                finished(reported);
        }
    }
    for (std::thread &t : threads)
        t.join();
}

} // namespace torvale
