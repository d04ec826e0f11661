#include "host/mask_log.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

namespace pointillo {
namespace {

char* put_int(char* out, char* end, int64_t v) {
    return std::to_chars(out, end, v).ptr;
}

char* put_text(char* out, const char* text) {
    const std::size_t n = std::strlen(text);
    std::memcpy(out, text, n);
    return out + n;
}

// "%.2f" of a float (promoted to double as printf would), without the locale.
char* put_fixed2(char* out, char* end, float v) {
    return std::to_chars(out, end, static_cast<double>(v), std::chars_format::fixed, 2).ptr;
}

std::mutex& log_mutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

std::string mask_log_line(const MaskLogEntry& e) {
    // Twelve integers of at most 11 characters, two floats of at most 43
    // (the largest float written out with two decimals) and the fixed text.
    char buffer[512];
    char* const end = buffer + sizeof buffer;
    char* p = buffer;
    p = put_text(p, "mask t=");
    p = put_int(p, end, e.current_time);
    p = put_text(p, "/");
    p = put_int(p, end, e.time_scale);
    p = put_text(p, " src=");
    p = put_int(p, end, e.source_width);
    p = put_text(p, "x");
    p = put_int(p, end, e.source_height);
    p = put_text(p, " ref=");
    p = put_int(p, end, e.ref_width);
    p = put_text(p, "x");
    p = put_int(p, end, e.ref_height);
    p = put_text(p, " rect=");
    p = put_int(p, end, e.rect_left);
    p = put_text(p, ",");
    p = put_int(p, end, e.rect_top);
    p = put_text(p, ",");
    p = put_int(p, end, e.rect_right);
    p = put_text(p, ",");
    p = put_int(p, end, e.rect_bottom);
    p = put_text(p, " output=");
    p = put_int(p, end, e.output_width);
    p = put_text(p, "x");
    p = put_int(p, end, e.output_height);
    p = put_text(p, " ds=");
    p = put_fixed2(p, end, e.downsample_x);
    p = put_text(p, ",");
    p = put_fixed2(p, end, e.downsample_y);
    p = put_text(p, "\n");
    return std::string(buffer, p);
}

void append_mask_log(const char* path, const std::string& line) {
    if (path == nullptr) {
        return;
    }
    const std::lock_guard<std::mutex> lock(log_mutex());
    std::FILE* file = std::fopen(path, "a");
    if (file == nullptr) {
        return;
    }
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

const char* mask_log_path() {
    return std::getenv("POINTILLO_LOG");
}

} // namespace pointillo
