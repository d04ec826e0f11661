// Every malformed scene or command line ends with exit status 2 and one
// message naming the file (or option), the field and the problem.

#include "cli/frames/png_io.h"
#include "cli/program/app.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sstream>

namespace pointillo {
namespace {

using testing_support::TempDir;

constexpr const char* kComp = R"("comp": {"width": 64, "height": 32, "fps": 30, "duration": 1})";

std::string with_comp(const std::string& rest) {
    return std::string("{") + kComp + (rest.empty() ? "" : ", " + rest) + "}";
}

struct BadInput {
    const char* name;
    std::string scene;             // written to scene.json; empty: no file
    std::vector<std::string> args; // "{scene}" and "{dir}" are replaced
    std::vector<std::string> expected;
};

std::vector<BadInput> bad_inputs() {
    const std::vector<std::string> render = {"render", "{scene}"};
    auto args = [&](std::initializer_list<std::string> extra) {
        std::vector<std::string> out = render;
        out.insert(out.end(), extra);
        return out;
    };
    return {
        {"not json", "{", render, {"scene.json: not valid JSON", "line 1"}},
        {"empty file", " ", render, {"scene.json: not valid JSON"}},
        {"number beyond double",
         R"({"comp": {"width": 1e700}})",
         render,
         {"scene.json: not valid JSON", "1e700"}},
        {"not an object", "[1, 2]", render, {"scene.json: the scene must be a JSON object"}},
        {"no comp", "{}", render, {"scene.json: comp: missing"}},
        {"unknown top field",
         with_comp(R"("sauces": [])"),
         render,
         {"scene.json: sauces: unknown field", "\"sources\""}},
        {"duplicate field",
         with_comp(R"("depth": 8, "depth": 16)"),
         render,
         {"scene.json: depth: field appears more than once"}},
        {"zero width",
         R"({"comp": {"width": 0, "height": 32, "fps": 30, "duration": 1}})",
         render,
         {"scene.json: comp.width: must be a whole number from 1 to 30000, got 0"}},
        {"negative height",
         R"({"comp": {"width": 4, "height": -2, "fps": 30, "duration": 1}})",
         render,
         {"scene.json: comp.height:", "got -2"}},
        {"side too long",
         R"({"comp": {"width": 30001, "height": 2, "fps": 30, "duration": 1}})",
         render,
         {"scene.json: comp.width:", "30001"}},
        {"fractional width",
         R"({"comp": {"width": 6.5, "height": 2, "fps": 30, "duration": 1}})",
         render,
         {"scene.json: comp.width: must be a whole number"}},
        {"width as text",
         R"({"comp": {"width": "64", "height": 2, "fps": 30, "duration": 1}})",
         render,
         {"scene.json: comp.width:", "got the string \"64\""}},
        {"over 64 megapixels",
         R"({"comp": {"width": 10000, "height": 10000, "fps": 30, "duration": 1}})",
         render,
         {"scene.json: comp:", "100000000 pixels", "64 megapixels"}},
        {"missing fps",
         R"({"comp": {"width": 4, "height": 4, "duration": 1}})",
         render,
         {"scene.json: comp.fps: missing"}},
        {"zero fps",
         R"({"comp": {"width": 4, "height": 4, "fps": 0, "duration": 1}})",
         render,
         {"scene.json: comp.fps: must be greater than 0"}},
        {"negative fps",
         R"({"comp": {"width": 4, "height": 4, "fps": -30, "duration": 1}})",
         render,
         {"scene.json: comp.fps: must be greater than 0, got -30"}},
        {"tiny fps",
         R"({"comp": {"width": 4, "height": 4, "fps": 1e-6, "duration": 1}})",
         render,
         {"scene.json: comp.fps:", "time scale"}},
        {"zero duration",
         R"({"comp": {"width": 4, "height": 4, "fps": 30, "duration": 0}})",
         render,
         {"scene.json: comp.duration: must be greater than 0"}},
        {"no frame",
         R"({"comp": {"width": 4, "height": 4, "fps": 30, "duration": 1e-12}})",
         render,
         {"scene.json: comp.duration:", "holds no frame"}},
        {"too many frames",
         R"({"comp": {"width": 4, "height": 4, "fps": 30, "duration": 1e9}})",
         render,
         {"scene.json: comp.duration:", "more than 2147483 frames"}},
        {"unknown comp field",
         R"({"comp": {"width": 4, "height": 4, "fps": 30, "duration": 1, "length": 2}})",
         render,
         {"scene.json: comp.length: unknown field"}},
        {"downsample 9",
         with_comp(R"("downsample": 9)"),
         render,
         {"scene.json: downsample: must be a whole number from 1 to 8, got 9"}},
        {"depth 12",
         with_comp(R"("depth": 12)"),
         render,
         {"scene.json: depth: must be 8, 16 or 32, got 12"}},
        {"background name",
         with_comp(R"("background": "red")"),
         render,
         {"scene.json: background:", "#rrggbb", "\"red\""}},
        {"sources not a list",
         with_comp(R"("sources": {"text": "A"})"),
         render,
         {"scene.json: sources: must be an array"}},
        {"17 sources",
         with_comp(R"("sources": [null, null, null, null, null, null, null, null,
            null, null, null, null, null, null, null, null, null])"),
         render,
         {"scene.json: sources: has 17 entries", "16 source slots"}},
        {"source is a number",
         with_comp(R"("sources": [5])"),
         render,
         {"scene.json: sources[0] (Source 1):", "got 5"}},
        {"text and image",
         with_comp(R"("sources": [null, {"text": "A", "image": "a.png"}])"),
         render,
         {"scene.json: sources[1] (Source 2): has both"}},
        {"neither text nor image",
         with_comp(R"("sources": [{"size": 10}])"),
         render,
         {"scene.json: sources[0] (Source 1): needs \"text\" or \"image\""}},
        {"text not a string",
         with_comp(R"("sources": [{"text": 12}])"),
         render,
         {"scene.json: sources[0] (Source 1).text: must be a string"}},
        {"text size zero",
         with_comp(R"("sources": [{"text": "A", "size": 0}])"),
         render,
         {"scene.json: sources[0] (Source 1).size:", "from 1 to 10000"}},
        {"text colour short",
         with_comp(R"("sources": [{"text": "A", "color": "#12345"}])"),
         render,
         {"scene.json: sources[0] (Source 1).color:", "#rrggbb"}},
        {"text field typo",
         with_comp(R"("sources": [{"text": "A", "colour": "#123456"}])"),
         render,
         {"scene.json: sources[0] (Source 1).colour: unknown field", "\"color\""}},
        {"missing image",
         with_comp(R"("sources": [null, {"image": "missing.png"}])"),
         render,
         {"scene.json: sources[1] (Source 2).image:", "\"missing.png\"", "no such file"}},
        {"image is a folder",
         with_comp(R"("sources": [{"image": "folder.png"}])"),
         render,
         {"scene.json: sources[0] (Source 1).image:", "not a regular file"}},
        {"image not a png",
         with_comp(R"("sources": [{"image": "scene.json"}])"),
         render,
         {"scene.json: sources[0] (Source 1).image:", "not a readable PNG"}},
        {"unknown font",
         with_comp(R"("sources": [{"text": "A", "font": "Nonexistent Sans"}])"),
         render,
         {"scene.json: sources[0] (Source 1).font:", "unknown font \"Nonexistent Sans\""}},
        {"params not an object",
         with_comp(R"("params": [1])"),
         render,
         {"scene.json: params: must be an object"}},
        {"unknown parameter",
         with_comp(R"("params": {"Dot Sise": 3})"),
         render,
         {"scene.json: params[\"Dot Sise\"]: unknown parameter", "nearest: \"Dot Size\""}},
        {"slider above range",
         with_comp(R"("params": {"Scatter": 4000.5})"),
         render,
         {"scene.json: params[\"Scatter\"]:", "4000.5", "0 to 4000"}},
        {"slider below range",
         with_comp(R"("params": {"Dot Size": 0.25})"),
         render,
         {"scene.json: params[\"Dot Size\"]:", "0.5 to 300"}},
        {"slider as text",
         with_comp(R"("params": {"Spacing": "8"})"),
         render,
         {"scene.json: params[\"Spacing\"]:", "a number from 2 to 200"}},
        {"unknown choice",
         with_comp(R"("params": {"Motion Style": "Spin"})"),
         render,
         {"scene.json: params[\"Motion Style\"]:", "\"Swirl\"", "\"Spin\""}},
        {"choice number 0",
         with_comp(R"("params": {"Motion Style": 0})"),
         render,
         {"scene.json: params[\"Motion Style\"]:", "1 to 5", "got 0"}},
        {"choice number 6",
         with_comp(R"("params": {"Order": 7})"),
         render,
         {"scene.json: params[\"Order\"]:", "1 to 6"}},
        {"checkbox as number",
         with_comp(R"("params": {"Loop": 1})"),
         render,
         {"scene.json: params[\"Loop\"]:", "true or false"}},
        {"colour short form",
         with_comp(R"("params": {"Dot Color": "#fff"})"),
         render,
         {"scene.json: params[\"Dot Color\"]:", "#rrggbb"}},
        {"keys out of order",
         with_comp(R"("params": {"Scatter": [[1, 5], [0.5, 6]]})"),
         render,
         {"scene.json: params[\"Scatter\"][1][0]:", "keyframe times must increase"}},
        {"keys at one time",
         with_comp(R"("params": {"Scatter": [[1, 5], [1, 6]]})"),
         render,
         {"scene.json: params[\"Scatter\"][1][0]:", "must increase"}},
        {"key not a pair",
         with_comp(R"("params": {"Scatter": [[1]]})"),
         render,
         {"scene.json: params[\"Scatter\"][0]:", "[seconds, value] pair"}},
        {"no keys",
         with_comp(R"("params": {"Scatter": []})"),
         render,
         {"scene.json: params[\"Scatter\"]:", "at least one"}},
        {"key time as text",
         with_comp(R"("params": {"Scatter": [["0", 5]]})"),
         render,
         {"scene.json: params[\"Scatter\"][0][0]: must be a number"}},
        {"key value out of range",
         with_comp(R"("params": {"Scatter": [[0, 1], [1, 5000]]})"),
         render,
         {"scene.json: params[\"Scatter\"][1][1]:", "0 to 4000"}},
        {"text count",
         with_comp(R"("params": {"Text Count": 3})"),
         render,
         {"scene.json: params[\"Text Count\"]:", "set by the renderer"}},
        {"source slot",
         with_comp(R"("params": {"Source 1": 3})"),
         render,
         {"scene.json: params[\"Source 1\"]:", "use \"sources\""}},
        {"button",
         with_comp(R"("params": {"Add Source": true})"),
         render,
         {"scene.json: params[\"Add Source\"]:", "button"}},
        {"group",
         with_comp(R"("params": {"Sequence": 1})"),
         render,
         {"scene.json: params[\"Sequence\"]:", "group"}},
        {"missing scene file",
         "",
         {"render", "{dir}/absent.json"},
         {"absent.json: cannot read the scene: no such file"}},
        {"reversed range",
         with_comp(""),
         args({"--frames", "5-2"}),
         {"--frames 5-2:", "first frame comes after the last"}},
        {"range past the end",
         with_comp(""),
         args({"--frames", "0-30"}),
         {"--frames 0-30:", "frames 0 to 29"}},
        {"frame past the end", with_comp(""), args({"--frame", "30"}), {"--frame 30:"}},
        {"range not numbers", with_comp(""), args({"--frames", "a-b"}), {"--frames a-b:"}},
        {"negative range",
         with_comp(""),
         args({"--frames=-3"}),
         {"--frames -3:", "frame numbers and times start at 0"}},
        {"negative frame",
         with_comp(""),
         args({"--frame", "-1"}),
         {"--frame -1:", "frame numbers and times start at 0"}},
        {"time past the end",
         with_comp(""),
         args({"--frame", "1.5s"}),
         {"--frame 1.5s:", "past the end", "frames 0 to 29 (the last at 0.967 s)"}},
        {"range in --frame",
         with_comp(""),
         args({"--frame", "1-2"}),
         {"--frame 1-2:", "use --frames"}},
        {"frame and frames",
         with_comp(""),
         args({"--frame", "1", "--frames", "1-2"}),
         {"excludes"}},
        {"zero jobs", with_comp(""), args({"--jobs", "0"}), {"--jobs 0:"}},
        {"jobs not a number", with_comp(""), args({"--jobs", "many"}), {"--jobs"}},
        {"zero threads", with_comp(""), args({"--threads", "0"}), {"--threads 0:"}},
        {"too many threads", with_comp(""), args({"--threads", "1025"}), {"--threads 1025:"}},
        {"depth 10", with_comp(""), args({"--depth", "10"}), {"--depth 10: must be 8, 16 or 32"}},
        {"downsample 0", with_comp(""), args({"--downsample", "0"}), {"--downsample 0:"}},
        {"background name",
         with_comp(""),
         args({"--background", "blue"}),
         {"--background blue:", "#rrggbb"}},
        {"video format",
         with_comp(""),
         args({"--video", "out.avi"}),
         {"--video out.avi:",
          ".mp4, .mov (ProRes 4444 with alpha), .webm (VP9 with alpha) or .gif"}},
        {"quality name",
         with_comp(""),
         args({"--video", "out.mp4", "--quality", "best"}),
         {"--quality best: must be draft, high or max"}},
        {"quality of a gif",
         with_comp(""),
         args({"--video", "out.gif", "--quality", "max"}),
         {"--quality: .gif has one quality"}},
        {"crf of prores",
         with_comp(""),
         args({"--video", "out.mov", "--crf", "10"}),
         {"--crf: .mov has one quality"}},
        {"crf beyond x264",
         with_comp(""),
         args({"--video", "out.mp4", "--crf", "52"}),
         {"--crf 52: must be from 0 (best) to 51 for .mp4"}},
        {"crf without a video", with_comp(""), args({"--crf", "20"}), {"--crf: only with --video"}},
        {"set without a value",
         with_comp(""),
         args({"--set", "sources[0].text"}),
         {"--set sources[0].text: expected KEY=VALUE"}},
        {"set beyond the sources",
         with_comp(""),
         args({"--set", "sources[2].text=A"}),
         {"--set sources[2].text=A:", "sources is not in the scene"}},
        {"set out of range",
         with_comp(""),
         args({"--set", "params.Dot Size=0"}),
         {"scene.json: params[\"Dot Size\"]:", "0.5 to 300"}},
        {"no motion blur samples",
         with_comp(""),
         args({"--motion-blur", "0"}),
         {"--motion-blur 0:", "from 1 to 256"}},
        {"too many motion blur samples",
         with_comp(""),
         args({"--motion-blur", "257"}),
         {"--motion-blur 257:", "from 1 to 256"}},
        {"shutter angle alone",
         with_comp(""),
         args({"--shutter-angle", "90"}),
         {"--shutter-angle: only with --motion-blur N"}},
        {"shutter angle zero",
         with_comp(""),
         args({"--motion-blur", "4", "--shutter-angle", "0"}),
         {"--shutter-angle 0:", "more than 0 and at most 720"}},
        {"shutter angle beyond 720",
         with_comp(""),
         args({"--motion-blur", "4", "--shutter-angle", "720.5"}),
         {"--shutter-angle 720.5:"}},
        {"motion blur in a replay bundle",
         with_comp(""),
         args({"--motion-blur", "4", "--export-replay", "{dir}/b"}),
         {"--motion-blur:", "--export-replay"}},
        {"unknown option", with_comp(""), args({"--fast"}), {"--fast"}},
        {"no command", with_comp(""), {}, {"subcommand"}},
    };
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

TEST(BadInput, ExitsWithTwoAndOneMessageNamingFileFieldAndProblem) {
    for (const BadInput& row : bad_inputs()) {
        const TempDir dir;
        std::filesystem::create_directory(dir / "folder.png");
        if (!row.scene.empty()) {
            testing_support::write_text(dir / "scene.json", row.scene);
        }
        std::vector<std::string> args;
        for (const std::string& arg : row.args) {
            args.push_back(replace_all(replace_all(arg, "{scene}", (dir / "scene.json").string()),
                                       "{dir}", dir.path.string()));
        }
        std::ostringstream err;
        const int status = check_render_command(args, err);
        const std::string message = err.str();
        EXPECT_EQ(status, 2) << "row \"" << row.name << "\": message: " << message;
        for (const std::string& part : row.expected) {
            EXPECT_NE(message.find(part), std::string::npos)
                << "row \"" << row.name << "\": expected \"" << part << "\" in: " << message;
        }
        EXPECT_EQ(message.rfind("pointillo: ", 0), 0u) << "row \"" << row.name << "\": " << message;
        // One message: a single line, except for CLI11's hint after usage errors.
        const auto lines = std::count(message.begin(), message.end(), '\n');
        EXPECT_LE(lines, 2) << "row \"" << row.name << "\": " << message;
    }
}

TEST(BadInput, GoodScenesPassTheSameCheck) {
    const TempDir dir;
    StraightImage logo = make_straight_image(3, 3, 16);
    testing_support::write_bytes(dir / "logo.png", encode_png(logo));
    testing_support::write_text(dir / "scene.json", with_comp(R"(
        "downsample": 2, "depth": 32, "background": "#102030",
        "sources": [{"text": "Hi\nthere", "font": "dejavu serif:italic"}, null,
                    {"image": "logo.png"}],
        "params": {"Scatter": [[0, 0], [1, 4000]], "Dot Shape": "Ring", "Loop": true})"));
    const std::string scene = (dir / "scene.json").string();
    const std::vector<std::vector<std::string>> commands = {
        {"render", scene},
        {"render", scene, "--frames", "0-29", "--jobs", "3", "--depth", "8"},
        {"render", scene, "--frame", "29", "--downsample", "8", "--background", "none"},
        {"render", scene, "--frames", "7", "--resume", "-o", (dir / "out").string()},
        {"render", scene, "--frames", "0.5s-0.9s"},
        {"render", scene, "--frame", "0.2s"},
        {"render", scene, "--motion-blur", "16", "--shutter-angle", "720"},
        {"render", scene, "--video", "a.webm", "--quality", "draft", "--crf", "63"},
        {"render", scene, "--video", "a.mp4", "--quality", "max"},
        {"render", scene, "--video", "a.MOV"},
        {"render", "--frames", "0-179"}, // the demo
        {"render", "--set", "sources[1].text=ALICE", "--set", "params.Dot Size=9"},
        {"render", scene, "--set", "sources[1]={\"text\": \"B\"}", "--set", "comp.fps=24"},
    };
    for (const auto& command : commands) {
        std::ostringstream err;
        EXPECT_EQ(check_render_command(command, err), 0) << command.back() << ": " << err.str();
    }
}

} // namespace
} // namespace pointillo
