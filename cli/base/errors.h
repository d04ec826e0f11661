#pragma once

#include <exception>
#include <stdexcept>
#include <string>

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

// How a failure reads in a message, the same everywhere in the renderer:
// "out of memory" for std::bad_alloc, what() for another std::exception,
// "internal error" for anything else.
std::string failure_text(const std::exception_ptr& failure);

} // namespace pointillo
