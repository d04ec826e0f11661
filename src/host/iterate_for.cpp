#include "host/iterate_for.h"

#include "host/host_error.h"

#include <atomic>
#include <exception>
#include <mutex>

namespace pointillo {
namespace {

// One pass on its way through the host: what every piece reads, and what the
// calling thread looks at afterwards. The host's own answer is not relied on.
struct Pass {
    Pass(ParallelBody piece_body, int32_t piece_count) : body(piece_body), count(piece_count) {}

    ParallelBody body;
    int32_t count = 0;
    std::atomic<int32_t> runs{0}; // pieces run, counted without allocating
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    std::exception_ptr error; // the first piece's exception
};

void keep_first(Pass& pass, std::exception_ptr error) {
    const std::lock_guard<std::mutex> lock(pass.error_mutex);
    if (pass.error == nullptr) {
        pass.error = std::move(error);
    }
    pass.failed.store(true, std::memory_order_release);
}

// What the host calls, on any of its threads. Pieces never poll abort or
// report progress, so the thread index does not matter here.
PF_Err run_piece(void* refcon, A_long /*thread_index*/, A_long i, A_long /*iterations*/) noexcept {
    Pass& pass = *static_cast<Pass*>(refcon);
    if (pass.failed.load(std::memory_order_acquire)) {
        return PF_Err_NONE; // skipped: the pass has failed already
    }
    if (i < 0 || i >= pass.count) {
        keep_first(pass, std::make_exception_ptr(HostError{PF_Err_BAD_CALLBACK_PARAM}));
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    pass.runs.fetch_add(1, std::memory_order_relaxed);
    try {
        pass.body(i);
    } catch (...) {
        keep_first(pass, std::current_exception());
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return PF_Err_NONE;
}

} // namespace

IterateFor::IterateFor(const SPBasicSuite* basic)
    // An error from AcquireSuite also means the suite is unavailable.
    : suite_(basic, kPFIterate8Suite, kPFIterate8SuiteVersion2, SuiteCheck::kPointerAndResult) {}

void IterateFor::operator()(int32_t count, ParallelBody body) const {
    if (!suite_ || suite_->iterate_generic == nullptr || count <= 1) {
        kSerialFor(count, body);
        return;
    }
    Pass pass(body, count);
    const PF_Err err = suite_->iterate_generic(count, &pass, run_piece);
    if (pass.error != nullptr) {
        std::rethrow_exception(pass.error);
    }
    throw_if_error(err);
    if (pass.runs.load(std::memory_order_relaxed) != count) {
        throw HostError{PF_Err_INTERNAL_STRUCT_DAMAGED}; // pieces skipped or run twice
    }
}

} // namespace pointillo
