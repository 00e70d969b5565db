#pragma once

#include <functional>

namespace torvale {

// Runs work(i) for every i below count on a few threads, files being
// independent of each other, and calls finished(n) on the calling thread each
// time more of them are done (n in all, rising to count).
void run_in_parallel(int count, const std::function<void(int i)> &work,
                     const std::function<void(int n)> &finished);

} // namespace torvale
