#pragma once

// Large per-frame buffers (the canvas, the mask planes, the dot lists, the
// tile buffers) come from one process-wide pool instead of the system, so a
// frame reuses the pages of earlier frames rather than faulting fresh ones in
// and clearing them again. Small blocks go to the heap as before: its own free lists
// already serve them without the system.
//
// What the pool keeps idle is bounded three ways:
// - never more bytes than were lent at the busiest moment since the last
//   set-down: several frames rendering at once on several threads each hold
//   their own buffers, and the next round of as many frames then finds all of
//   them idle, while a lone render keeps one frame's worth;
// - never more than kPoolIdleBytesCap bytes nor kPoolIdleBlocksCap blocks,
//   however many frames ran at once: 1 GiB holds the canvases of eight
//   3840x2160 frames or thirty-two at 1920x1080, and the largest canvas
//   there is (64 megapixels); a frame holds about a dozen blocks, its mask
//   planes included, so 128 serve about ten at once and keep the search for
//   a fitting block short;
// - a block that no take has wanted for kPoolStaleTakes takes is freed, so
//   the buffers of an earlier output size do not linger once the size
//   changes.
// The oldest idle block goes first when a bound is met. The pool has no
// thread of its own: when renders stop, what is idle stays, within those
// bounds, until the next render or global set-down, which frees it all.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

namespace pointillo {

// Blocks of at least this many bytes are pooled.
inline constexpr std::size_t kPooledBlockBytes = std::size_t{64} << 10;
inline constexpr std::size_t kPoolIdleBytesCap = std::size_t{1} << 30;
inline constexpr std::size_t kPoolIdleBlocksCap = 128;
inline constexpr uint64_t kPoolStaleTakes = 512;

// A block of at least `bytes` bytes (at least kPooledBlockBytes), aligned for
// any fundamental type: an idle block holding between `bytes` and twice as
// many, else a new one. Its contents are whatever the last user left. Throws
// std::bad_alloc.
void* pool_take(std::size_t bytes);

// Gives back a block from pool_take: kept idle within the bounds, else freed.
void pool_give(void* block) noexcept;

// Frees every idle block and forgets the busiest moment (global set-down).
// Blocks still lent come back as usual.
void clear_buffer_pool() noexcept;

struct BufferPoolStats {
    std::size_t idle_blocks = 0;
    std::size_t idle_bytes = 0;
    std::size_t lent_blocks = 0;
    std::size_t lent_bytes = 0;
    std::size_t peak_lent_bytes = 0; // since the last clear
};
BufferPoolStats buffer_pool_stats();

// A standard allocator over the pool, for containers whose storage is large:
// allocations of kPooledBlockBytes or more are pool blocks, smaller ones
// plain heap blocks.
template <class T> struct PoolAllocator {
    using value_type = T;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
                  "pool blocks have the heap's fundamental alignment");

    PoolAllocator() = default;
    template <class U> PoolAllocator(const PoolAllocator<U>& /*other*/) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) {
            throw std::bad_array_new_length();
        }
        const std::size_t bytes = n * sizeof(T);
        void* block = bytes >= kPooledBlockBytes ? pool_take(bytes) : ::operator new(bytes);
        return static_cast<T*>(block);
    }

    // `n` is the count given to allocate, so the same test finds the block's source.
    void deallocate(T* p, std::size_t n) noexcept {
        if (n * sizeof(T) >= kPooledBlockBytes) {
            pool_give(p);
        } else {
            ::operator delete(p);
        }
    }

    template <class U> bool operator==(const PoolAllocator<U>& /*other*/) const noexcept {
        return true;
    }
};

// A vector whose large storage is pooled. The elements are still
// value-initialised by resize, as with std::vector.
template <class T> using PooledVector = std::vector<T, PoolAllocator<T>>;

} // namespace pointillo
