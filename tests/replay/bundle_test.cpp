// Replay bundles as files: what is saved reads back exactly, and what is
// malformed is refused with the file and line. Only the format library is
// linked: reading and writing bundles needs no module and no host.

#include "hostsim/replay/bundle.h"
#include "replay_support.h"

#include <bit>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace replay_test;

// A small replay with awkward values: doubles that print long or not at all
// in a short decimal, a signed zero, a subnormal, uneven downsample factors.
hostsim::Replay sample_replay() {
    hostsim::Replay replay;
    replay.width = 101;
    replay.height = 7;
    replay.time_scale = 30000;
    replay.time_step = 1001;
    replay.depth = 16;
    replay.downsample_x = PF_RationalScale{1, 2};
    replay.downsample_y = PF_RationalScale{2, 3};
    replay.frames = {-3, 0, 7, 2000000};
    replay.param_count = 6;
    replay.params.resize(5);
    for (int32_t i = 0; i < 5; ++i) {
        replay.params[static_cast<std::size_t>(i)].index = i + 1;
    }
    replay.params[0].type = PF_Param_GROUP_START;
    replay.params[1].type = PF_Param_FLOAT_SLIDER;
    replay.params[1].keys = {{-0.5, number(0.1)},
                             {1.0 / 3.0, number(1.7976931348623157e308)},
                             {2.5, number(-0.0)},
                             {4.0, number(4.9406564584124654e-324)}};
    replay.params[2].type = PF_Param_POPUP;
    replay.params[2].value = number(3.0);
    replay.params[3].type = PF_Param_COLOR;
    replay.params[3].value.color = argb(12, 34, 56, 78);
    replay.params[4].type = PF_Param_LAYER;
    replay.params[4].value = number(2.0);

    hostsim::ReplayLayer layer;
    layer.id = 2;
    layer.ref_width = 9; // 5 x 4 at the downsample
    layer.ref_height = 5;
    layer.pixels.depth = 16;
    layer.pixels.width = 5;
    layer.pixels.height = 4;
    layer.pixels.bytes.resize(5 * 4 * 8);
    for (std::size_t i = 0; i < layer.pixels.bytes.size(); ++i) {
        layer.pixels.bytes[i] = static_cast<std::byte>(i * 7 + 3);
    }
    replay.layers.push_back(layer);
    return replay;
}

void expect_same_value(const hostsim::ParamValue& a, const hostsim::ParamValue& b,
                       const std::string& what) {
    // Bits, so that -0.0 and 0.0 differ.
    EXPECT_EQ(std::bit_cast<uint64_t>(a.number), std::bit_cast<uint64_t>(b.number))
        << what << ": " << a.number << " came back as " << b.number;
    EXPECT_EQ(a.color.alpha, b.color.alpha) << what;
    EXPECT_EQ(a.color.red, b.color.red) << what;
    EXPECT_EQ(a.color.green, b.color.green) << what;
    EXPECT_EQ(a.color.blue, b.color.blue) << what;
}

void expect_same_replay(const hostsim::Replay& a, const hostsim::Replay& b) {
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.time_scale, b.time_scale);
    EXPECT_EQ(a.time_step, b.time_step);
    EXPECT_EQ(a.depth, b.depth);
    EXPECT_EQ(a.downsample_x.num, b.downsample_x.num);
    EXPECT_EQ(a.downsample_x.den, b.downsample_x.den);
    EXPECT_EQ(a.downsample_y.num, b.downsample_y.num);
    EXPECT_EQ(a.downsample_y.den, b.downsample_y.den);
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_EQ(a.param_count, b.param_count);
    ASSERT_EQ(a.params.size(), b.params.size());
    for (std::size_t i = 0; i < a.params.size(); ++i) {
        const hostsim::ReplayParam& pa = a.params[i];
        const hostsim::ReplayParam& pb = b.params[i];
        const std::string what = "parameter " + std::to_string(pa.index);
        EXPECT_EQ(pa.index, pb.index) << what;
        EXPECT_EQ(pa.type, pb.type) << what;
        ASSERT_EQ(pa.keys.size(), pb.keys.size()) << what;
        if (pa.keys.empty()) {
            expect_same_value(pa.value, pb.value, what);
        }
        for (std::size_t k = 0; k < pa.keys.size(); ++k) {
            const std::string key = what + " key " + std::to_string(k);
            EXPECT_EQ(std::bit_cast<uint64_t>(pa.keys[k].seconds),
                      std::bit_cast<uint64_t>(pb.keys[k].seconds))
                << key;
            expect_same_value(pa.keys[k].value, pb.keys[k].value, key);
        }
    }
    ASSERT_EQ(a.layers.size(), b.layers.size());
    for (std::size_t i = 0; i < a.layers.size(); ++i) {
        EXPECT_EQ(a.layers[i].id, b.layers[i].id);
        EXPECT_EQ(a.layers[i].ref_width, b.layers[i].ref_width);
        EXPECT_EQ(a.layers[i].ref_height, b.layers[i].ref_height);
        EXPECT_EQ(a.layers[i].pixels.depth, b.layers[i].pixels.depth);
        EXPECT_EQ(a.layers[i].pixels.width, b.layers[i].pixels.width);
        EXPECT_EQ(a.layers[i].pixels.height, b.layers[i].pixels.height);
        EXPECT_TRUE(a.layers[i].pixels.bytes == b.layers[i].pixels.bytes) << "layer " << i;
    }
}

TEST(ReplayFiles, ReadBackExactly) {
    const fs::path dir = fresh_dir("round_trip");
    const hostsim::Replay replay = sample_replay();
    hostsim::save_replay(dir, replay);
    expect_same_replay(replay, hostsim::load_replay(dir));
    EXPECT_EQ(fs::file_size(dir / "layer_2.raw"), 5u * 4u * 8u);
    fs::remove_all(dir);
}

TEST(ReplayFiles, MalformedBundlesAreRefused) {
    struct Row {
        const char* name;
        std::string from; // replaced in replay.txt (empty: the file is left alone)
        std::string to;
        const char* expected; // part of the message
    };
    const Row rows[] = {
        {"version", "pointillo-replay 1", "pointillo-replay 2", "line 1: format version 2"},
        {"size", "size 101 7", "size 101 0", "line 2: \"0\" is not a whole number from 1"},
        {"depth", "depth 16", "depth 12", "line 5: the depth must be 8, 16 or 32"},
        {"downsample", "downsample 1/2", "downsample 1/0", "line 6"},
        {"frame count", "frames 4 ", "frames 5 ", "line 7: \"frames\" takes the frame count"},
        {"frame time", "2000000", "3000000", "line 7: frame 3000000 is beyond"},
        {"kind", "param 3 popup", "param 3 popdown", "line 15: unknown parameter kind"},
        {"index", "param 3 popup", "param 4 popup", "line 15: expected parameter 3"},
        {"key order", "key 2.5", "key 0.2", "line 13: keyframes must be in strictly increasing"},
        {"colour", "color 12 34 56 78", "color 12 34 56 256", "line 16: \"256\""},
        {"colour words", "color 12 34 56 78", "color 12 34 56", "line 16: a colour is four"},
        {"layer size", "layer 2 9 5 5 4", "layer 2 9 5 5 5", "line 19: the pixel size"},
        {"layer count", "layers 1", "layers 2", "line 20: the file ends"},
        {"trailing", "layer 2 9 5 5 4\n", "layer 2 9 5 5 4\nmore\n", "line 20: unexpected text"},
        {"missing line", "depth 16\n", "", "line 5: expected \"depth\""},
        {"short layer file", "", "", "holds 159 bytes"},
        {"no layer file", "", "", "layer_2.raw"},
        {"no manifest", "", "", "cannot read"},
    };
    for (const Row& row : rows) {
        const fs::path dir = fresh_dir("malformed");
        hostsim::save_replay(dir, sample_replay());
        const std::string manifest = read_text(dir / "replay.txt");
        if (!row.from.empty()) {
            const std::size_t at = manifest.find(row.from);
            ASSERT_NE(at, std::string::npos) << row.name << ": \"" << row.from << "\" not in\n"
                                             << manifest;
            write_text(dir / "replay.txt",
                       std::string(manifest).replace(at, row.from.size(), row.to));
        } else if (std::string(row.name) == "short layer file") {
            fs::resize_file(dir / "layer_2.raw", 159);
        } else if (std::string(row.name) == "no layer file") {
            fs::remove(dir / "layer_2.raw");
        } else {
            fs::remove(dir / "replay.txt");
        }
        try {
            hostsim::load_replay(dir);
            ADD_FAILURE() << row.name << ": accepted";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()).find(row.expected), std::string::npos)
                << row.name << ": the message was \"" << e.what() << "\"";
        }
    }
    fs::remove_all(fresh_dir("malformed"));
}

TEST(ReplayFiles, SaveRefusesWhatCannotBeReadBack) {
    struct Row {
        const char* name;
        void (*spoil)(hostsim::Replay&);
    };
    const Row rows[] = {
        {"depth", [](hostsim::Replay& r) { r.depth = 12; }},
        {"size", [](hostsim::Replay& r) { r.width = 30001; }},
        {"downsample", [](hostsim::Replay& r) { r.downsample_y.den = 0; }},
        {"frame time", [](hostsim::Replay& r) { r.frames.push_back(3000000); }},
        {"parameter count", [](hostsim::Replay& r) { r.param_count = 7; }},
        {"parameter order", [](hostsim::Replay& r) { r.params[2].index = 4; }},
        {"parameter kind", [](hostsim::Replay& r) { r.params[2].type = 99; }},
        {"group with keys",
         [](hostsim::Replay& r) {
             r.params[0].keys = {{0.0, number(1)}};
         }},
        {"key order", [](hostsim::Replay& r) { r.params[1].keys[1].seconds = -0.5; }},
        {"pixel depth", [](hostsim::Replay& r) { r.layers[0].pixels.depth = 8; }},
        {"pixel size", [](hostsim::Replay& r) { r.layers[0].pixels.height = 5; }},
        {"pixel bytes", [](hostsim::Replay& r) { r.layers[0].pixels.bytes.pop_back(); }},
        {"layer order", [](hostsim::Replay& r) { r.layers.push_back(r.layers[0]); }},
    };
    const fs::path dir = fresh_dir("refused");
    for (const Row& row : rows) {
        hostsim::Replay replay = sample_replay();
        row.spoil(replay);
        EXPECT_THROW(hostsim::save_replay(dir, replay), std::invalid_argument) << row.name;
    }
    EXPECT_FALSE(fs::exists(dir / "replay.txt"));
    fs::remove_all(dir);
}

} // namespace
