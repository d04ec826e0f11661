#pragma once

// Which drawing forms this compiler builds, for the files of the forms and
// the table selection only. The SSE2 form needs SSE2 in the base instruction
// set (every x86-64 compiler has it). The AVX2 form also needs the GNU
// `target` attribute (AVX2 in its own functions only, nothing shared) and
// __builtin_cpu_supports (to run it only where the processor has AVX2).
// POINTILLO_PORTABLE_ONLY builds the portable form alone.

#if defined(POINTILLO_PORTABLE_ONLY)
#define POINTILLO_DRAW_SSE2 0
#elif defined(__SSE2__) || (defined(_M_X64) && !defined(_M_ARM64EC))
#define POINTILLO_DRAW_SSE2 1
#else
#define POINTILLO_DRAW_SSE2 0
#endif

#if POINTILLO_DRAW_SSE2 && defined(__GNUC__) && defined(__x86_64__)
#define POINTILLO_DRAW_AVX2 1
#else
#define POINTILLO_DRAW_AVX2 0
#endif
