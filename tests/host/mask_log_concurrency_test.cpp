#include "host/mask_log.h"

#include <clocale>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace pointillo {
namespace {

TEST(MaskLogConcurrency, LinesFromConcurrentRendersStayWhole) {
    const std::string path = ::testing::TempDir() + "pointillo_mask_log_concurrency.txt";
    std::remove(path.c_str());
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            MaskLogEntry e;
            e.current_time = t;
            e.output_width = 1920;
            e.output_height = 1080;
            const std::string line = mask_log_line(e);
            for (int i = 0; i < kLines; ++i) {
                append_mask_log(path.c_str(), line);
            }
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    std::ifstream in(path);
    std::string line;
    std::vector<int> per_thread(kThreads, 0);
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        for (int t = 0; t < kThreads; ++t) {
            MaskLogEntry e;
            e.current_time = t;
            e.output_width = 1920;
            e.output_height = 1080;
            std::string want = mask_log_line(e);
            want.pop_back();
            if (line == want) {
                ++per_thread[static_cast<std::size_t>(t)];
            }
        }
    }
    EXPECT_EQ(lines, kThreads * kLines);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(per_thread[static_cast<std::size_t>(t)], kLines) << "thread " << t;
    }
    std::remove(path.c_str());
}

} // namespace
} // namespace pointillo
