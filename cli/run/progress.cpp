#include "cli/run/progress.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <vector>

namespace pointillo {

// Built with append and ostringstream only: GCC 12 at -O3 warns falsely
// (-Wrestrict) about operator+ on short strings here.
std::string progress_line(int32_t done, int32_t total, double seconds, int32_t columns,
                          const std::string& what) {
    constexpr int32_t kMaxBar = 30;
    constexpr int32_t kMinBar = 6;
    const int32_t room = std::max(columns, 2) - 1;
    const double rate = seconds > 0 ? done / seconds : 0.0;
    std::ostringstream count_text;
    count_text << done << "/" << total;
    const std::string count = count_text.str();
    std::ostringstream rate_text;
    rate_text << std::fixed << std::setprecision(1) << rate;
    std::string left;
    if (rate > 0 && done < total) {
        left = std::to_string(static_cast<int64_t>((total - done) / rate + 0.5));
        left.append(" s left");
    }
    const auto tail = [&](bool unit, bool rate_unit, bool with_rate, bool with_left) {
        std::ostringstream text;
        text << count;
        if (unit) {
            text << " " << what;
        }
        if (with_rate) {
            text << "  " << rate_text.str() << (rate_unit ? " frames/s" : "/s");
        }
        if (with_left && !left.empty()) {
            text << "  " << left;
        }
        return text.str();
    };
    // What to try, longest first; the estimate outlives the bar.
    struct Form {
        std::string tail;
        bool bar;
    };
    const std::vector<Form> forms = {
        {tail(true, true, true, true), true},     {tail(true, false, true, true), true},
        {tail(false, false, true, true), true},   {tail(false, false, false, true), true},
        {tail(false, false, false, true), false}, {tail(false, false, false, false), true},
        {tail(false, false, false, false), false}};
    for (const auto& [t, with_bar] : forms) {
        const int32_t bar = std::min(kMaxBar, room - static_cast<int32_t>(t.size()) - 3);
        if (!with_bar && static_cast<int32_t>(t.size()) <= room) {
            return t;
        }
        if (with_bar && bar >= kMinBar) {
            const int32_t filled =
                total > 0 ? static_cast<int32_t>(int64_t{bar} * done / total) : bar;
            std::string line = "[";
            line.append(static_cast<size_t>(filled), '#');
            line.append(static_cast<size_t>(bar - filled), '.');
            line.append("] ");
            line.append(t);
            return line;
        }
    }
    return count.substr(0, static_cast<size_t>(room));
}

void ProgressBar::draw(int32_t done, int32_t total, const std::string& what) const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const int32_t width = columns ? columns() : 0;
    *err << "\r" << progress_line(done, total, seconds, width > 0 ? width : 80, what) << "\x1b[K"
         << std::flush;
}

void ProgressBar::clear() const {
    *err << "\r\x1b[K" << std::flush;
}

} // namespace pointillo
