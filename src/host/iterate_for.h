#pragma once

// The host's thread pool as the core's parallel-for: the pieces of a pass run
// through the iterate suite's iterate_generic, on the host's threads.

#include "common/parallel.h"
#include "host/ae_sdk.h"
#include "host/scoped_suite.h"

#include <cstdint>

namespace pointillo {

// Acquired for one render command. Without the suite (missing, or refused)
// every piece runs on the calling thread, in order: the same bytes either way.
//
// A piece that throws stops the pieces not yet started; once iterate_generic
// has returned, the first piece's exception is raised on the calling thread.
// A failure of iterate_generic itself is raised as its code (HostError), and
// so is a host that ran fewer or more pieces than asked. Nothing thrown crosses
// into the host: a piece's callback catches everything.
class IterateFor {
  public:
    explicit IterateFor(const SPBasicSuite* basic);

    void operator()(int32_t count, ParallelBody body) const;

  private:
    ScopedSuite<PF_Iterate8Suite2> suite_;
};

} // namespace pointillo
