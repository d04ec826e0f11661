#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

namespace pointillo {

// The status line a terminal shows while frames render or encode, at most
// `columns` - 1 characters (the last column would wrap on many terminals):
// "[#####.....] 30/150 frames  12.3 frames/s  10 s left". As the terminal
// narrows, the bar shortens, then the rate and the unit words go, then the
// estimate, then the bar; the count stays. `what` says what is counted
// ("frames", "encoded").
std::string progress_line(int32_t done, int32_t total, double seconds, int32_t columns,
                          const std::string& what);

// Redraws one status line on a terminal, fitted to its width at each draw.
struct ProgressBar {
    std::ostream* err = nullptr;
    std::function<int32_t()> columns; // the width now; null or 0: 80
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    void draw(int32_t done, int32_t total, const std::string& what) const;
    void clear() const;
};

// Runs `work`, then takes the bar off the terminal, also when `work` throws.
template <typename Work> void run_clearing(const ProgressBar& bar, bool shown, Work&& work) {
    try {
        work();
    } catch (...) {
        if (shown) {
            bar.clear();
        }
        throw;
    }
    if (shown) {
        bar.clear();
    }
}

} // namespace pointillo
