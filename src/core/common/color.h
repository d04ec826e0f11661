#pragma once

namespace pointillo {

// A straight (not premultiplied) colour, channels nominally in 0..1.
// Premultiplied pixels have their own type (PremultipliedPixel) so the two
// cannot be swapped by accident.
struct Rgb {
    float red = 1.0f;
    float green = 1.0f;
    float blue = 1.0f;

    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Each channel from + t x (to - from).
inline Rgb mix(Rgb from, Rgb to, float t) {
    return {from.red + t * (to.red - from.red), from.green + t * (to.green - from.green),
            from.blue + t * (to.blue - from.blue)};
}

} // namespace pointillo
