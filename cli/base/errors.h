#pragma once

#include <stdexcept>

namespace pointillo {

// A bad command line or scene: nothing was rendered, exit status 2. The text
// names the file (or option), the field and what is wrong.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A render that started and failed (the effect, a file write, the encoder):
// exit status 1.
struct RenderFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace pointillo
