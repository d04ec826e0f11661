#pragma once

// Folders of rendered frames, as pointillo-replay writes them, and their
// comparison. A folder holds a raw file a frame, frame_<nnnnn>.raw for frame
// number n (the output without row padding: alpha, red, green, blue at the
// depth, little-endian), and frames.txt, a line per frame with its file,
// width, height and depth.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace hostsim {

struct FrameEntry {
    std::string file; // in the folder
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0; // 8, 16 or 32 bits a channel
};

std::string frame_file_name(long frame);

// Writes a file of the folder. std::runtime_error when it cannot.
void write_frame_file(const std::filesystem::path& path, const void* data, std::size_t size);

// Writes the folder's index, replacing any. std::runtime_error when it cannot.
void write_frame_index(const std::filesystem::path& dir, const std::vector<FrameEntry>& entries);
// Reads it. std::runtime_error for a missing or malformed index.
std::vector<FrameEntry> read_frame_index(const std::filesystem::path& dir);

// Compares the frames of two folders byte for byte, printing a line a frame
// and a closing verdict; samples may differ by `max_diff`, a fraction of full
// scale (8 bits: of 255, 16 bits: of 32768; 32 bits: the float difference).
// True when the folders hold the same frames, equal or within that.
bool compare_frame_folders(const std::filesystem::path& dir_a, const std::filesystem::path& dir_b,
                           double max_diff);

} // namespace hostsim
