#include "core/ordered_batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace qelda {

std::size_t run_ordered(std::size_t total, int lanes,
                        const std::function<void(std::size_t, int)>& work,
                        const std::function<bool(std::size_t)>& report) {
    const int threads = static_cast<int>(std::clamp<std::size_t>(
        static_cast<std::size_t>(std::max(lanes, 1)), 1, std::max<std::size_t>(total, 1)));
    if (threads == 1) {
        for (std::size_t i = 0; i < total; ++i) {
            work(i, 0);
            if (!report(i)) return i + 1;
        }
        return total;
    }
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::vector<char> done(total, 0);
    std::mutex m;
    std::condition_variable finished;
    auto lane = [&](int id) {
        for (;;) {
            if (stop.load()) return;
            const std::size_t i = next.fetch_add(1);
            if (i >= total) return;
            work(i, id);
            {
                const std::lock_guard<std::mutex> hold(m);
                done[i] = 1;
            }
            finished.notify_one();
        }
    };
    std::vector<std::thread> pool;
    pool.reserve(static_cast<std::size_t>(threads));
    for (int t = 0; t < threads; ++t) pool.emplace_back(lane, t);
    std::size_t reported = 0;
    while (reported < total) {
        {
            std::unique_lock<std::mutex> hold(m);
            finished.wait(hold, [&] { return done[reported] != 0; });
        }
        const bool go_on = report(reported);
        ++reported;
        if (!go_on) {
            stop.store(true);
            break;
        }
    }
    for (auto& t : pool) t.join();
    return reported;
}

}  // namespace qelda
