#include "parallel.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace torvale {

void run_in_parallel(int count, const std::function<void(int i)> &work,
                     const std::function<void(int n)> &finished)
{
    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable finishedOne;
    int done = 0;
    auto worker = [&] {
        for (int i; (i = next++) < count;) {
            work(i);
            std::lock_guard<std::mutex> lock(mutex);
            ++done;
            finishedOne.notify_one();
        }
    };
    const int workers = std::clamp(QThread::idealThreadCount(), 1, 4);
    std::vector<std::thread> threads;
    for (int w = 0; w < workers && w < count; ++w)
        threads.emplace_back(worker);
    for (int reported = 0; reported < count;) {
        std::unique_lock<std::mutex> lock(mutex);
        finishedOne.wait(lock, [&] { return done > reported; });
        reported = done;
        lock.unlock();
        if (finished)
            finished(reported);
    }
    for (std::thread &t : threads)
        t.join();
}

} // namespace torvale
