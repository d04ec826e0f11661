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

MaskLogEntry sample_entry() {
    MaskLogEntry e;
    e.current_time = 2002;
    e.time_scale = 3000000000u; // above INT32_MAX: printed unsigned
    e.source_width = 960;
    e.source_height = 540;
    e.ref_width = 1920;
    e.ref_height = 1080;
    e.rect_left = -4;
    e.rect_top = 0;
    e.rect_right = 956;
    e.rect_bottom = 540;
    e.output_width = 960;
    e.output_height = 540;
    e.downsample_x = 0.5f;
    e.downsample_y = 0.125f; // exactly halfway: printf rounds the tie to even
    return e;
}

const char* const kSampleLine =
    "mask t=2002/3000000000 src=960x540 ref=1920x1080 rect=-4,0,956,540 "
    "output=960x540 ds=0.50,0.12\n";

TEST(MaskLog, FormatsTheLineAsPrintfWould) {
    EXPECT_EQ(mask_log_line(sample_entry()), kSampleLine);

    // Awkward values against the C library's own formatting (in the C locale).
    struct Awkward {
        int32_t time;
        float ds_x, ds_y;
    };
    const Awkward awkward[] = {
        {-1, 1.0f, 0.3333333f},
        {std::numeric_limits<int32_t>::min(), 0.005f, 0.015f},
        {std::numeric_limits<int32_t>::max(), std::numeric_limits<float>::max(),
         -std::numeric_limits<float>::max()},
        {0, -0.0f, 2.675f},
    };
    for (const Awkward& a : awkward) {
        MaskLogEntry e = sample_entry();
        e.current_time = a.time;
        e.rect_right = std::numeric_limits<int32_t>::min();
        e.downsample_x = a.ds_x;
        e.downsample_y = a.ds_y;
        char expected[512];
        std::snprintf(
            expected, sizeof expected,
            "mask t=%d/%u src=%dx%d ref=%dx%d rect=%d,%d,%d,%d output=%dx%d ds=%.2f,%.2f\n",
            e.current_time, e.time_scale, e.source_width, e.source_height, e.ref_width,
            e.ref_height, e.rect_left, e.rect_top, e.rect_right, e.rect_bottom, e.output_width,
            e.output_height, static_cast<double>(e.downsample_x),
            static_cast<double>(e.downsample_y));
        EXPECT_EQ(mask_log_line(e), expected) << "ds " << a.ds_x << ", " << a.ds_y;
    }
    EXPECT_EQ(mask_log_line(MaskLogEntry{}),
              "mask t=0/0 src=0x0 ref=0x0 rect=0,0,0,0 output=0x0 ds=1.00,1.00\n");
}

TEST(MaskLog, IgnoresACommaDecimalLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "de_DE",
                             "German_Germany.1252"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            found = name;
            break;
        }
    }
    if (found == nullptr) {
        GTEST_SKIP() << "no comma-decimal locale installed";
    }
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.2f", 0.5);
    const std::string line = mask_log_line(sample_entry());
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_STREQ(probe, "0,50") << found << " is not a comma-decimal locale";
    EXPECT_EQ(line, kSampleLine);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The log is a text file (opened with mode "a"), so its lines end the
// platform's way: "\r\n" on Windows.
std::string platform_lines(const std::string& text) {
#if defined(_WIN32)
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
#else
    return text;
#endif
}

TEST(MaskLog, AppendsWholeLines) {
    const std::string path = ::testing::TempDir() + "pointillo_mask_log_test.txt";
    std::remove(path.c_str());
    append_mask_log(path.c_str(), "first\n");
    append_mask_log(path.c_str(), kSampleLine);
    EXPECT_EQ(read_file(path), platform_lines(std::string("first\n") + kSampleLine));
    std::remove(path.c_str());
}

TEST(MaskLog, UnopenablePathIsSilentlyIgnored) {
    const std::string path = ::testing::TempDir() + "pointillo_missing_dir/sub/log.txt";
    EXPECT_NO_THROW(append_mask_log(path.c_str(), kSampleLine));
    std::FILE* f = std::fopen(path.c_str(), "r");
    EXPECT_EQ(f, nullptr);
    if (f != nullptr) {
        std::fclose(f);
    }
    EXPECT_NO_THROW(append_mask_log(nullptr, kSampleLine));
    EXPECT_NO_THROW(append_mask_log("", kSampleLine));
}

} // namespace
} // namespace pointillo
