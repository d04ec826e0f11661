#pragma once

#include "common/cancel.h"
#include "common/parallel.h"
#include "draw/canvas.h"
#include "frame/settings.h"

#include <cstdint>

namespace pointillo {

struct Cloud;
struct Dot;
struct SourceMask;

// The from dot and the to dot of pair `pair` of `pair_count` pairs; the
// products are formed in 64 bits.
inline int64_t paired_index(int64_t pair, int64_t dot_count, int64_t pair_count) {
    return pair * dot_count / pair_count;
}

// How the dots of two clouds pair up: the smaller cloud's dots spread evenly
// over the larger's, and every pair travels at the larger of the two
// spacings.
struct Pairing {
    int64_t from_count = 0;
    int64_t to_count = 0;
    int64_t pairs = 0; // the larger count
    float spacing = 0.0f;
};
Pairing pair_clouds(const Cloud& from, const Cloud& to);

struct DotPair {
    const Dot* from = nullptr;
    const Dot* to = nullptr;
};
// The dots of pair `pair` (0 <= pair < pairing.pairs); an empty side borrows
// the other side's dot.
DotPair paired_dots(const Pairing& pairing, const Cloud& from, const Cloud& to, int64_t pair);

// One side of a transition: a source's mask and the cloud built from it.
struct TransitionSide {
    const SourceMask* mask = nullptr;
    const Cloud* cloud = nullptr;
};

// A frame's dots between two sides, `progress` of the way, on a canvas of
// width x height output pixels.
struct Morph {
    TransitionSide from;
    TransitionSide to;
    float progress = 0.0f;
    int32_t width = 0;
    int32_t height = 0;
};

// Sizes, clears and draws one frame's dots (or a solid end) into `canvas`;
// pieces of pairs and the rows of tiles run through `parallel`. Throws
// std::runtime_error("Unsupported output dimensions" / "Render cancelled")
// and passes through whatever the cancel check throws.
void render_morph(const Morph& morph, const DotSettings& settings, Canvas& canvas,
                  const CancelCheck& cancel, ParallelFor parallel = kSerialFor);

// Sizes the canvas and draws the mask solid, as a frame standing on one
// source with "Form Solid Source" shows it. Throws as render_morph does.
void render_solid(const SourceMask& mask, const DotSettings& settings, int32_t width,
                  int32_t height, Canvas& canvas, const CancelCheck& cancel);

} // namespace pointillo
