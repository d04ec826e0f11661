#include "cli/frames/render_record.h"
#include "test_support.h"

#include <gtest/gtest.h>

namespace pointillo {
namespace {

TEST(RenderRecord, FrameListsAsRanges) {
    const std::vector<FrameRange> ranges = frame_ranges_of({0, 2, 3, 4, 9, 10, 12});
    EXPECT_EQ(ranges, (std::vector<FrameRange>{{0, 0}, {2, 4}, {9, 10}, {12, 12}}));
    EXPECT_EQ(frame_list_text(ranges), "0, 2-4, 9-10, 12");
    EXPECT_EQ(frames_text({{7, 7}}), "frame 7");
    EXPECT_EQ(frames_text({{7, 8}}), "frames 7-8");
    EXPECT_EQ(without_frames(ranges, {3, 9}),
              (std::vector<FrameRange>{{0, 0}, {2, 2}, {10, 10}, {12, 12}}));
    EXPECT_EQ(without_frames({{0, 100}}, {0, 100}), std::vector<FrameRange>{});
    EXPECT_EQ(without_frames({{0, 100}}, {40, 60}), (std::vector<FrameRange>{{0, 39}, {61, 100}}));
    EXPECT_TRUE(in_ranges(ranges, 3));
    EXPECT_FALSE(in_ranges(ranges, 5));
}

TEST(RenderRecord, WrittenRecordsReadBackAndBrokenOnesAreUnreadable) {
    const testing_support::TempDir dir;
    EXPECT_FALSE(read_render_record(dir.path).has_value());
    RenderRecord record;
    record.entries = {{"depth", "8"}, {"params[\"Dot Size\"]", "[[0, 4], [2, 9]]"}};
    record.foreign = {{0, 0}, {5, 2'000'000}};
    write_render_record(dir.path, record);
    EXPECT_EQ(read_render_record(dir.path), record);
    EXPECT_EQ(testing_support::file_names(dir.path),
              std::vector<std::string>{"pointillo-render.json"});

    for (const char* text : {"", "{", "[]", R"({"pointillo render record": 2})",
                             R"({"pointillo render record": 1, "made by": {"a": 1},
                                 "frames of another render": ""})",
                             R"({"pointillo render record": 1, "made by": {},
                                 "frames of another render": "5-3"})",
                             R"({"pointillo render record": 1, "made by": {},
                                 "frames of another render": "1, 1"})"}) {
        testing_support::write_text(dir / kRenderRecordName, text);
        const std::optional<RenderRecord> broken = read_render_record(dir.path);
        ASSERT_TRUE(broken.has_value()) << text;
        EXPECT_EQ(record_differences(*broken, record),
                  std::vector<std::string>{"pointillo-render.json cannot be read"})
            << text;
    }
}

TEST(RenderRecord, DifferencesNameEachEntry) {
    RenderRecord there;
    there.entries = {{"depth", "8"},
                     {"params[\"Scatter\"]", "240"},
                     {"sources[0] (Source 1)", "image \"a.png\""},
                     {"sources[0] (Source 1) pixels", "1"},
                     {"sources[1] (Source 2)", "image \"b.png\""},
                     {"sources[1] (Source 2) pixels", "2"}};
    RenderRecord now;
    now.entries = {{"depth", "16"},
                   {"params[\"Dot Size\"]", "9"},
                   {"sources[0] (Source 1)", "image \"a.png\""},
                   {"sources[0] (Source 1) pixels", "3"},
                   {"sources[1] (Source 2)", "image \"c.png\""},
                   {"sources[1] (Source 2) pixels", "4"}};
    EXPECT_EQ(record_differences(there, now),
              (std::vector<std::string>{
                  "depth: 8 there, 16 now", "params[\"Scatter\"]: 240 there, the default now",
                  "sources[0] (Source 1) pixels changed (its image file or font changed)",
                  "sources[1] (Source 2): image \"b.png\" there, image \"c.png\" now",
                  "params[\"Dot Size\"]: the default there, 9 now"}));
    EXPECT_TRUE(record_differences(now, now).empty());
}

TEST(RenderRecord, FrameFilesOfTheDepthAreFound) {
    const testing_support::TempDir dir;
    for (const char* name : {"frame_00000.png", "frame_00012.png", "frame_123456.png",
                             "frame_00003.exr", "frame_x.png", "frame_-1.png", "frame_.png",
                             "other_00004.png", ".frame_00005.png.host.1.tmp"}) {
        testing_support::write_text(dir / name, "");
    }
    EXPECT_EQ(frame_files_in(dir.path, PixelDepth::k8), (std::set<int32_t>{0, 12, 123456}));
    EXPECT_EQ(frame_files_in(dir.path, PixelDepth::k32), (std::set<int32_t>{3}));
    EXPECT_TRUE(frame_files_in(dir / "absent", PixelDepth::k8).empty());
}

} // namespace
} // namespace pointillo
