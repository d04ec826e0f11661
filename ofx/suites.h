#pragma once

// The host's suites as the plug-ins hold them, and the one way a host call's
// failure becomes an exception: `check` raises OfxFailure with the call's
// status and a text naming the call, which the entry guard turns back into
// that status and a message for the user.

#include "ofx_api.h"

#include <stdexcept>
#include <string>

namespace pointillo::ofx {

struct HostSuites {
    const OfxPropertySuiteV1* property = nullptr;
    const OfxImageEffectSuiteV1* effect = nullptr;
    const OfxParameterSuiteV1* param = nullptr;
    const OfxMemorySuiteV1* memory = nullptr;
    const OfxMultiThreadSuiteV1* thread = nullptr;
    const OfxMessageSuiteV2* message = nullptr; // version 2, or version 1 (one slot)
    bool message_v2 = false;
    bool host_temporal_access = false; // the host can fetch frames at other times
};

// Fetched in the load action; read-only afterwards, from any thread.
HostSuites& suites();

// A failed host call, carrying the host's status.
struct OfxFailure : std::runtime_error {
    OfxStatus status;
    OfxFailure(OfxStatus s, const std::string& what) : std::runtime_error(what), status(s) {}
};

// Raises OfxFailure unless `status` is kOfxStatOK: "The host refused
// <call> (status N)".
void check(OfxStatus status, const char* call);

} // namespace pointillo::ofx
