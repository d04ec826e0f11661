#include "host/plugin_id.h"

#include <atomic>
#include <cstdint>

namespace pointillo {
namespace {

std::atomic<int32_t> g_aegp_plugin_id{0};

} // namespace

AEGP_PluginID aegp_plugin_id() {
    return g_aegp_plugin_id.load(std::memory_order_relaxed);
}

void set_aegp_plugin_id(AEGP_PluginID id) {
    g_aegp_plugin_id.store(id, std::memory_order_relaxed);
}

} // namespace pointillo
