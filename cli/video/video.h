#pragma once

#include "cli/run/frame_range.h"
#include "common/pixel_view.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pointillo {

// .mp4: H.264; .gif: a palette GIF; .mov: ProRes 4444 with alpha; .webm: VP9
// with alpha.
enum class VideoFormat { Mp4, Gif, Mov, Webm };

// The format a video file name asks for (by its extension, any case), or
// nullopt.
std::optional<VideoFormat> video_format_of(const std::filesystem::path& file);

// Whether the format keeps the frames' alpha.
bool video_has_alpha(VideoFormat format);

// Named quality levels for .mp4 and .webm. High, the default, keeps small
// dots clean in 4:2:0 colour, which every player plays; Max keeps full colour
// resolution in .mp4 (4:4:4, which some players and browsers cannot play).
enum class VideoQuality { Draft, High, Max };

std::optional<VideoQuality> video_quality_of(std::string_view name);

// The constant rate factor a level uses for a format: x264's (0 to 51) for
// .mp4, libvpx's (0 to 63) for .webm; nullopt for the formats without one.
std::optional<int32_t> video_crf(VideoFormat format, VideoQuality quality);
// The largest --crf a format takes, or nullopt.
std::optional<int32_t> video_max_crf(VideoFormat format);

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
    VideoQuality quality = VideoQuality::High;
    std::optional<int32_t> crf; // replaces the level's rate factor
    // After each frame handed to the encoder: frames done, frames in all.
    std::function<void(int32_t done, int32_t total)> progress;
};

// The ffmpeg command line that reads raw frames of width x height from
// standard input and writes job.file in `format`: RGB (RGBA for the alpha
// formats) at 8 bits at depth 8, 16-bit little-endian otherwise. Colour is
// converted and tagged as BT.709 in limited range.
std::vector<std::string> ffmpeg_arguments(const std::filesystem::path& ffmpeg, const VideoJob& job,
                                          int32_t width, int32_t height, VideoFormat format);

// Packed pixels of one written frame as the encoder reads them. Without alpha
// the frame is composited over black (the premultiplied colour); with alpha
// the colour is straight, as the alpha formats expect: a PNG's own samples, an
// OpenEXR frame's premultiplied floats divided by alpha. `pad_even` repeats
// the last column and row to even sides (4:2:0 H.264), so the padding takes
// the frame's edge, never black.
struct VideoPixels {
    int32_t width = 0; // after padding
    int32_t height = 0;
    std::vector<uint8_t> bytes;
};
VideoPixels video_pixels(const std::filesystem::path& frame_file, PixelDepth depth, bool alpha,
                         bool pad_even);

// Reads the written frames back in order and pipes them to ffmpeg, which
// writes a hidden temporary file beside job.file; only when ffmpeg succeeds
// is it renamed to job.file, so an interrupted or failed encode leaves an
// older video untouched. Stops early when `cancel` rises. Throws
// RenderFailure when a frame is missing or unreadable or ffmpeg fails.
void encode_video(const std::filesystem::path& ffmpeg, const VideoJob& job,
                  const std::atomic<bool>& cancel);

} // namespace pointillo
