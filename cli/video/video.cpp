#include "cli/video/video.h"

#include "cli/base/errors.h"
#include "cli/base/files.h"
#include "cli/frames/exr_io.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/png_io.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <pthread.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace pointillo {

namespace {

std::vector<uint8_t> read_all(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw RenderFailure("video: cannot read " + path.string());
    }
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

bool write_all(int fd, const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// Writing to an encoder that has quit raises SIGPIPE, which would end the
// process; while this lives SIGPIPE is blocked for the calling thread, so the
// write fails with EPIPE instead, and a SIGPIPE left pending is taken off
// before the old mask returns.
struct SigpipeBlock {
    sigset_t previous;
    SigpipeBlock() {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
    }
    ~SigpipeBlock() {
        sigset_t pipe_only;
        sigemptyset(&pipe_only);
        sigaddset(&pipe_only, SIGPIPE);
        const timespec no_wait{0, 0};
        while (sigtimedwait(&pipe_only, nullptr, &no_wait) == SIGPIPE) {
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }
    SigpipeBlock(const SigpipeBlock&) = delete;
    SigpipeBlock& operator=(const SigpipeBlock&) = delete;
};

// The running encoder: its pid and the write end of its standard input.
struct Encoder {
    pid_t pid = -1;
    int input = -1;

    // Closes the pipe and waits; the exit status, or -1.
    int finish() {
        if (input >= 0) {
            ::close(input);
            input = -1;
        }
        if (pid < 0) {
            return -1;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        if (WIFEXITED(status)) {
            return WEXITSTATUS(status);
        }
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    }
    ~Encoder() { finish(); }
};

void start_encoder(Encoder& encoder, const std::vector<std::string>& arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw RenderFailure(std::string("video: cannot create a pipe: ") + std::strerror(errno));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The encoder starts with SIGPIPE at its default action and unblocked,
    // whatever this thread has done with it.
    sigset_t pipe_only;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    sigdelset(&mask, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &pipe_only);
    posix_spawnattr_setsigmask(&attributes, &mask);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[0]);
    if (error != 0) {
        ::close(fds[1]);
        throw RenderFailure("video: cannot start " + arguments[0] + ": " + std::strerror(error));
    }
    encoder.pid = pid;
    encoder.input = fds[1];
}

} // namespace

std::optional<VideoFormat> video_format_of(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".mp4") {
        return VideoFormat::Mp4;
    }
    if (extension == ".gif") {
        return VideoFormat::Gif;
    }
    if (extension == ".mov") {
        return VideoFormat::Mov;
    }
    if (extension == ".webm") {
        return VideoFormat::Webm;
    }
    return std::nullopt;
}

bool video_has_alpha(VideoFormat format) {
    return format == VideoFormat::Mov || format == VideoFormat::Webm;
}

std::optional<VideoQuality> video_quality_of(std::string_view name) {
    if (name == "draft") {
        return VideoQuality::Draft;
    }
    if (name == "high") {
        return VideoQuality::High;
    }
    if (name == "max") {
        return VideoQuality::Max;
    }
    return std::nullopt;
}

std::optional<int32_t> video_crf(VideoFormat format, VideoQuality quality) {
    // Measured on small coloured dots in 4:2:0 (see the README): x264's own
    // default of 23 leaves blotches and colour smears; 16 is within 1.5 dB
    // of what 4:2:0 allows at all.
    switch (format) {
    case VideoFormat::Mp4:
        return quality == VideoQuality::Draft ? 26 : quality == VideoQuality::High ? 16 : 10;
    case VideoFormat::Webm:
        return quality == VideoQuality::Draft ? 40 : quality == VideoQuality::High ? 20 : 12;
    default:
        return std::nullopt;
    }
}

std::optional<int32_t> video_max_crf(VideoFormat format) {
    switch (format) {
    case VideoFormat::Mp4:
        return 51;
    case VideoFormat::Webm:
        return 63;
    default:
        return std::nullopt;
    }
}

std::optional<std::filesystem::path> find_program(std::string_view name,
                                                  std::string_view search_path) {
    size_t start = 0;
    while (start <= search_path.size()) {
        size_t end = search_path.find(':', start);
        if (end == std::string_view::npos) {
            end = search_path.size();
        }
        // An empty entry means the current folder.
        const std::string_view folder = search_path.substr(start, end - start);
        const std::filesystem::path candidate =
            std::filesystem::path(folder.empty() ? "." : std::string(folder)) / std::string(name);
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            ::access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> ffmpeg_arguments(const std::filesystem::path& ffmpeg, const VideoJob& job,
                                          int32_t width, int32_t height, VideoFormat format) {
    const bool alpha = video_has_alpha(format);
    const bool deep = job.depth != PixelDepth::k8;
    const char* input = alpha ? (deep ? "rgba64le" : "rgba") : (deep ? "rgb48le" : "rgb24");
    std::vector<std::string> args = {ffmpeg.string(),
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-y",
                                     "-f",
                                     "rawvideo",
                                     "-pix_fmt",
                                     input,
                                     "-video_size",
                                     std::to_string(width) + "x" + std::to_string(height),
                                     "-framerate",
                                     std::to_string(job.time_scale) + "/1000",
                                     "-i",
                                     "pipe:0"};
    if (format == VideoFormat::Gif) {
        args.insert(args.end(), {"-filter_complex", "split[a][b];[a]palettegen[p];[b][p]paletteuse",
                                 "-loop", "0", "-f", "gif"});
        args.push_back(job.file.string());
        return args;
    }
    // RGB to YUV by the BT.709 matrix, limited range, chroma from every
    // pixel, and the frames tagged so (the ProRes encoder takes its tags
    // from the frames, not from the options): ffmpeg would otherwise convert
    // by BT.601 and tag nothing.
    const auto yuv = [](const char* pixel_format) {
        return std::string("scale=out_color_matrix=bt709:out_range=tv:"
                           "flags=lanczos+accurate_rnd+full_chroma_int,format=") +
               pixel_format +
               ",setparams=colorspace=bt709:color_primaries=bt709:color_trc=bt709:range=tv";
    };
    const int32_t crf = job.crf.value_or(video_crf(format, job.quality).value_or(0));
    const std::string crf_text = std::to_string(crf);
    switch (format) {
    case VideoFormat::Mp4: {
        const char* pixels = job.quality == VideoQuality::Max ? "yuv444p" : "yuv420p";
        const char* preset = job.quality == VideoQuality::Draft ? "veryfast"
                             : job.quality == VideoQuality::Max ? "slow"
                                                                : "medium";
        args.insert(args.end(), {"-vf", yuv(pixels), "-pix_fmt", pixels, "-c:v", "libx264",
                                 "-preset", preset, "-crf", crf_text, "-movflags", "+faststart"});
        break;
    }
    case VideoFormat::Mov:
        args.insert(args.end(),
                    {"-vf", yuv("yuva444p10le"), "-pix_fmt", "yuva444p10le", "-c:v", "prores_ks",
                     "-profile:v", "4444", "-alpha_bits", "16", "-vendor", "apl0"});
        break;
    case VideoFormat::Webm:
        args.insert(args.end(), {"-vf", yuv("yuva420p"), "-pix_fmt", "yuva420p", "-c:v",
                                 "libvpx-vp9", "-crf", crf_text, "-b:v", "0", "-row-mt", "1",
                                 // Alpha is coded in a second stream, which these
                                 // reference frames would break.
                                 "-auto-alt-ref", "0"});
        break;
    case VideoFormat::Gif:
        break;
    }
    args.insert(args.end(), {"-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                             "bt709", "-color_range", "tv", "-f",
                             format == VideoFormat::Mp4   ? "mp4"
                             : format == VideoFormat::Mov ? "mov"
                                                          : "webm"});
    args.push_back(job.file.string());
    return args;
}

VideoPixels video_pixels(const std::filesystem::path& frame_file, PixelDepth depth, bool alpha,
                         bool pad_even) {
    const std::vector<uint8_t> file = read_all(frame_file);
    VideoPixels out;
    const size_t channels = alpha ? 4 : 3;
    const size_t sample_bytes = depth == PixelDepth::k8 ? 1 : 2;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t>& bytes = out.bytes;
    const auto put = [&bytes, sample_bytes](uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        if (sample_bytes == 2) {
            bytes.push_back(static_cast<uint8_t>(v >> 8));
        }
    };
    const auto to16 = [](float v) {
        const float clamped = !(v > 0.0f) ? 0.0f : (v < 1.0f ? v : 1.0f);
        return static_cast<uint32_t>(clamped * 65535.0f + 0.5f);
    };
    try {
        if (depth == PixelDepth::k32) {
            const ArgbImage image = decode_exr(file);
            width = image.width;
            height = image.height;
            bytes.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * channels * 2);
            for (size_t p = 0; p < image.samples32.size(); p += 4) {
                const float a = image.samples32[p];
                for (size_t c = 1; c < 4; ++c) {
                    const float v = image.samples32[p + c];
                    // Straight colour for the alpha formats; 0 where nothing covers.
                    put(to16(!alpha ? v : (a > 0.0f ? v / a : 0.0f)));
                }
                if (alpha) {
                    put(to16(a));
                }
            }
        } else {
            const StraightImage image = decode_png(file);
            width = image.width;
            height = image.height;
            const uint32_t full = image.bits == 16 ? 65535 : 255;
            bytes.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * channels *
                          sample_bytes);
            for (size_t p = 0; p < image.samples.size(); p += 4) {
                const uint32_t a = image.samples[p + 3];
                for (size_t c = 0; c < 3; ++c) {
                    const uint32_t v = image.samples[p + c];
                    put(alpha ? v : (v * a + full / 2) / full);
                }
                if (alpha) {
                    put(a);
                }
            }
        }
    } catch (const RenderFailure&) {
        throw;
    } catch (const std::exception& e) {
        throw RenderFailure("video: " + frame_file.string() + ": " + e.what());
    }
    out.width = width;
    out.height = height;
    const size_t pixel = channels * sample_bytes;
    if (pad_even && width % 2 != 0) {
        std::vector<uint8_t> wider;
        const size_t row = static_cast<size_t>(width) * pixel;
        wider.reserve((row + pixel) * static_cast<size_t>(height));
        for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
            const auto begin = bytes.begin() + static_cast<ptrdiff_t>(y * row);
            wider.insert(wider.end(), begin, begin + static_cast<ptrdiff_t>(row));
            wider.insert(wider.end(), begin + static_cast<ptrdiff_t>(row - pixel),
                         begin + static_cast<ptrdiff_t>(row));
        }
        bytes = std::move(wider);
        ++out.width;
    }
    if (pad_even && height % 2 != 0 && height > 0) {
        const size_t row = static_cast<size_t>(out.width) * pixel;
        // A copy first: a vector cannot insert a range of itself.
        const std::vector<uint8_t> last(bytes.end() - static_cast<ptrdiff_t>(row), bytes.end());
        bytes.insert(bytes.end(), last.begin(), last.end());
        ++out.height;
    }
    return out;
}

void encode_video(const std::filesystem::path& ffmpeg, const VideoJob& job,
                  const std::atomic<bool>& cancel) {
    const auto format = video_format_of(job.file);
    if (!format) {
        throw RenderFailure("video: " + job.file.string() + " is not .mp4, .gif, .mov or .webm");
    }
    const bool alpha = video_has_alpha(*format);
    const bool pad_even = *format == VideoFormat::Mp4;
    VideoJob temporary = job;
    temporary.file = temporary_path_for(job.file);
    // Whatever happens before the rename, the half-written file goes.
    struct Remover {
        std::filesystem::path path;
        ~Remover() {
            std::error_code ec;
            std::filesystem::remove(path, ec);
        }
    } const remover{temporary.file};

    const SigpipeBlock no_sigpipe;
    Encoder encoder;
    int32_t width = 0;
    int32_t height = 0;
    bool stopped = false;
    for (int32_t frame = job.frames.first; frame <= job.frames.last; ++frame) {
        if (cancel.load()) {
            return;
        }
        const std::filesystem::path path = job.frames_dir / frame_file_name(frame, job.depth);
        const VideoPixels pixels = video_pixels(path, job.depth, alpha, pad_even);
        if (encoder.pid < 0) {
            width = pixels.width;
            height = pixels.height;
            start_encoder(encoder, ffmpeg_arguments(ffmpeg, temporary, width, height, *format));
        } else if (pixels.width != width || pixels.height != height) {
            throw RenderFailure("video: " + path.string() + " is " + std::to_string(pixels.width) +
                                " x " + std::to_string(pixels.height) + ", the first frame " +
                                std::to_string(width) + " x " + std::to_string(height));
        }
        if (!write_all(encoder.input, pixels.bytes)) {
            stopped = true; // the encoder quit; its status says why
            break;
        }
        if (job.progress) {
            job.progress(frame - job.frames.first + 1, job.frames.count());
        }
    }
    const int status = encoder.finish();
    if (cancel.load()) {
        return;
    }
    if (status != 0 || stopped) {
        throw RenderFailure("video: ffmpeg failed (exit status " + std::to_string(status) +
                            ") writing " + job.file.string());
    }
    std::error_code ec;
    std::filesystem::rename(temporary.file, job.file, ec);
    if (ec) {
        throw RenderFailure("video: cannot rename the finished " + temporary.file.string() +
                            " to " + job.file.string() + ": " + ec.message());
    }
}

} // namespace pointillo
