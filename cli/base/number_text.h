#pragma once

#include <string>

namespace pointillo {

// A number the module registered as a 32-bit float, as the shortest decimal
// that reads back as that float (0.01, not 0.009999999776).
std::string format_float(double value);

} // namespace pointillo
