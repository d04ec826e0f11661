#include "cli/errors.h"
#include "cli/files.h"
#include "cli/frame_file.h"
#include "cli/video.h"
#include "test_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace pointillo {
namespace {

using testing_support::TempDir;

TEST(Video, FormatsByExtension) {
    EXPECT_EQ(video_format_of("a.mp4"), VideoFormat::Mp4);
    EXPECT_EQ(video_format_of("dir.x/A.MP4"), VideoFormat::Mp4);
    EXPECT_EQ(video_format_of("b.gif"), VideoFormat::Gif);
    for (const char* bad : {"a.avi", "mp4", "a.mp4.txt", "a", ".gif.png"}) {
        EXPECT_FALSE(video_format_of(bad).has_value()) << bad;
    }
}

TEST(Video, FindsExecutablesOnTheSearchPath) {
    const TempDir dir;
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    std::filesystem::create_directories(dir / "c" / "tool");
    testing_support::write_text(dir / "a" / "tool", "not executable");
    testing_support::write_text(dir / "b" / "tool", "#!/bin/sh\n");
    ::chmod((dir / "b" / "tool").c_str(), 0755);
    const std::string a = (dir / "a").string();
    const std::string b = (dir / "b").string();
    const std::string c = (dir / "c").string();
    EXPECT_EQ(find_program("tool", a + ":" + c + ":" + b), dir / "b" / "tool");
    EXPECT_FALSE(find_program("tool", a + ":" + c).has_value());
    EXPECT_FALSE(find_program("tool", "").has_value());
}

TEST(Video, CommandLinesForBothFormats) {
    VideoJob job;
    job.file = "out/demo.mp4";
    job.time_scale = 29970;
    const auto mp4 = ffmpeg_arguments("/usr/bin/ffmpeg", job, 641, 360, VideoFormat::Mp4);
    const auto has = [](const std::vector<std::string>& args, const std::string& a,
                        const std::string& b) {
        for (size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == a && args[i + 1] == b) {
                return true;
            }
        }
        return false;
    };
    EXPECT_EQ(mp4.front(), "/usr/bin/ffmpeg");
    EXPECT_EQ(mp4.back(), "out/demo.mp4");
    EXPECT_TRUE(has(mp4, "-framerate", "29970/1000"));
    EXPECT_TRUE(has(mp4, "-video_size", "641x360"));
    EXPECT_TRUE(has(mp4, "-pix_fmt", "rgb24"));
    EXPECT_TRUE(has(mp4, "-pix_fmt", "yuv420p"));
    EXPECT_TRUE(has(mp4, "-i", "pipe:0"));

    job.file = "a.gif";
    job.depth = PixelDepth::k16;
    const auto gif = ffmpeg_arguments("ffmpeg", job, 8, 8, VideoFormat::Gif);
    EXPECT_TRUE(has(gif, "-pix_fmt", "rgb48le"));
    EXPECT_EQ(gif.back(), "a.gif");
}

std::optional<std::filesystem::path> system_ffmpeg() {
    const char* path = std::getenv("PATH");
    return find_program("ffmpeg", path != nullptr ? path : "");
}

void write_frames(const TempDir& dir, PixelDepth depth, int32_t count, int32_t width = 10,
                  int32_t height = 6) {
    for (int32_t n = 0; n < count; ++n) {
        ArgbImage frame = make_argb_image(width, height, depth);
        for (size_t p = 0; p < static_cast<size_t>(width) * static_cast<size_t>(height); ++p) {
            const bool lit = static_cast<int32_t>(p % 10) == n;
            if (depth == PixelDepth::k8) {
                frame.samples8[p * 4] = 255;
                frame.samples8[p * 4 + 1] = lit ? 255 : 0;
            } else if (depth == PixelDepth::k16) {
                frame.samples16[p * 4] = 32768;
                frame.samples16[p * 4 + 2] = lit ? 32768 : 0;
            } else {
                frame.samples32[p * 4] = 1.0f;
                frame.samples32[p * 4 + 3] = lit ? 1.0f : 0.0f;
            }
        }
        write_file_atomically(dir / frame_file_name(n, depth), encode_frame_file(frame, {}));
    }
}

TEST(Video, EncodesWrittenFramesWithFfmpeg) {
    const auto ffmpeg = system_ffmpeg();
    if (!ffmpeg) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    struct Row {
        PixelDepth depth;
        const char* file;
        std::string magic;
        size_t offset;
    };
    const Row rows[] = {{PixelDepth::k8, "a.gif", "GIF89a", 0},
                        {PixelDepth::k16, "b.mp4", "ftyp", 4},
                        {PixelDepth::k32, "c.mp4", "ftyp", 4}};
    for (const Row& row : rows) {
        const TempDir dir;
        write_frames(dir, row.depth, 3);
        VideoJob job;
        job.file = dir / row.file;
        job.frames_dir = dir.path;
        job.frames = FrameRange{0, 2};
        job.depth = row.depth;
        job.time_scale = 10000;
        const std::atomic<bool> cancel{false};
        encode_video(*ffmpeg, job, cancel);
        const std::vector<uint8_t> bytes = testing_support::read_bytes(job.file);
        ASSERT_GT(bytes.size(), row.offset + row.magic.size()) << row.file;
        EXPECT_EQ(
            std::string(bytes.begin() + static_cast<ptrdiff_t>(row.offset),
                        bytes.begin() + static_cast<ptrdiff_t>(row.offset + row.magic.size())),
            row.magic)
            << row.file;
    }
}

TEST(Video, AMissingFrameIsARenderFailure) {
    const TempDir dir;
    write_frames(dir, PixelDepth::k8, 2);
    VideoJob job;
    job.file = dir / "a.gif";
    job.frames_dir = dir.path;
    job.frames = FrameRange{0, 2};
    const std::atomic<bool> cancel{false};
    EXPECT_THROW(encode_video("/bin/false", job, cancel), RenderFailure);
}

TEST(Video, AnEncoderThatQuitsEarlyIsAFailureNotASignal) {
    // Frames far larger than a pipe's buffer, and an "encoder" that reads
    // nothing: the write fails with a broken pipe, which must not end the
    // process.
    const TempDir dir;
    write_frames(dir, PixelDepth::k8, 3, 400, 300);
    VideoJob job;
    job.file = dir / "a.mp4";
    job.frames_dir = dir.path;
    job.frames = FrameRange{0, 2};
    const std::atomic<bool> cancel{false};
    try {
        encode_video("/bin/false", job, cancel);
        FAIL() << "no failure reported";
    } catch (const RenderFailure& e) {
        EXPECT_NE(std::string(e.what()).find("exit status 1"), std::string::npos) << e.what();
    }
}

} // namespace
} // namespace pointillo
