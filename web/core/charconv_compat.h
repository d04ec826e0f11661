#pragma once

// The floating-point std::to_chars and std::from_chars that the C++ library
// of Debian's emscripten lacks, for the renderer's files the studio compiles:
// the same text as the standard's (shortest round trip; fixed with a
// precision), built on the C library's exactly rounded printf and strtod.
// Force-included into those files only.

#include <charconv>
#include <string> // some of those files reach std::to_string only through other headers

#if defined(__EMSCRIPTEN__)
namespace std {

to_chars_result to_chars(char* first, char* last, double value);
to_chars_result to_chars(char* first, char* last, float value);
to_chars_result to_chars(char* first, char* last, double value, chars_format format, int precision);
from_chars_result from_chars(const char* first, const char* last, double& value,
                             chars_format format = chars_format::general);

} // namespace std
#endif
