#include "draw/kernels.h"

#include "draw/kernel_table.h"
#include "draw/simd_levels.h"

namespace pointillo {
namespace {

#if POINTILLO_DRAW_AVX2
// Whether the processor runs AVX2 and the system saves its registers.
bool processor_runs_avx2() {
    // The features may be asked before the run time's own initialiser ran.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#endif

struct Tables {
    DrawKernels portable;
    DrawKernels sse2;
    DrawKernels avx2;
    bool have_sse2 = false;
    bool have_avx2 = false;
};

Tables build_tables() {
    Tables tables;
    raster::install_portable(tables.portable);
#if POINTILLO_DRAW_SSE2
    // SSE2 is part of the base instruction set wherever this form is built.
    tables.sse2 = tables.portable;
    raster::install_sse2(tables.sse2);
    tables.have_sse2 = true;
#endif
#if POINTILLO_DRAW_AVX2
    if (processor_runs_avx2()) {
        tables.avx2 = tables.sse2;
        raster::install_avx2(tables.avx2);
        tables.have_avx2 = true;
    }
#endif
    return tables;
}

const Tables& tables() {
    static const Tables built = build_tables();
    return built;
}

} // namespace

const DrawKernels* draw_kernels(DrawLevel level) {
    const Tables& t = tables();
    switch (level) {
    case DrawLevel::kPortable:
        return &t.portable;
    case DrawLevel::kSse2:
        return t.have_sse2 ? &t.sse2 : nullptr;
    case DrawLevel::kAvx2:
        return t.have_avx2 ? &t.avx2 : nullptr;
    }
    return nullptr;
}

const DrawKernels& draw_kernels() {
    const Tables& t = tables();
    return t.have_avx2 ? t.avx2 : (t.have_sse2 ? t.sse2 : t.portable);
}

} // namespace pointillo
