#include "hostsim/iterate_pool.h"

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>
#include <system_error>
#include <thread>
#include <vector>

namespace hostsim {

void IteratePool::set(const IterateSettings& settings) {
    const std::lock_guard<std::mutex> lock(mutex_);
    settings_ = settings;
}

IterateSettings IteratePool::settings() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

int32_t IteratePool::threads() const {
    const int32_t asked = settings().threads;
    if (asked > 0) {
        return asked;
    }
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

PF_Err IteratePool::run(A_long iterations, void* refcon, IterateFn fn) const {
    if (fn == nullptr || (iterations < 1 && iterations != PF_Iterations_ONCE_PER_PROCESSOR)) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const IterateSettings settings = this->settings();
    int32_t threads = this->threads();
    const bool once_each = iterations == PF_Iterations_ONCE_PER_PROCESSOR;
    if (!once_each) {
        threads = std::min(threads, iterations);
    }
    const A_long count = once_each ? threads : iterations;

    std::vector<A_long> order(static_cast<std::size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    if (settings.order == PieceOrder::kReverse) {
        std::reverse(order.begin(), order.end());
    } else if (settings.order == PieceOrder::kShuffled) {
        std::shuffle(order.begin(), order.end(), std::mt19937(settings.seed));
    }

    std::atomic<std::size_t> next{0};
    const auto work = [&](A_long thread_index) {
        if (once_each) {
            fn(refcon, thread_index, thread_index, count);
            return;
        }
        for (std::size_t k = next++; k < order.size(); k = next++) {
            fn(refcon, thread_index, order[k], count);
        }
    };
    std::vector<std::jthread> helpers;
    for (A_long t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(work, t);
        } catch (const std::system_error&) {
            if (once_each) {
                // Each thread's call is its own: the calling thread makes the
                // missing ones after its own.
                for (A_long missing = t; missing < threads; ++missing) {
                    fn(refcon, missing, missing, count);
                }
            }
            break;
        }
    }
    work(0);
    return PF_Err_NONE; // the helpers join as they go
}

} // namespace hostsim
