#pragma once

#include "common/function_ref.h"

#include <cstdint>

namespace pointillo {

// One piece of a pass split into `count` independent pieces, 0 .. count - 1.
using ParallelBody = FunctionRef<void(int32_t piece)>;

// How the core asks its host to run the pieces of a pass: every piece once,
// in any order, on any threads (the calling one included), returning when
// all have run. The core splits a pass only where no piece reads what
// another writes, so the frame is the same bits for every thread count and
// every order.
//
// A piece may throw. The host then lets the pieces already running finish,
// may skip the ones not started, and raises the first exception (or its own
// failure) to the caller once no piece runs any more.
//
// Pieces never poll the cancel check (the application lets only its thread
// 0 ask): the core polls on the calling thread, before a pass as often as
// the pass polled when it was one loop, so the host sees the same polls.
using ParallelFor = FunctionRef<void(int32_t count, ParallelBody body)>;

// The default parallel-for: every piece on the calling thread, in order.
struct SerialFor {
    void operator()(int32_t count, ParallelBody body) const {
        for (int32_t piece = 0; piece < count; ++piece) {
            body(piece);
        }
    }
};
inline constexpr SerialFor kSerialFor;

} // namespace pointillo
