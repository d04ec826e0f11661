#include "cli/video.h"

#include "cli/errors.h"
#include "cli/exr_io.h"
#include "cli/frame_file.h"
#include "cli/png_io.h"

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

// One frame as packed RGB over black: bytes at depth 8, little-endian 16-bit
// samples otherwise.
std::vector<uint8_t> video_pixels(const std::filesystem::path& path, PixelDepth depth,
                                  int32_t& width, int32_t& height) {
    const std::vector<uint8_t> bytes = read_all(path);
    std::vector<uint8_t> out;
    const auto put16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v & 0xFF));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    try {
        if (depth == PixelDepth::k32) {
            const ArgbImage image = decode_exr(bytes);
            width = image.width;
            height = image.height;
            out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) * 6);
            for (size_t p = 0; p < image.samples32.size(); p += 4) {
                for (int c = 1; c < 4; ++c) {
                    const float v = image.samples32[p + static_cast<size_t>(c)];
                    const float clamped = !(v > 0.0f) ? 0.0f : (v < 1.0f ? v : 1.0f);
                    put16(static_cast<uint32_t>(clamped * 65535.0f + 0.5f));
                }
            }
            return out;
        }
        const StraightImage image = decode_png(bytes);
        width = image.width;
        height = image.height;
        const uint32_t full = image.bits == 16 ? 65535 : 255;
        out.reserve(static_cast<size_t>(width) * static_cast<size_t>(height) *
                    (image.bits == 16 ? 6 : 3));
        for (size_t p = 0; p < image.samples.size(); p += 4) {
            const uint32_t a = image.samples[p + 3];
            for (int c = 0; c < 3; ++c) {
                const uint32_t v =
                    (image.samples[p + static_cast<size_t>(c)] * a + full / 2) / full;
                if (image.bits == 16) {
                    put16(v);
                } else {
                    out.push_back(static_cast<uint8_t>(v));
                }
            }
        }
        return out;
    } catch (const RenderFailure&) {
        throw;
    } catch (const std::exception& e) {
        throw RenderFailure("video: " + path.string() + ": " + e.what());
    }
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
    return std::nullopt;
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
    std::vector<std::string> args = {ffmpeg.string(),
                                     "-hide_banner",
                                     "-loglevel",
                                     "error",
                                     "-y",
                                     "-f",
                                     "rawvideo",
                                     "-pix_fmt",
                                     job.depth == PixelDepth::k8 ? "rgb24" : "rgb48le",
                                     "-video_size",
                                     std::to_string(width) + "x" + std::to_string(height),
                                     "-framerate",
                                     std::to_string(job.time_scale) + "/1000",
                                     "-i",
                                     "pipe:0"};
    if (format == VideoFormat::Gif) {
        args.insert(args.end(), {"-filter_complex", "split[a][b];[a]palettegen[p];[b][p]paletteuse",
                                 "-loop", "0"});
    } else {
        // H.264 in 4:2:0 needs even sides.
        args.insert(args.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2", "-pix_fmt", "yuv420p",
                                 "-movflags", "+faststart"});
    }
    args.push_back(job.file.string());
    return args;
}

void encode_video(const std::filesystem::path& ffmpeg, const VideoJob& job,
                  const std::atomic<bool>& cancel) {
    const auto format = video_format_of(job.file);
    if (!format) {
        throw RenderFailure("video: " + job.file.string() + " is neither .mp4 nor .gif");
    }
    const SigpipeBlock no_sigpipe;
    Encoder encoder;
    int32_t width = 0;
    int32_t height = 0;
    for (int32_t frame = job.frames.first; frame <= job.frames.last; ++frame) {
        if (cancel.load()) {
            return;
        }
        const std::filesystem::path path = job.frames_dir / frame_file_name(frame, job.depth);
        int32_t w = 0;
        int32_t h = 0;
        const std::vector<uint8_t> pixels = video_pixels(path, job.depth, w, h);
        if (encoder.pid < 0) {
            width = w;
            height = h;
            start_encoder(encoder, ffmpeg_arguments(ffmpeg, job, width, height, *format));
        } else if (w != width || h != height) {
            throw RenderFailure("video: " + path.string() + " is " + std::to_string(w) + " x " +
                                std::to_string(h) + ", the first frame " + std::to_string(width) +
                                " x " + std::to_string(height));
        }
        if (!write_all(encoder.input, pixels)) {
            break; // the encoder stopped; its status says why
        }
    }
    const int status = encoder.finish();
    if (status != 0 && !cancel.load()) {
        throw RenderFailure("video: ffmpeg failed (exit status " + std::to_string(status) +
                            ") writing " + job.file.string());
    }
}

} // namespace pointillo
