#include "cli/program/frames_folder.h"

#include "cli/base/errors.h"
#include "cli/frames/frame_file.h"
#include "cli/frames/render_record.h"

#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

namespace pointillo {

void settle_frames_folder(const RenderPlan& plan, bool force_resume,
                          const std::string& module_version, std::ostream& err, bool check_only) {
    const std::filesystem::path& dir = plan.job.out_dir;
    const PixelDepth depth = plan.prepared.setup.depth;
    const FrameRange range = plan.job.frames;
    RenderRecord now = make_render_record(plan.scene, plan.prepared, plan.job.background, plan.blur,
                                          module_version);
    const std::optional<RenderRecord> there = read_render_record(dir);
    const std::set<int32_t> files = frame_files_in(dir, depth);
    const bool same = there && there->entries == now.entries;
    const std::string where = "-o " + dir.string() + ": ";

    if (plan.job.resume) {
        std::string problem;
        if (there && !same) {
            const std::vector<std::string> differences = record_differences(*there, now);
            problem = "its frames come from another render (";
            for (size_t i = 0; i < differences.size() && i < 6; ++i) {
                problem += (i == 0 ? "" : "; ") + differences[i];
            }
            if (differences.size() > 6) {
                problem += "; and " + std::to_string(differences.size() - 6) + " more";
            }
            problem += ")";
        } else if (!there && !files.empty()) {
            problem = "it holds frames but no " + std::string(kRenderRecordName) +
                      " saying what rendered them";
        } else if (same) {
            std::set<int32_t> stale;
            for (const int32_t n : files) {
                if (n >= range.first && n <= range.last && in_ranges(there->foreign, n)) {
                    stale.insert(n);
                }
            }
            if (!stale.empty()) {
                problem = frames_text(frame_ranges_of(stale)) + " there come" +
                          (stale.size() == 1 ? "s" : "") + " from another render";
            }
        }
        if (!problem.empty() && !force_resume) {
            throw InputError(where + problem +
                             "; render into another folder, leave out --resume to render these "
                             "frames again, or use --force-resume to keep the frames there");
        }
        now.foreign = without_frames(same ? there->foreign : frame_ranges_of(files), range);
    } else {
        std::set<int32_t> replaced;
        for (const int32_t n : files) {
            if (n >= range.first && n <= range.last && (!same || in_ranges(there->foreign, n))) {
                replaced.insert(n);
            }
        }
        now.foreign = without_frames(same ? there->foreign : frame_ranges_of(files), range);
        if (check_only) {
            return;
        }
        for (const int32_t n : replaced) {
            std::error_code ec;
            std::filesystem::remove(dir / frame_file_name(n, depth), ec);
        }
        if (!replaced.empty() || !now.foreign.empty()) {
            err << "pointillo: note: " << dir.string() << " held frames of another render; "
                << (replaced.empty() ? std::string()
                                     : frames_text(frame_ranges_of(replaced)) + " rendered again, ")
                << (now.foreign.empty()
                        ? "none stay"
                        : frames_text(now.foreign) + " stay, and --resume will not take them")
                << "\n";
        }
    }
    if (!check_only && (!there || !(*there == now))) {
        write_render_record(dir, now);
    }
}

} // namespace pointillo
