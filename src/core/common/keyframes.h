#pragma once

// The one keyframe evaluator, for every host that keeps parameter values over
// time (the emulated host, the renderer's scene tracks, a test host, the
// studio): plain keys in, a plain value out.

#include <algorithm>
#include <span>

namespace pointillo {

// How a value moves from one key to the next.
enum class Tween {
    kLinear, // numbers interpolate linearly in double (float sliders)
    kHold    // each key's value holds until the next key (everything else)
};

// The value of `keys` (at least one, in strictly increasing `seconds`) at t
// seconds: the first key's value up to it and the last key's from it on;
// between two keys k0 and k1 the value of k0, whose `number` becomes
// v0 + (v1 - v0) x ((t - t0) / (t1 - t0)) under kLinear. A key is anything
// with `seconds` and a `value` that has a double `number`.
template <typename Key>
auto value_at(std::span<const Key> keys, double t, Tween tween) -> decltype(keys[0].value) {
    if (!(t > keys.front().seconds)) {
        return keys.front().value;
    }
    if (t >= keys.back().seconds) {
        return keys.back().value;
    }
    // The first key after t; the one before it is at or before t.
    const auto after = std::upper_bound(keys.begin(), keys.end(), t,
                                        [](double s, const Key& k) { return s < k.seconds; });
    const Key& k1 = *after;
    const Key& k0 = *(after - 1);
    auto value = k0.value;
    if (tween == Tween::kLinear) {
        const double v0 = k0.value.number;
        const double v1 = k1.value.number;
        value.number = v0 + (v1 - v0) * ((t - k0.seconds) / (k1.seconds - k0.seconds));
    }
    return value;
}

} // namespace pointillo
