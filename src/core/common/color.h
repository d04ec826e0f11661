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

} // namespace pointillo
