// The module's own heap allocations during frames, seen through a replaced
// global allocator: a steady render at one size takes no large block once
// its first frame is done, and every allocation of a frame fails in turn
// without leaking, holding on to host resources or disturbing later frames.
//
// An allocation is the module's when operator new is called from the
// module's code. The module links the C++ runtime dynamically here, so its
// operator new is this file's; under Windows it carries its own runtime and
// nothing here sees its allocations, hence Linux only. Allocations the C++
// runtime makes inside its own compiled functions on the module's behalf are
// not told apart from the host's; the frame path calls none.

#include "effect_fixture.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <dlfcn.h>
#include <link.h>
#include <new>
#include <string>
#include <vector>

namespace {

// ---- the replaced allocator ----

// Every block starts with this, so a freed block says whose it was.
struct alignas(16) Header {
    std::size_t size = 0;
    std::size_t offset = 0; // from the malloc'd base to the block
    uint32_t module = 0;    // 1: allocated by the module's code
};

std::atomic<uintptr_t> module_first{0}; // the module's mapped range
std::atomic<uintptr_t> module_last{0};
std::atomic<bool> counting{false};
std::atomic<int64_t> fail_at{0}; // 1-based, among the module's counted allocations
std::atomic<int64_t> seen{0};
std::atomic<int64_t> large_seen{0};      // above 64 KiB
std::atomic<int64_t> live_blocks{0};     // the module's, not yet freed
std::atomic<bool> failed_quietly{false}; // the failed allocation was a nothrow one

constexpr std::size_t kLarge = std::size_t{64} << 10;

bool from_module(const void* caller) {
    const auto at = reinterpret_cast<uintptr_t>(caller);
    return at >= module_first.load() && at < module_last.load();
}

// Null when the allocation is the one to fail.
void* allocate(std::size_t size, std::size_t align, const void* caller, bool nothrow) {
    const bool mine = from_module(caller);
    if (mine && counting.load()) {
        const int64_t n = ++seen;
        if (n == fail_at.load()) {
            failed_quietly = nothrow;
            return nullptr;
        }
        if (size > kLarge) {
            ++large_seen;
        }
    }
    const std::size_t lead = align > sizeof(Header) ? align : sizeof(Header);
    const std::size_t total = (lead + size + align - 1) / align * align;
    void* base =
        align > alignof(std::max_align_t) ? std::aligned_alloc(align, total) : std::malloc(total);
    if (base == nullptr) {
        return nullptr;
    }
    auto* block = static_cast<std::byte*>(base) + lead;
    auto* header = reinterpret_cast<Header*>(block) - 1;
    *header = Header{size, lead, mine ? 1u : 0u};
    if (mine) {
        ++live_blocks;
    }
    return block;
}

void release(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    const Header* header = static_cast<Header*>(block) - 1;
    if (header->module != 0) {
        --live_blocks;
    }
    std::free(static_cast<std::byte*>(block) - header->offset);
}

void* allocate_or_throw(std::size_t size, std::size_t align, const void* caller) {
    void* block = allocate(size, align, caller, false);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

} // namespace

#define POINTILLO_CALLER __builtin_return_address(0)
constexpr std::size_t kPlain = alignof(std::max_align_t);

__attribute__((noinline)) void* operator new(std::size_t size) {
    return allocate_or_throw(size, kPlain, POINTILLO_CALLER);
}
__attribute__((noinline)) void* operator new[](std::size_t size) {
    return allocate_or_throw(size, kPlain, POINTILLO_CALLER);
}
__attribute__((noinline)) void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, kPlain, POINTILLO_CALLER, true);
}
__attribute__((noinline)) void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size, kPlain, POINTILLO_CALLER, true);
}
__attribute__((noinline)) void* operator new(std::size_t size, std::align_val_t align) {
    return allocate_or_throw(size, static_cast<std::size_t>(align), POINTILLO_CALLER);
}
__attribute__((noinline)) void* operator new[](std::size_t size, std::align_val_t align) {
    return allocate_or_throw(size, static_cast<std::size_t>(align), POINTILLO_CALLER);
}
__attribute__((noinline)) void* operator new(std::size_t size, std::align_val_t align,
                                             const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(align), POINTILLO_CALLER, true);
}
__attribute__((noinline)) void* operator new[](std::size_t size, std::align_val_t align,
                                               const std::nothrow_t&) noexcept {
    return allocate(size, static_cast<std::size_t>(align), POINTILLO_CALLER, true);
}
void operator delete(void* block) noexcept {
    release(block);
}
void operator delete[](void* block) noexcept {
    release(block);
}
void operator delete(void* block, std::size_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    release(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
    release(block);
}
void operator delete(void* block, std::size_t, std::align_val_t) noexcept {
    release(block);
}
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept {
    release(block);
}
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    release(block);
}
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
    release(block);
}

namespace pointillo::test {
namespace {

// The loaded range of the shared object holding `code`.
void find_module_range(const void* code) {
    Dl_info info{};
    ASSERT_NE(dladdr(code, &info), 0);
    struct Search {
        const void* base;
        uintptr_t first;
        uintptr_t last;
    } search{info.dli_fbase, UINTPTR_MAX, 0};
    dl_iterate_phdr(
        [](dl_phdr_info* object, std::size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            uintptr_t first = UINTPTR_MAX;
            uintptr_t last = 0;
            for (int i = 0; i < object->dlpi_phnum; ++i) {
                const ElfW(Phdr)& segment = object->dlpi_phdr[i];
                if (segment.p_type == PT_LOAD) {
                    first = std::min<uintptr_t>(first, object->dlpi_addr + segment.p_vaddr);
                    last = std::max<uintptr_t>(last, object->dlpi_addr + segment.p_vaddr +
                                                         segment.p_memsz);
                }
            }
            if (first <= reinterpret_cast<uintptr_t>(s->base) &&
                reinterpret_cast<uintptr_t>(s->base) < last) {
                s->first = first;
                s->last = last;
                return 1;
            }
            return 0;
        },
        &search);
    ASSERT_LT(search.first, search.last) << "the module's segments were not found";
    module_first = search.first;
    module_last = search.last;
}

class Allocations : public EffectTest {
  protected:
    void SetUp() override {
        find_module_range(reinterpret_cast<const void*>(module.effect_main()));
        EffectTest::SetUp();
        // Pieces on one host thread: on more, how many tile buffers the pool
        // hands out at once, and so the count of allocations, varies from run
        // to run. A failing allocation still meets the pieces' handling.
        hostsim::IterateSettings one_thread;
        one_thread.threads = 1;
        host.iterate.set(one_thread);
        fill_slot(1, add_word(120, 60, 3, {1.0f, 0.8f, 0.3f, 0.1f}));
        fill_slot(2, add_word(140, 70, 5, {0.5f, 0.1f, 0.2f, 0.5f}));
        instance.set_value("Enable Additional Particles", 1);
    }
    void TearDown() override {
        counting = false;
        fail_at = 0;
        EffectTest::TearDown();
    }

    // Global set-down and set-up again: no cloud cached, the pool empty.
    void reload() {
        hostsim::CommandIo setdown;
        ASSERT_EQ(hostsim::send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETDOWN, setdown),
                  PF_Err_NONE);
        hostsim::CommandIo setup;
        ASSERT_EQ(hostsim::send_command(host, module, nullptr, PF_Cmd_GLOBAL_SETUP, setup),
                  PF_Err_NONE);
    }

    // Renders `request` counting the module's allocations; fails the k-th.
    hostsim::FrameResult counted(const hostsim::FrameCall& request, int64_t fail = 0) {
        seen = 0;
        large_seen = 0;
        fail_at = fail;
        failed_quietly = false;
        counting = true;
        hostsim::FrameResult result = render(request);
        counting = false;
        fail_at = 0;
        return result;
    }
};

TEST_F(Allocations, ASteadyRenderTakesNoLargeBlockAfterItsFirstFrame) {
    // Large words at a fine spacing: the dot and tile lists are well above
    // 64 KiB.
    fill_slot(1, add_word(400, 200, 3, {1.0f, 0.8f, 0.3f, 0.1f}));
    fill_slot(2, add_word(420, 210, 5, {0.5f, 0.1f, 0.2f, 0.5f}));
    instance.set_value("Spacing", 2);
    const int32_t frames = 6;
    for (int32_t f = 0; f < frames; ++f) {
        hostsim::FrameCall request = frame_at(1.3 + 0.05 * f); // consecutive, mid-transition
        request.width = 480;
        request.height = 270;
        const hostsim::FrameResult result = counted(request);
        ASSERT_TRUE(result.ok()) << result.return_msg;
        ASSERT_GT(seen.load(), 0) << "the module's allocations are not seen";
        if (f == 0) {
            EXPECT_GT(large_seen.load(), 0)
                << "a first frame takes its buffers: the test sees them";
        } else {
            EXPECT_EQ(large_seen.load(), 0) << "frame " << f;
        }
    }
}

TEST_F(Allocations, EveryAllocationOfAFrameFailsInTurn) {
    // A short life keeps the history to three moving samples.
    instance.set_value("Life (seconds)", 0.15);
    instance.set_value("Life Randomness (%)", 0.0);
    const hostsim::FrameCall frame = frame_at(1.4);
    const hostsim::FrameResult clean = render(frame);
    ASSERT_TRUE(clean.ok()) << clean.return_msg;
    const std::vector<std::byte> clean_pixels = hostsim::packed_output(clean);

    reload();
    const int64_t held_when_empty = live_blocks.load();

    enum class Pool { kEmpty, kWarm };
    for (const Pool pool : {Pool::kEmpty, Pool::kWarm}) {
        const char* const state = pool == Pool::kEmpty ? "pool empty" : "pool warm";
        // Both clouds missing from the cache; the pool as the row says. The
        // warm-up frame has another seed, so its clouds are not the frame's.
        const auto prepare = [&] {
            reload();
            if (pool == Pool::kWarm) {
                instance.set_value("Random Seed", 7);
                ASSERT_TRUE(render(frame).ok());
                instance.set_value("Random Seed", 42);
            }
        };
        prepare();
        const hostsim::FrameResult counted_run = counted(frame);
        ASSERT_TRUE(counted_run.ok()) << state;
        ASSERT_TRUE(hostsim::packed_output(counted_run) == clean_pixels) << state;
        const int64_t total = seen.load();
        ASSERT_GT(total, 10) << state;

        for (int64_t k = 1; k <= total; ++k) {
            const std::string row = std::string(state) + ", allocation " + std::to_string(k) +
                                    " of " + std::to_string(total);
            prepare();
            const hostsim::FrameResult failed = counted(frame, k);
            const PF_Err err = failed.rendered ? failed.render_err : failed.pre_render_err;
            if (failed_quietly.load()) {
                // A buffer the standard library only hopes for (stable_sort's):
                // without it the same result comes more slowly.
                EXPECT_EQ(err, PF_Err_NONE) << row;
                EXPECT_TRUE(hostsim::packed_output(failed) == clean_pixels) << row;
            } else {
                EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY) << row;
                EXPECT_EQ(failed.return_msg, "") << row;
            }
            EXPECT_EQ(failed.pre_render_data_deletions, failed.pre_render_data_adopted ? 1 : 0)
                << row;
            EXPECT_EQ(host.outstanding_report(), "all clean") << row;

            // The cache and the pool as the failed frame left them serve the
            // next frame, which is the clean one.
            const hostsim::FrameResult next = render(frame);
            ASSERT_TRUE(next.ok()) << row << ": the next frame failed: " << next.return_msg;
            EXPECT_TRUE(hostsim::packed_output(next) == clean_pixels)
                << row << ": the next frame differs";

            // Set-down lets go of every cloud and pooled block: the module
            // holds what it held after the first set-down.
            reload();
            EXPECT_EQ(live_blocks.load(), held_when_empty) << row << ": blocks kept or lost";
            if (testing::Test::HasFailure()) {
                break; // one bad row says enough
            }
        }
    }
}

} // namespace
} // namespace pointillo::test
