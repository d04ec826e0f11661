#include "host/source_pixels.h"

#include "host/host_error.h"
#include "host/mask_log.h"

namespace pointillo {
namespace {

// Layer pixels fetched under one checkout id; checked in when the holder goes
// out of scope, ignoring the result while a failure unwinds.
class CheckedOutPixels {
  public:
    CheckedOutPixels(const RenderHost& host, A_long checkout_id)
        : host_(host), checkout_id_(checkout_id) {
        throw_if_error(
            host.extra.cb->checkout_layer_pixels(host.in_data.effect_ref, checkout_id, &world_));
        held_ = true;
    }

    ~CheckedOutPixels() {
        if (held_) {
            static_cast<void>(
                host_.extra.cb->checkin_layer_pixels(host_.in_data.effect_ref, checkout_id_));
        }
    }

    CheckedOutPixels(const CheckedOutPixels&) = delete;
    CheckedOutPixels& operator=(const CheckedOutPixels&) = delete;

    const PF_EffectWorld* world() const { return world_; }

    void check_in() {
        held_ = false;
        throw_if_error(
            host_.extra.cb->checkin_layer_pixels(host_.in_data.effect_ref, checkout_id_));
    }

  private:
    const RenderHost& host_;
    A_long checkout_id_ = 0;
    PF_EffectWorld* world_ = nullptr;
    bool held_ = false;
};

void log_mask(const RenderHost& host, const FramePlan& plan, const SourceRef& source,
              const PF_EffectWorld* world) {
    const char* path = mask_log_path();
    if (path == nullptr) {
        return;
    }
    MaskLogEntry entry;
    entry.current_time = host.in_data.current_time;
    entry.time_scale = host.in_data.time_scale;
    entry.source_width = world != nullptr ? world->width : 0;
    entry.source_height = world != nullptr ? world->height : 0;
    entry.ref_width = source.ref_width;
    entry.ref_height = source.ref_height;
    entry.rect_left = source.rect.left;
    entry.rect_top = source.rect.top;
    entry.rect_right = source.rect.right;
    entry.rect_bottom = source.rect.bottom;
    entry.output_width = plan.output_width;
    entry.output_height = plan.output_height;
    entry.downsample_x = plan.downsample_x;
    entry.downsample_y = plan.downsample_y;
    append_mask_log(path, mask_log_line(entry));
}

} // namespace

PixelDepth pixel_depth_of(PF_PixelFormat format) {
    switch (format) {
    case PF_PixelFormat_ARGB64:
        return PixelDepth::k16;
    case PF_PixelFormat_ARGB128:
        return PixelDepth::k32;
    default:
        return PixelDepth::k8;
    }
}

bool check_abort(void* in_data) {
    const auto& in = *static_cast<const PF_InData*>(in_data);
    if (in.inter.abort(in.effect_ref) != PF_Err_NONE) {
        throw HostError{PF_Interrupt_CANCEL};
    }
    return false;
}

void lend_source_pixels(const RenderHost& host, const FramePlan& plan, const SourceRef& source,
                        PixelsUse use) {
    CheckedOutPixels pixels(host, source.key);
    const PF_EffectWorld* world = pixels.world();
    const bool has_pixels = world != nullptr && world->data != nullptr;

    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    if (has_pixels) {
        throw_if_error(host.world_suite.PF_GetPixelFormat(world, &format));
    }
    log_mask(host, plan, source, world);

    ConstPixelView view;
    if (has_pixels) {
        view.data = reinterpret_cast<const std::byte*>(world->data);
        view.width = world->width;
        view.height = world->height;
        view.rowbytes = world->rowbytes;
        view.depth = pixel_depth_of(format);
    }
    use(view);
    pixels.check_in();
}

} // namespace pointillo
