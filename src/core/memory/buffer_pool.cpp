#include "memory/buffer_pool.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <limits>
#include <mutex>
#include <new>

namespace pointillo {
namespace {

// Every block starts with its header, so a block given back tells its size.
// The header keeps the payload at the heap's fundamental alignment.
struct alignas(__STDCPP_DEFAULT_NEW_ALIGNMENT__) BlockHeader {
    std::size_t capacity = 0; // payload bytes
};

struct IdleBlock {
    BlockHeader* header = nullptr;
    uint64_t given_at = 0; // the take count when it came back
};

// Eight sizes per doubling: at most an eighth is wasted, and a render at one
// size asks for the same capacities every frame.
std::size_t round_capacity(std::size_t bytes) {
    std::size_t top = 1;
    while (top <= bytes / 2) {
        top *= 2;
    }
    const std::size_t step = top / 8 > 0 ? top / 8 : 1;
    if (bytes > std::numeric_limits<std::size_t>::max() - step) {
        throw std::bad_alloc();
    }
    return (bytes + step - 1) / step * step;
}

void free_block(BlockHeader* header) noexcept {
    header->~BlockHeader();
    ::operator delete(header);
}

// Blocks to free once the lock is let go: the system's free can be slow.
struct Dropped {
    std::array<BlockHeader*, kPoolIdleBlocksCap + 1> headers{};
    std::size_t count = 0;

    Dropped() = default;
    Dropped(const Dropped&) = delete;
    Dropped& operator=(const Dropped&) = delete;
    ~Dropped() {
        for (std::size_t i = 0; i < count; ++i) {
            free_block(headers[i]);
        }
    }
};

struct Pool {
    std::mutex mutex;
    // Oldest first. A fixed array, so giving back never allocates.
    std::array<IdleBlock, kPoolIdleBlocksCap + 1> idle{};
    std::size_t idle_count = 0;
    std::size_t idle_bytes = 0;
    std::size_t lent_blocks = 0;
    std::size_t lent_bytes = 0;
    std::size_t peak_lent_bytes = 0;
    uint64_t takes = 0;

    // Module unload: nothing else runs then, so no lock.
    ~Pool() {
        for (std::size_t i = 0; i < idle_count; ++i) {
            free_block(idle[i].header);
        }
    }

    BlockHeader* remove_idle(std::size_t i) {
        BlockHeader* header = idle[i].header;
        idle_bytes -= header->capacity;
        std::copy(idle.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                  idle.begin() + static_cast<std::ptrdiff_t>(idle_count),
                  idle.begin() + static_cast<std::ptrdiff_t>(i));
        --idle_count;
        return header;
    }

    void drop_oldest(Dropped& dropped) { dropped.headers[dropped.count++] = remove_idle(0); }

    void lend(std::size_t capacity) {
        ++lent_blocks;
        lent_bytes += capacity;
        peak_lent_bytes = std::max(peak_lent_bytes, lent_bytes);
    }
};

Pool the_pool;

BlockHeader* header_of(void* block) {
    return reinterpret_cast<BlockHeader*>(static_cast<std::byte*>(block) - sizeof(BlockHeader));
}

} // namespace

void* pool_take(std::size_t bytes) {
    bytes = std::max(bytes, kPooledBlockBytes);
    const std::size_t capacity = round_capacity(bytes);
    {
        Dropped dropped;
        const std::lock_guard<std::mutex> lock(the_pool.mutex);
        ++the_pool.takes;
        while (the_pool.idle_count > 0 &&
               the_pool.takes - the_pool.idle[0].given_at > kPoolStaleTakes) {
            the_pool.drop_oldest(dropped);
        }
        // The smallest idle block that holds the request without wasting
        // more than the request itself.
        std::size_t best = the_pool.idle_count;
        for (std::size_t i = 0; i < the_pool.idle_count; ++i) {
            const std::size_t have = the_pool.idle[i].header->capacity;
            if (have >= bytes && have / 2 <= bytes &&
                (best == the_pool.idle_count || have < the_pool.idle[best].header->capacity)) {
                best = i;
            }
        }
        if (best < the_pool.idle_count) {
            BlockHeader* header = the_pool.remove_idle(best);
            the_pool.lend(header->capacity);
            return header + 1;
        }
    }
    if (capacity > std::numeric_limits<std::size_t>::max() - sizeof(BlockHeader)) {
        throw std::bad_alloc();
    }
    BlockHeader* header =
        new (::operator new(sizeof(BlockHeader) + capacity)) BlockHeader{capacity};
    const std::lock_guard<std::mutex> lock(the_pool.mutex);
    the_pool.lend(capacity);
    return header + 1;
}

void pool_give(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    BlockHeader* header = header_of(block);
    Dropped dropped;
    const std::lock_guard<std::mutex> lock(the_pool.mutex);
    --the_pool.lent_blocks;
    the_pool.lent_bytes -= header->capacity;
    the_pool.idle[the_pool.idle_count++] = IdleBlock{header, the_pool.takes};
    the_pool.idle_bytes += header->capacity;
    const std::size_t byte_bound = std::min(kPoolIdleBytesCap, the_pool.peak_lent_bytes);
    while (the_pool.idle_count > 0 &&
           (the_pool.idle_bytes > byte_bound || the_pool.idle_count > kPoolIdleBlocksCap)) {
        the_pool.drop_oldest(dropped);
    }
}

void clear_buffer_pool() noexcept {
    Dropped dropped;
    const std::lock_guard<std::mutex> lock(the_pool.mutex);
    while (the_pool.idle_count > 0) {
        the_pool.drop_oldest(dropped);
    }
    the_pool.peak_lent_bytes = the_pool.lent_bytes;
}

BufferPoolStats buffer_pool_stats() {
    const std::lock_guard<std::mutex> lock(the_pool.mutex);
    return BufferPoolStats{the_pool.idle_count, the_pool.idle_bytes, the_pool.lent_blocks,
                           the_pool.lent_bytes, the_pool.peak_lent_bytes};
}

} // namespace pointillo
