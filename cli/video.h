#pragma once

#include "cli/frame_range.h"
#include "common/pixel_view.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pointillo {

enum class VideoFormat { Mp4, Gif };

// The format a video file name asks for (".mp4" or ".gif", any case), or
// nullopt.
std::optional<VideoFormat> video_format_of(const std::filesystem::path& file);

// The first executable `name` in the colon-separated `search_path` (the value
// of PATH), or nullopt.
std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  std::string_view search_path);

struct VideoJob {
    std::filesystem::path file;
    std::filesystem::path frames_dir;
    FrameRange frames;
    PixelDepth depth = PixelDepth::k8;
    int32_t time_scale = 30000; // frames are 1000 units apart
};

// The ffmpeg command line for raw frames of width x height on standard input:
// 8-bit RGB at depth 8, 16-bit little-endian RGB otherwise.
std::vector<std::string> ffmpeg_arguments(const std::filesystem::path& ffmpeg, const VideoJob& job,
                                          int32_t width, int32_t height, VideoFormat format);

// Reads the written frames back in order, composites them over black (the
// premultiplied colour, since video has no alpha) and pipes them to ffmpeg.
// Stops early when `cancel` rises. Throws RenderFailure when a frame is
// missing or unreadable or ffmpeg fails.
void encode_video(const std::filesystem::path& ffmpeg, const VideoJob& job,
                  const std::atomic<bool>& cancel);

} // namespace pointillo
