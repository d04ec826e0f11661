#include "cli/program/app.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/ioctl.h>
#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

// Raised by the first Ctrl-C; the effect's abort poll reads it. A second
// Ctrl-C gets the default action and ends the process at once.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read and written in a signal handler");

extern "C" void on_interrupt(int) {
    interrupted.store(true);
}

} // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // Every frame allocates and frees tens of megabytes (canvas, masks,
    // worlds). By default glibc gives such blocks back to the kernel at once,
    // and faulting them in again costs more than drawing the frame; keep them.
    // Measured again beside the core's buffer pool, which keeps only the
    // effect's own buffers (bench_render's workloads, --jobs 2, one run each):
    // without these three settings 120 frames at 1080p take 89,600 page faults
    // instead of 45,100 and 0.32 s of system time instead of 0.15; four float
    // frames at 2160p 594,000 instead of 357,000 and 2.6 s instead of 0.7.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    // Render threads would each get an arena of their own, which serves
    // blocks beyond 64 MB (a 4K float mask, canvas or world) with mmap and
    // unmaps them on free whatever the thresholds say: one arena for all.
    mallopt(M_ARENA_MAX, 1);
#endif
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    std::vector<std::string> args(argv + 1, argv + argc);
    // Owned here, so that it sets the effect down and unloads it before main
    // returns, while the module's static objects still exist.
    pointillo::EffectSession session;
    pointillo::AppContext context = pointillo::effect_app_context(session);
    context.out = &std::cout;
    context.err = &std::cerr;
    context.err_is_terminal = isatty(STDERR_FILENO) != 0;
    // Asked at every redraw, so a resized window gets a fitting line.
    context.terminal_columns = []() -> int32_t {
        winsize size{};
        return ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
    };
    context.cancel = &interrupted;
    if (const char* path = std::getenv("PATH")) {
        context.search_path = path;
    }
    return pointillo::run_app(args, context);
}
