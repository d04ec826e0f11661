#pragma once

// The record a frames folder keeps of what produced its frames, so that
// --resume never mixes the frames of two renders.

#include "cli/run/frame_range.h"
#include "cli/run/motion_blur.h"
#include "cli/scene/prepared_scene.h"
#include "cli/scene/scene.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pointillo {

constexpr const char* kRenderRecordName = "pointillo-render.json";

// What produced a folder's frames: named entries, compared one by one, and
// the frames in the folder that another render left there.
struct RenderRecord {
    // The renderer and module versions, the comp, depth, downsample,
    // background, motion blur, each parameter the scene sets, and each
    // source's description and a hash of its pixels as the effect receives
    // them (which covers image files and fonts).
    std::vector<std::pair<std::string, std::string>> entries;
    // Frames whose files come from another render, in increasing order,
    // neither overlapping nor touching.
    std::vector<FrameRange> foreign;

    friend bool operator==(const RenderRecord&, const RenderRecord&) = default;
};

// The record of a render of `scene` (as prepared) over `background` with
// `blur`, by the module of version text `module_version`.
RenderRecord make_render_record(const Scene& scene, const PreparedScene& prepared,
                                const std::optional<Rgb8>& background, const MotionBlur& blur,
                                const std::string& module_version);

// The folder's record: nullopt when it has none; a record whose entries say
// only that it cannot be read when the file is not one this renderer wrote.
std::optional<RenderRecord> read_render_record(const std::filesystem::path& dir);

// Writes the record atomically. Throws RenderFailure.
void write_render_record(const std::filesystem::path& dir, const RenderRecord& record);

// The entries that differ, one text each ("depth: 16 there, 8 now").
std::vector<std::string> record_differences(const RenderRecord& there, const RenderRecord& now);

// The frame numbers of the files in `dir` named as frames of `depth` are
// ("frame_00012.png"), whole or not.
std::set<int32_t> frame_files_in(const std::filesystem::path& dir, PixelDepth depth);

// Frame numbers as the fewest ranges, in order.
std::vector<FrameRange> frame_ranges_of(const std::set<int32_t>& frames);
// `ranges` without the frames of `cut`.
std::vector<FrameRange> without_frames(const std::vector<FrameRange>& ranges, FrameRange cut);
bool in_ranges(const std::vector<FrameRange>& ranges, int32_t frame);
// "3, 10-149".
std::string frame_list_text(const std::vector<FrameRange>& ranges);
// "frame 3", "frames 3, 10-149".
std::string frames_text(const std::vector<FrameRange>& ranges);

} // namespace pointillo
