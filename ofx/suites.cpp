#include "suites.h"

namespace pointillo::ofx {

HostSuites& suites() {
    static HostSuites s;
    return s;
}

void check(OfxStatus status, const char* call) {
    if (status != kOfxStatOK) {
        throw OfxFailure(status, std::string("The host refused ") + call + " (status " +
                                     std::to_string(status) + ")");
    }
}

} // namespace pointillo::ofx
