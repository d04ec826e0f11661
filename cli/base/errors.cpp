#include "cli/base/errors.h"

#include <new>

namespace pointillo {

std::string failure_text(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "internal error";
    }
}

} // namespace pointillo
