#pragma once

// The host's thread pool behind "PF Iterate8 Suite" 2: how iterate_generic
// runs the pieces a module hands it.

#include "host/ae_sdk.h"

#include <cstdint>
#include <mutex>

namespace hostsim {

// The order the pieces are handed out in.
enum class PieceOrder { kForward, kReverse, kShuffled };

struct IterateSettings {
    int32_t threads = 0; // 0: one per core
    PieceOrder order = PieceOrder::kForward;
    uint32_t seed = 1; // of the shuffled order
};

using IterateFn = PF_Err (*)(void* refcon, A_long thread_index, A_long i, A_long iterations);

// Each iterate_generic call starts its own threads: the calling thread is
// thread 0 (the one command context that may poll abort and report
// progress), the others have no command, so host calls from them are refused.
// Several frames may iterate at once.
class IteratePool {
  public:
    void set(const IterateSettings& settings);
    IterateSettings settings() const;
    // The threads a call uses, at least 1.
    int32_t threads() const;

    // Calls `fn` for every piece 0 .. iterations - 1, each once, the threads
    // taking the next piece of the order; with PF_Iterations_ONCE_PER_PROCESSOR
    // once per thread, with the thread count as `iterations`. Returns when
    // every call has. What `fn` returns is not passed back (the application
    // does not promise it either): the result is PF_Err_NONE, or
    // PF_Err_BAD_CALLBACK_PARAM for no function or a count below 1. A thread
    // that does not start leaves its share to the others.
    PF_Err run(A_long iterations, void* refcon, IterateFn fn) const;

  private:
    mutable std::mutex mutex_;
    IterateSettings settings_;
};

} // namespace hostsim
