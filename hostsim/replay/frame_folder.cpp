#include "hostsim/replay/frame_folder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace hostsim {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIndexFile = "frames.txt";
constexpr const char* kIndexMagic = "pointillo-replay-frames 1";

std::vector<char> read_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How far two samples of one channel are apart, as a fraction of full scale
// (8 bits: of 255, 16 bits: of 32768; 32 bits: the float difference).
double sample_difference(const char* a, const char* b, int32_t depth) {
    if (depth == 8) {
        const int da = static_cast<unsigned char>(*a);
        const int db = static_cast<unsigned char>(*b);
        return std::abs(da - db) / 255.0;
    }
    if (depth == 16) {
        uint16_t sa = 0;
        uint16_t sb = 0;
        std::memcpy(&sa, a, 2);
        std::memcpy(&sb, b, 2);
        return std::abs(static_cast<int>(sa) - static_cast<int>(sb)) / 32768.0;
    }
    float fa = 0.0f;
    float fb = 0.0f;
    std::memcpy(&fa, a, 4);
    std::memcpy(&fb, b, 4);
    if (std::memcmp(a, b, 4) == 0) {
        return 0.0;
    }
    const double d = std::fabs(static_cast<double>(fa) - static_cast<double>(fb));
    if (std::isnan(d)) {
        return std::numeric_limits<double>::infinity();
    }
    return d > 0.0 ? d : 1e-300; // +0 and -0: equal values, different bytes
}

// Compares one frame; returns the largest difference, and prints a line.
double compare_frame(const fs::path& dir_a, const fs::path& dir_b, const FrameEntry& a,
                     const FrameEntry& b) {
    if (a.width != b.width || a.height != b.height || a.depth != b.depth) {
        std::printf("%s: %dx%d at %d bits against %dx%d at %d bits\n", a.file.c_str(), a.width,
                    a.height, a.depth, b.width, b.height, b.depth);
        return std::numeric_limits<double>::infinity();
    }
    const std::vector<char> pixels_a = read_bytes(dir_a / a.file);
    const std::vector<char> pixels_b = read_bytes(dir_b / b.file);
    const std::size_t channel = static_cast<std::size_t>(a.depth / 8);
    const std::size_t expected =
        static_cast<std::size_t>(a.width) * static_cast<std::size_t>(a.height) * 4 * channel;
    if (pixels_a.size() != expected || pixels_b.size() != expected) {
        std::printf("%s: %zu and %zu bytes, expected %zu\n", a.file.c_str(), pixels_a.size(),
                    pixels_b.size(), expected);
        return std::numeric_limits<double>::infinity();
    }
    if (pixels_a == pixels_b) {
        std::printf("%s: identical\n", a.file.c_str());
        return 0.0;
    }
    std::size_t differing = 0;
    double largest = 0.0;
    std::size_t largest_at = 0;
    for (std::size_t i = 0; i < expected; i += channel) {
        const double d = sample_difference(&pixels_a[i], &pixels_b[i], a.depth);
        if (d > 0.0) {
            ++differing;
            if (d > largest) {
                largest = d;
                largest_at = i / channel;
            }
        }
    }
    static const char* const kChannels[] = {"alpha", "red", "green", "blue"};
    const std::size_t pixel = largest_at / 4;
    std::printf("%s: %zu of %zu channels differ, by at most %.9g (%.3f of 1/255), at pixel "
                "(%zu, %zu) %s\n",
                a.file.c_str(), differing, expected / channel, largest, largest * 255.0,
                pixel % static_cast<std::size_t>(a.width),
                pixel / static_cast<std::size_t>(a.width), kChannels[largest_at % 4]);
    return largest;
}

} // namespace

std::string frame_file_name(long frame) {
    char name[32];
    std::snprintf(name, sizeof(name), "frame_%05ld.raw", frame);
    return name;
}

void write_frame_file(const fs::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void write_frame_index(const fs::path& dir, const std::vector<FrameEntry>& entries) {
    std::string index = std::string(kIndexMagic) + "\n";
    for (const FrameEntry& entry : entries) {
        index += entry.file + " " + std::to_string(entry.width) + " " +
                 std::to_string(entry.height) + " " + std::to_string(entry.depth) + "\n";
    }
    write_frame_file(dir / kIndexFile, index.data(), index.size());
}

std::vector<FrameEntry> read_frame_index(const fs::path& dir) {
    const std::vector<char> bytes = read_bytes(dir / kIndexFile);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    if (!std::getline(in, line) || line != kIndexMagic) {
        throw std::runtime_error((dir / kIndexFile).string() + " is not a frame index");
    }
    std::vector<FrameEntry> entries;
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        std::istringstream words(line);
        FrameEntry entry;
        if (!(words >> entry.file >> entry.width >> entry.height >> entry.depth) ||
            entry.file.find_first_of("/\\") != std::string::npos ||
            (entry.depth != 8 && entry.depth != 16 && entry.depth != 32)) {
            throw std::runtime_error((dir / kIndexFile).string() + ": bad line \"" + line + "\"");
        }
        entries.push_back(entry);
    }
    return entries;
}

bool compare_frame_folders(const fs::path& dir_a, const fs::path& dir_b, double max_diff) {
    const std::vector<FrameEntry> index_a = read_frame_index(dir_a);
    const std::vector<FrameEntry> index_b = read_frame_index(dir_b);
    bool ok = true;
    double largest = 0.0;
    for (const FrameEntry& a : index_a) {
        const auto b = std::find_if(index_b.begin(), index_b.end(),
                                    [&](const FrameEntry& e) { return e.file == a.file; });
        if (b == index_b.end()) {
            std::printf("%s: only in %s\n", a.file.c_str(), dir_a.string().c_str());
            ok = false;
            continue;
        }
        const double d = compare_frame(dir_a, dir_b, a, *b);
        largest = std::max(largest, d);
        ok = ok && d <= max_diff;
    }
    for (const FrameEntry& b : index_b) {
        const bool in_a = std::any_of(index_a.begin(), index_a.end(),
                                      [&](const FrameEntry& e) { return e.file == b.file; });
        if (!in_a) {
            std::printf("%s: only in %s\n", b.file.c_str(), dir_b.string().c_str());
            ok = false;
        }
    }
    if (index_a.empty() && index_b.empty()) {
        std::printf("no frames to compare\n");
        ok = false;
    }
    std::printf("%zu frame(s): %s\n", index_a.size(),
                !ok ? "DIFFERENT"
                    : (largest == 0.0 ? "all identical" : "within the allowed difference"));
    return ok;
}

} // namespace hostsim
