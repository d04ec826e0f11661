// "PF World Suite" 2: worlds the module makes for itself, and the pixel
// format of any world the host made.

#include "hostsim/host.h"
#include "hostsim/suites.h"
#include "hostsim/world.h"

#include <cstddef>
#include <optional>
#include <string>

namespace hostsim {
namespace {

// The application refuses worlds larger than this on a side.
constexpr int32_t kLargestSide = 30000;

PF_Err new_world(PF_ProgPtr effect_ref, A_long width, A_long height, PF_Boolean clear_pixels,
                 PF_PixelFormat format, PF_EffectWorld* world) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run(
        "PF_NewWorld", std::to_string(width) + "x" + std::to_string(height), [&]() -> PF_Err {
            if (world == nullptr || width < 0 || height < 0 || width > kLargestSide ||
                height > kLargestSide ||
                (format != PF_PixelFormat_ARGB32 && format != PF_PixelFormat_ARGB64 &&
                 format != PF_PixelFormat_ARGB128)) {
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            host.worlds.adopt_new(world,
                                  make_world(width, height, format, true,
                                             clear_pixels != 0 ? std::byte{0} : kUnwrittenByte));
            host.ledger.note(Resource::kWorld, 1, "new world");
            return PF_Err_NONE;
        });
}

PF_Err dispose_world(PF_ProgPtr effect_ref, PF_EffectWorld* world) {
    CommandContext* context = context_from(effect_ref);
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("PF_DisposeWorld", "", [&]() -> PF_Err {
        if (!host.worlds.dispose_new(world)) {
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        host.ledger.note(Resource::kWorld, -1, "new world");
        return PF_Err_NONE;
    });
}

PF_Err get_pixel_format(const PF_EffectWorld* world, PF_PixelFormat* format) {
    CommandContext* context = current_context();
    if (context == nullptr) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    Host& host = *context->host;
    return host.calls.run("PF_GetPixelFormat", "", [&]() -> PF_Err {
        const std::optional<PF_PixelFormat> known = host.worlds.format(world);
        if (!known || format == nullptr) {
            return PF_Err_BAD_CALLBACK_PARAM; // only worlds the host made have a format
        }
        *format = *known;
        return PF_Err_NONE;
    });
}

const PF_WorldSuite2 g_world_suite = {new_world, dispose_world, get_pixel_format};

} // namespace

const PF_WorldSuite2* world_suite_table() {
    return &g_world_suite;
}

} // namespace hostsim
