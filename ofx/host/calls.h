#pragma once

// Every suite call the plug-in makes passes through here: counted, recorded
// when asked, and failed when it is the call a test picked.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace pointillo::ofxhost {

// The calls of one render (or of everything outside renders).
struct CallContext {
    std::atomic<int64_t> count{0};
    int64_t fail_at = 0; // 1-based call number to fail; 0 fails none
    bool record = false;
    std::mutex mutex;
    std::vector<std::string> log; // "suite.function detail", in call order
    int64_t failed_call = 0;      // the number of the call that was failed
    std::string failed_name;
};

// The context of the calling thread: set by the host around a render and
// inherited by the threads the multithread suite spawns for it.
CallContext& current_calls();
void set_current_calls(CallContext* context); // null: the host's own

// Counts the call; true when it is to fail. `detail` is called only when
// the context records.
template <typename Detail> bool suite_call(const char* name, Detail&& detail) {
    CallContext& c = current_calls();
    const int64_t n = c.count.fetch_add(1) + 1;
    const bool fail = c.fail_at != 0 && n == c.fail_at;
    if (c.record || fail) {
        std::string line = std::string(name) + " " + std::forward<Detail>(detail)();
        std::lock_guard<std::mutex> lock(c.mutex);
        if (fail) {
            c.failed_call = n;
            c.failed_name = name;
        }
        if (c.record) {
            c.log.push_back(std::move(line));
        }
    }
    return fail;
}

inline bool suite_call(const char* name) {
    return suite_call(name, [] { return std::string(); });
}

} // namespace pointillo::ofxhost
