#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/frames/frame_file.h"
#include "cli/video/video.h"
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
    EXPECT_EQ(video_format_of("c.MOV"), VideoFormat::Mov);
    EXPECT_EQ(video_format_of("d.webm"), VideoFormat::Webm);
    EXPECT_TRUE(video_has_alpha(VideoFormat::Mov));
    EXPECT_TRUE(video_has_alpha(VideoFormat::Webm));
    EXPECT_FALSE(video_has_alpha(VideoFormat::Mp4));
    for (const char* bad : {"a.avi", "mp4", "a.mp4.txt", "a", ".gif.png", "a.mkv"}) {
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

    // Colour converted and tagged as BT.709; the rate factor by level or --crf.
    struct Row {
        VideoFormat format;
        VideoQuality quality;
        std::optional<int32_t> crf;
        std::vector<std::pair<std::string, std::string>> pairs;
    };
    const Row rows[] = {
        {VideoFormat::Mp4,
         VideoQuality::High,
         std::nullopt,
         {{"-crf", "16"}, {"-pix_fmt", "yuv420p"}, {"-c:v", "libx264"}, {"-f", "mp4"}}},
        {VideoFormat::Mp4, VideoQuality::Draft, std::nullopt, {{"-crf", "26"}}},
        {VideoFormat::Mp4,
         VideoQuality::Max,
         std::nullopt,
         {{"-crf", "10"}, {"-pix_fmt", "yuv444p"}}},
        {VideoFormat::Mp4, VideoQuality::High, 30, {{"-crf", "30"}, {"-pix_fmt", "yuv420p"}}},
        {VideoFormat::Mov,
         VideoQuality::High,
         std::nullopt,
         {{"-pix_fmt", "rgba64le"},
          {"-c:v", "prores_ks"},
          {"-profile:v", "4444"},
          {"-pix_fmt", "yuva444p10le"},
          {"-f", "mov"}}},
        {VideoFormat::Webm,
         VideoQuality::High,
         std::nullopt,
         {{"-pix_fmt", "rgba64le"},
          {"-c:v", "libvpx-vp9"},
          {"-pix_fmt", "yuva420p"},
          {"-crf", "20"},
          {"-b:v", "0"},
          {"-f", "webm"}}},
        {VideoFormat::Webm, VideoQuality::Draft, 50, {{"-crf", "50"}}},
    };
    for (const Row& row : rows) {
        job.quality = row.quality;
        job.crf = row.crf;
        job.file = "v";
        const auto args = ffmpeg_arguments("ffmpeg", job, 8, 8, row.format);
        for (const auto& [a, b] : row.pairs) {
            EXPECT_TRUE(has(args, a, b)) << static_cast<int>(row.format) << ": " << a << " " << b;
        }
        for (const char* tag : {"-colorspace", "-color_primaries", "-color_trc"}) {
            EXPECT_TRUE(has(args, tag, "bt709")) << tag;
        }
        const auto filter = std::find(args.begin(), args.end(), "-vf");
        ASSERT_NE(filter, args.end());
        EXPECT_NE(filter[1].find("out_color_matrix=bt709"), std::string::npos) << filter[1];
        EXPECT_NE(filter[1].find("setparams=colorspace=bt709"), std::string::npos) << filter[1];
    }
}

TEST(Video, PixelsAsTheEncoderReadsThem) {
    const TempDir dir;
    // One pixel: 50% alpha, premultiplied colour (100, 50, 0) of 255; a
    // second opaque pixel.
    ArgbImage frame8 = make_argb_image(2, 1, PixelDepth::k8);
    frame8.samples8 = {128, 100, 50, 0, 255, 10, 20, 30};
    write_file_atomically(dir / "a.png", encode_frame_file(frame8, {}));
    const VideoPixels over_black = video_pixels(dir / "a.png", PixelDepth::k8, false, false);
    EXPECT_EQ(over_black.bytes, (std::vector<uint8_t>{100, 50, 0, 10, 20, 30}));
    const VideoPixels straight = video_pixels(dir / "a.png", PixelDepth::k8, true, false);
    EXPECT_EQ(straight.bytes, (std::vector<uint8_t>{199, 100, 0, 128, 10, 20, 30, 255}));

    ArgbImage frame32 = make_argb_image(1, 1, PixelDepth::k32);
    frame32.samples32 = {0.5f, 0.25f, 0.5f, 0.0f};
    write_file_atomically(dir / "a.exr", encode_frame_file(frame32, {}));
    const auto le16 = [](std::initializer_list<uint32_t> values) {
        std::vector<uint8_t> out;
        for (const uint32_t v : values) {
            out.push_back(static_cast<uint8_t>(v & 0xFF));
            out.push_back(static_cast<uint8_t>(v >> 8));
        }
        return out;
    };
    EXPECT_EQ(video_pixels(dir / "a.exr", PixelDepth::k32, false, false).bytes,
              le16({16384, 32768, 0}));
    EXPECT_EQ(video_pixels(dir / "a.exr", PixelDepth::k32, true, false).bytes,
              le16({32768, 65535, 0, 32768}));
}

TEST(Video, OddSidesArePaddedWithTheFramesEdge) {
    const TempDir dir;
    ArgbImage frame = make_argb_image(3, 3, PixelDepth::k8);
    for (size_t p = 0; p < 9; ++p) {
        frame.samples8[p * 4] = 255;
        frame.samples8[p * 4 + 1] = static_cast<uint8_t>(p * 10);
    }
    write_file_atomically(dir / "a.png", encode_frame_file(frame, {}));
    const VideoPixels padded = video_pixels(dir / "a.png", PixelDepth::k8, false, true);
    EXPECT_EQ(padded.width, 4);
    EXPECT_EQ(padded.height, 4);
    std::vector<uint8_t> reds;
    for (size_t i = 0; i < padded.bytes.size(); i += 3) {
        reds.push_back(padded.bytes[i]);
    }
    EXPECT_EQ(reds, (std::vector<uint8_t>{0, 10, 20, 20, 30, 40, 50, 50, 60, 70, 80, 80, 60, 70, 80,
                                          80}));
    const VideoPixels even = video_pixels(dir / "a.png", PixelDepth::k8, false, false);
    EXPECT_EQ(even.width, 3);
    EXPECT_EQ(even.bytes.size(), 27u);
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
                        {PixelDepth::k32, "c.mp4", "ftyp", 4},
                        {PixelDepth::k8, "d.mov", "ftyp", 4},
                        {PixelDepth::k16, "e.webm", "\x1a\x45\xdf\xa3", 0}};
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
        EXPECT_EQ(testing_support::file_names(dir.path).size(), 4u)
            << row.file << ": three frames and the video, no temporary file";
    }
}

// A video that is being replaced stays whole until the new one is: a failed or
// cancelled encode leaves it as it was, and no temporary file.
TEST(Video, AFailedOrCancelledEncodeKeepsThePreviousVideo) {
    const TempDir dir;
    write_frames(dir, PixelDepth::k8, 3);
    std::filesystem::create_directories(dir / "bin");
    testing_support::write_text(dir / "bin" / "ffmpeg", "#!/bin/sh\ncat >/dev/null\nexit 3\n");
    ::chmod((dir / "bin" / "ffmpeg").c_str(), 0755);
    VideoJob job;
    job.file = dir / "a.mp4";
    job.frames_dir = dir.path;
    job.frames = FrameRange{0, 2};
    testing_support::write_text(job.file, "the previous video");
    const auto names = testing_support::file_names(dir.path);
    const std::atomic<bool> no_cancel{false};
    EXPECT_THROW(encode_video(dir / "bin" / "ffmpeg", job, no_cancel), RenderFailure);
    EXPECT_EQ(testing_support::read_bytes(job.file).size(), 18u);
    EXPECT_EQ(testing_support::file_names(dir.path), names);

    const auto ffmpeg = system_ffmpeg();
    if (!ffmpeg) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    std::atomic<bool> cancel{false};
    job.progress = [&cancel](int32_t done, int32_t total) {
        EXPECT_EQ(total, 3);
        if (done == 2) {
            cancel.store(true);
        }
    };
    encode_video(*ffmpeg, job, cancel);
    EXPECT_EQ(testing_support::read_bytes(job.file).size(), 18u);
    EXPECT_EQ(testing_support::file_names(dir.path), names);

    cancel.store(false);
    job.progress = nullptr;
    encode_video(*ffmpeg, job, cancel);
    EXPECT_GT(testing_support::read_bytes(job.file).size(), 100u) << "replaced when done";
    EXPECT_EQ(testing_support::file_names(dir.path), names);
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
