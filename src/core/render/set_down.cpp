#include "render/set_down.h"

#include "memory/buffer_pool.h"
#include "source/cloud.h"

namespace pointillo {

void set_down_core() noexcept {
    clear_cloud_cache();
    clear_buffer_pool();
}

} // namespace pointillo
