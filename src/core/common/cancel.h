#pragma once

#include <stdexcept>

namespace pointillo {

// The core's only way to ask whether the user cancelled. The host glue passes a
// function that may itself throw the host's cancel code; a plain `true` answer
// becomes "Render cancelled".
struct CancelCheck {
    bool (*fn)(void* user) = nullptr;
    void* user = nullptr;

    void poll() const {
        if (fn != nullptr && fn(user)) {
            throw std::runtime_error("Render cancelled");
        }
    }
};

} // namespace pointillo
