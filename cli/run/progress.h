#pragma once

#include <cstdint>
#include <string>

namespace pointillo {

// The status line a terminal shows while frames render or encode, at most
// `columns` - 1 characters (the last column would wrap on many terminals):
// "[#####.....] 30/150 frames  12.3 frames/s  10 s left". As the terminal
// narrows, the bar shortens, then the rate and the unit words go, then the
// estimate, then the bar; the count stays. `what` says what is counted
// ("frames", "encoded").
std::string progress_line(int32_t done, int32_t total, double seconds, int32_t columns,
                          const std::string& what);

} // namespace pointillo
