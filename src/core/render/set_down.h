#pragma once

namespace pointillo {

// Gives back what the core keeps between frames for the whole process: the
// cloud cache (source/cloud.cpp) and the idle blocks of the buffer pool
// (memory/buffer_pool.cpp). The drawing kernel table (draw/kernels.cpp) is
// picked once and holds no memory of its own, so it stays.
//
// Every host calls this once when it is done with the core: the module at
// global set-down, the frei0r plug-ins in f0r_deinit, an OpenFX plug-in when
// it is unloaded, a browser studio when it closes. Frames still rendering on
// other threads are not disturbed: the clouds and blocks they hold stay
// valid and come back as usual. The core may be used again afterwards; it
// starts over as in a fresh process.
void set_down_core() noexcept;

} // namespace pointillo
