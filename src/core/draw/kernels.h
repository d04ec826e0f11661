#pragma once

// The forms the drawing code is written in. The portable form is plain C++
// and is the reference; the others do the same IEEE operations on wider
// registers and give its bits. Each form's functions sit in one table, and
// the drawing functions take the table to draw with (the best one unless a
// caller, a test, asks for another).

namespace pointillo {

enum class DrawLevel {
    kPortable, // plain C++, every compiler and processor
    kSse2,     // x86-64, four floats at a time
    kAvx2,     // x86-64 with AVX2 (GCC and Clang), chosen at run time
};

// A table of one form's drawing functions.
struct DrawKernels;

// The table of `level`, or nullptr when this build has no such form or this
// processor cannot run it. The tables are built once, at first use.
const DrawKernels* draw_kernels(DrawLevel level);

// The highest level this build has and this processor runs.
const DrawKernels& draw_kernels();

} // namespace pointillo
