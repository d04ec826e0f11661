// The portable form of the drawing kernels: plain C++, one pixel at a time.
// It is the reference every other form must equal bit for bit, and the form
// a compiler or processor without one of those gets.

#include "draw/float_math.h"
#include "draw/kernel_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace pointillo::raster {
namespace {

struct Portable {
    template <Measure M, bool Hole> class RowKernel {
      public:
        explicit RowKernel(const RowGeometry& g) : g_(g) {}

        void operator()(float* out, int32_t j0, int32_t count, float dy, double dy2) const {
            RowGeometry g = g_;
            g.dy = dy;
            g.dy2 = dy2;
            for (int32_t k = 0; k < count; ++k) {
                out[k] = pixel_coverage<M, Hole>(g, j0 + k);
            }
        }

      private:
        RowGeometry g_;
    };

    static void paint_max_row(PremultipliedPixel* row, const float* coverage, int32_t count,
                              float opacity, Rgb color) {
        for (int32_t k = 0; k < count; ++k) {
            combine_max(row[k], coverage[k] * opacity, color);
        }
    }

    // u = clamp01(coverage x opacity).
    static void paint_over_row(PremultipliedPixel* row, const float* coverage, int32_t count,
                               float opacity, Rgb color) {
        for (int32_t k = 0; k < count; ++k) {
            combine_over(row[k], clamp01(coverage[k] * opacity), color);
        }
    }

    // Appends columns first .. last of one row to the list, in groups of four
    // as the vector forms do.
    static int32_t push_run(RampList& list, int32_t n, int32_t first, int32_t last,
                            int32_t row_offset, float dy, double dy2) {
        for (int32_t j = first; j <= last; j += 4) {
            for (int32_t l = 0; l < 4; ++l) {
                list.column[n + l] = j + l;
                list.offset[n + l] = row_offset + j + l;
                list.dy[n + l] = dy;
                list.dy2[n + l] = dy2;
            }
            const int32_t left = last - j + 1;
            n += left < 4 ? left : 4;
        }
        return n;
    }

    // list.coverage[k] = the dot's coverage at entry k, times `opacity`.
    template <Measure M>
    static void ramp_coverage(RampList& list, int32_t n, const RowGeometry& g, float opacity) {
        RowGeometry lane = g;
        for (int32_t k = 0; k < n; ++k) {
            lane.dy = list.dy[k];
            lane.dy2 = list.dy2[k];
            list.coverage[k] = pixel_coverage<M, false>(lane, list.column[k]) * opacity;
        }
    }

    // One pixel by maximum with the (already multiplied) coverage c.
    static void paint_pixel(PremultipliedPixel& p, float c, Rgb color) { combine_max(p, c, color); }

    // Pixels of coverage 1: 1 x opacity is the opacity itself.
    static void paint_solid_run(PremultipliedPixel* run, int32_t count, float opacity, Rgb color) {
        for (int32_t k = 0; k < count; ++k) {
            combine_max(run[k], opacity, color);
        }
    }

    static void fill_row(PremultipliedPixel* out, const uint16_t* coverage, const Rgb* colors,
                         Rgb uniform, int32_t count) {
        for (int32_t k = 0; k < count; ++k) {
            const float a = static_cast<float>(coverage[k]) / 65535.0f;
            const Rgb color = colors != nullptr ? colors[k] : uniform;
            out[k] = {a, a * color.red, a * color.green, a * color.blue};
        }
    }

    static void convert_row_8(const PremultipliedPixel* in, std::byte* out, int32_t count) {
        for (int32_t k = 0; k < count; ++k) {
            const uint8_t px[4] = {to_8(in[k].alpha), to_8(in[k].red), to_8(in[k].green),
                                   to_8(in[k].blue)};
            std::memcpy(out + 4 * k, px, sizeof(px));
        }
    }

    static void convert_row_16(const PremultipliedPixel* in, std::byte* out, int32_t count) {
        for (int32_t k = 0; k < count; ++k) {
            const uint16_t px[4] = {to_16(in[k].alpha), to_16(in[k].red), to_16(in[k].green),
                                    to_16(in[k].blue)};
            std::memcpy(out + 8 * k, px, sizeof(px));
        }
    }

    static void write_out(PremultipliedPixel* tile_row, PremultipliedPixel* canvas_row,
                          int32_t count) {
        std::memcpy(canvas_row, tile_row, static_cast<size_t>(count) * sizeof(PremultipliedPixel));
        std::fill_n(tile_row, count, PremultipliedPixel{});
    }

    static void clear_out(PremultipliedPixel* canvas_row, int32_t count) {
        std::fill_n(canvas_row, count, PremultipliedPixel{});
    }

    // Plain stores are visible to the next reader as they are.
    static void finish_writes() {}
};

} // namespace

void install_portable(DrawKernels& kernels) {
    install_form<Portable>(kernels);
}

} // namespace pointillo::raster
