#pragma once

#include "host/ae_sdk.h"

namespace pointillo {

// A host error code on its way back to the host. The codes are unnamed-enum
// values in the vendor's headers, so they are never thrown bare: a
// `catch (PF_Err)` would not see them.
struct HostError {
    PF_Err code = PF_Err_NONE;
};

// Raises a non-zero host code; zero is success and returns.
inline void throw_if_error(PF_Err err) {
    if (err != PF_Err_NONE) {
        throw HostError{err};
    }
}

} // namespace pointillo
