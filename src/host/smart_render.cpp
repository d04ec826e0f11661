#include "host/smart_render.h"

#include "draw/canvas.h"
#include "host/host_error.h"
#include "host/iterate_for.h"
#include "host/pre_render.h"
#include "host/scoped_suite.h"
#include "host/source_pixels.h"
#include "render/render_frame.h"

namespace pointillo {

void smart_render(PF_InData* in_data, PF_SmartRenderExtra* extra) {
    const auto* plan = static_cast<const PreRenderData*>(extra->input->pre_render_data);
    if (plan == nullptr) {
        throw HostError{PF_Err_INTERNAL_STRUCT_DAMAGED};
    }
    // Here an error from AcquireSuite also means the suite is unavailable.
    const ScopedSuite<PF_WorldSuite2> world_suite(
        in_data->pica_basicP, kPFWorldSuite, kPFWorldSuiteVersion2, SuiteCheck::kPointerAndResult);
    if (!world_suite) {
        throw HostError{PF_Err_BAD_CALLBACK_PARAM};
    }
    const RenderHost host{*in_data, *extra, *world_suite.get()};
    const CancelCheck cancel{check_abort, in_data};
    // Pieces never poll abort (the suite lets only the host's thread 0 do so):
    // the core polls between passes, on this thread.
    const IterateFor parallel(in_data->pica_basicP);

    Canvas canvas;
    const auto sources = [&](const SourceRef& source, PixelsUse use) {
        lend_source_pixels(host, *plan, source, use);
    };
    render_frame(*plan, sources, cancel, canvas, parallel);

    // The output is checked out once, after all drawing. No world, or one
    // without pixels, is success without writing.
    PF_EffectWorld* output = nullptr;
    throw_if_error(extra->cb->checkout_output(in_data->effect_ref, &output));
    if (output == nullptr || output->data == nullptr) {
        return;
    }
    PF_PixelFormat format = PF_PixelFormat_ARGB32;
    throw_if_error(world_suite->PF_GetPixelFormat(output, &format));
    const PixelView view{reinterpret_cast<std::byte*>(output->data), output->width, output->height,
                         output->rowbytes, pixel_depth_of(format)};
    convert_canvas(canvas, view, cancel);
}

} // namespace pointillo
