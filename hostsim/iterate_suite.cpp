// "PF Iterate8 Suite" 2: iterate_generic on the host's pool (host.iterate).
// The per-pixel iterators are not offered: their slots are null.

#include "hostsim/host.h"
#include "hostsim/suites.h"

#include <string>

namespace hostsim {
namespace {

PF_Err iterate_generic(A_long iterations, void* refcon, IterateFn fn) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("iterate_generic", std::to_string(iterations),
                          [&] { return host.iterate.run(iterations, refcon, fn); });
}

const PF_Iterate8Suite2 g_iterate_suite = {nullptr, nullptr, nullptr, nullptr, iterate_generic};

} // namespace

const PF_Iterate8Suite2* iterate_suite_table() {
    return &g_iterate_suite;
}

} // namespace hostsim
