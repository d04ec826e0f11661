#pragma once

// The diagnostic mask log: one line per source mask built, appended to the
// file that POINTILLO_LOG names. The only file the effect ever writes.

#include <cstdint>
#include <string>

namespace pointillo {

// What one diagnostic mask line reports.
struct MaskLogEntry {
    int32_t current_time = 0; // host time units
    uint32_t time_scale = 0;
    int32_t source_width = 0; // checked-out pixels; 0 x 0 when the host gave no world
    int32_t source_height = 0;
    int32_t ref_width = 0; // full-resolution layer size
    int32_t ref_height = 0;
    int32_t rect_left = 0; // checked-out rectangle, layer pixels
    int32_t rect_top = 0;
    int32_t rect_right = 0;
    int32_t rect_bottom = 0;
    int32_t output_width = 0;
    int32_t output_height = 0;
    float downsample_x = 1.0f;
    float downsample_y = 1.0f;
};

// "mask t=%d/%u src=%dx%d ref=%dx%d rect=%d,%d,%d,%d output=%dx%d ds=%.2f,%.2f\n",
// always with a decimal point whatever the C locale says.
std::string mask_log_line(const MaskLogEntry& entry);

// Appends `line` to the file at `path` under a lock of its own, so lines of
// concurrent renders stay whole. Does nothing when the file cannot be opened.
void append_mask_log(const char* path, const std::string& line);

// The log file's path when POINTILLO_LOG is set, else null. Read on every
// call, so the log can be switched on while the module stays loaded.
const char* mask_log_path();

} // namespace pointillo
