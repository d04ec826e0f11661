#pragma once

namespace pointillo {

// The renderer's exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitRenderFailure = 1;
constexpr int kExitBadInput = 2;
constexpr int kExitInterrupted = 130; // as a shell reports a Ctrl-C

} // namespace pointillo
