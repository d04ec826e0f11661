#include "cli/run/timing.h"

#include "cli/run/frame_range.h"
#include "cli/scene/scene.h"
#include "cli/scene/scene_reader.h"
#include "frame/sequence.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace pointillo {

namespace {

constexpr size_t kMaxSummarySegments = 12;

// The scene's value of one parameter at a host time, or its default.
struct Values {
    const SceneSetup& scene;
    std::span<const EffectParam> params;

    const EffectParam& param(const std::string& name) const {
        for (const EffectParam& p : params) {
            if (p.name == name) {
                return p;
            }
        }
        throw std::logic_error("the effect has no parameter \"" + name + "\"");
    }
    bool keyed(const std::string& name) const {
        const ParamTrack* track = find_track(scene, param(name).index);
        return track != nullptr && track->keys.size() > 1;
    }
    double at(const std::string& name, int32_t time) const {
        const EffectParam& p = param(name);
        const ParamTrack* track = find_track(scene, p.index);
        return track != nullptr ? param_value_at(*track, time, scene.time_scale).number
                                : p.default_value;
    }
    // The effect reads the sequence seconds as floats, widened.
    double seconds(const std::string& name, int32_t time) const {
        return static_cast<double>(static_cast<float>(at(name, time)));
    }
    SequenceSettings sequence(int32_t time) const {
        SequenceSettings settings;
        settings.automatic = at("Automatic", time) != 0.0;
        settings.loop = at("Loop", time) != 0.0;
        settings.start = seconds("Start (seconds)", time);
        settings.hold = seconds("Hold (seconds)", time);
        settings.transition = seconds("Transition (seconds)", time);
        settings.position = seconds("Sequence Position", time);
        return settings;
    }
};

std::vector<int32_t> filled_slots(const SceneSetup& scene) {
    std::vector<int32_t> slots;
    for (size_t k = 0; k < scene.sources.size(); ++k) {
        if (scene.sources[k]) {
            slots.push_back(static_cast<int32_t>(k) + 1);
        }
    }
    return slots;
}

std::string seconds_text(const SceneSetup& scene, int32_t frame) {
    return format_seconds_short(static_cast<double>(frame_current_time(frame)) /
                                static_cast<double>(std::max(scene.time_scale, 1)));
}

} // namespace

std::vector<TimingSegment> timing_segments(const SceneSetup& scene,
                                           std::span<const EffectParam> params) {
    const Values values{scene, params};
    const std::vector<int32_t> slots = filled_slots(scene);
    std::vector<TimingSegment> segments;
    if (slots.empty()) {
        return segments;
    }
    const auto active = static_cast<int32_t>(slots.size());
    for (int32_t frame = 0; frame < scene.frame_count; ++frame) {
        const int32_t time = frame_current_time(frame);
        // Manual mode reads "Sequence Position" in full double precision.
        const SequenceState state =
            sequence_state(values.sequence(time), active,
                           host_seconds(time, static_cast<uint32_t>(scene.time_scale)),
                           values.at("Sequence Position", time));
        TimingSegment here;
        here.transition = state.progress > 0.0f;
        here.from_slot = slots[static_cast<size_t>(state.from)];
        here.to_slot = here.transition ? slots[static_cast<size_t>(state.to)] : here.from_slot;
        here.first_frame = frame;
        here.last_frame = frame;
        here.last_progress = state.progress;
        if (!segments.empty()) {
            TimingSegment& last = segments.back();
            if (last.transition == here.transition && last.from_slot == here.from_slot &&
                last.to_slot == here.to_slot && last.last_frame + 1 == frame) {
                last.last_frame = frame;
                last.last_progress = here.last_progress;
                continue;
            }
        }
        segments.push_back(here);
    }
    return segments;
}

// Strings are appended piece by piece here: GCC 12 at -O3 warns falsely
// (-Wrestrict) about "-" + std::string.
std::string timing_summary(const SceneSetup& scene, const std::vector<TimingSegment>& segments) {
    if (segments.empty()) {
        return "no source";
    }
    const int32_t last_frame = scene.frame_count - 1;
    std::string text;
    std::optional<std::string> last_end; // when the last transition ends, if it does
    bool cut = false;
    // A transition runs from the last frame that shows its source whole to the
    // first that shows the next one whole. A frame on the very end of a
    // transition counts as whole: in float seconds its progress falls a hair
    // short of 1 (0.9999999 at 2 s with the defaults).
    constexpr float kWhole = 0.999f;
    int32_t hold_from = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const TimingSegment& s = segments[i];
        std::string part;
        if (s.transition) {
            const int32_t from = std::max(s.first_frame - 1, 0);
            const bool done = s.last_progress >= kWhole;
            part = "into Source " + std::to_string(s.to_slot) + " " + seconds_text(scene, from);
            hold_from = done ? s.last_frame : s.last_frame + 1;
            if (done || s.last_frame < last_frame) {
                const std::string end = seconds_text(scene, hold_from);
                part += '-';
                part += end;
                part += " s";
                last_end = end;
                cut = false;
            } else {
                part += " s on, cut at the end";
                cut = true;
            }
        } else {
            const int32_t from = i == 0 ? s.first_frame : hold_from;
            part = "Source " + std::to_string(s.from_slot) + " " + seconds_text(scene, from);
            if (s.last_frame == last_frame) {
                part += " s on";
            } else if (from == s.last_frame) {
                part += " s";
            } else {
                part += '-';
                part += seconds_text(scene, s.last_frame);
                part += " s";
            }
        }
        if (i < kMaxSummarySegments) {
            text += (i == 0 ? "" : ", ") + part;
        } else if (i == kMaxSummarySegments) {
            text += ", ... (" + std::to_string(segments.size() - kMaxSummarySegments) + " more)";
        }
    }
    if (cut) {
        text += "; the last transition is cut off by the end of the comp";
    } else if (last_end) {
        text += "; the last transition ends at " + *last_end + " s";
    } else {
        text += "; no transition";
    }
    return text;
}

std::vector<std::string> unreached_source_warnings(const SceneSetup& scene,
                                                   std::span<const EffectParam> params,
                                                   const std::vector<TimingSegment>& segments,
                                                   const std::string& file) {
    std::vector<std::string> warnings;
    const std::vector<int32_t> slots = filled_slots(scene);
    const Values values{scene, params};
    const int32_t end_time = frame_current_time(scene.frame_count - 1);
    const SequenceSettings at_end = values.sequence(end_time);
    const bool timing_keyed = values.keyed("Start (seconds)") || values.keyed("Hold (seconds)") ||
                              values.keyed("Transition (seconds)") || values.keyed("Automatic");
    const std::string length =
        format_seconds_short(static_cast<double>(scene.frame_count) * 1000.0 /
                             static_cast<double>(std::max(scene.time_scale, 1)));
    for (size_t k = 0; k < slots.size(); ++k) {
        const int32_t slot = slots[k];
        const bool reached = std::any_of(segments.begin(), segments.end(), [&](const auto& s) {
            return s.from_slot == slot || s.to_slot == slot;
        });
        if (reached) {
            continue;
        }
        std::string text = file + ": " + source_field(static_cast<size_t>(slot - 1)) +
                           " is never shown: the comp's " + std::to_string(scene.frame_count) +
                           " frames (" + length + " s) end before it";
        if (at_end.automatic && !timing_keyed) {
            // Source k (from 0) starts to form k - 1 cycles after the first
            // transition begins.
            const double cycle = std::max(at_end.hold + at_end.transition, 0.001);
            const double forms = at_end.start + static_cast<double>(k - 1) * cycle + at_end.hold;
            text += " (it would start to form at " + format_seconds_short(forms) +
                    " s); lengthen comp.duration or shorten \"Hold (seconds)\" and "
                    "\"Transition (seconds)\"";
        } else if (!at_end.automatic) {
            // Position p shows active source p - 1 whole; above k it turns
            // towards source k (from 0).
            text += "; \"Sequence Position\" must go above " + std::to_string(k) +
                    " to turn towards it (" + std::to_string(k + 1) + " shows it whole)";
        }
        warnings.push_back(text);
    }
    return warnings;
}

} // namespace pointillo
