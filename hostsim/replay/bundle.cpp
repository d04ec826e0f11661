#include "hostsim/replay/bundle.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace hostsim {
namespace {

// The pixel files are the in-memory samples written as they are: every
// machine we build for is little-endian, so they are little-endian too.
static_assert(std::endian::native == std::endian::little,
              "replay pixel files are written as little-endian memory");

constexpr std::string_view kMagic = "pointillo-replay";
constexpr int64_t kFormatVersion = 1;
constexpr int32_t kLargestSide = 30000;
constexpr const char* kManifest = "replay.txt";

struct KindName {
    PF_ParamType type;
    std::string_view name;
};

constexpr KindName kKinds[] = {
    {PF_Param_LAYER, "layer"},         {PF_Param_CHECKBOX, "checkbox"},
    {PF_Param_COLOR, "color"},         {PF_Param_POPUP, "popup"},
    {PF_Param_FLOAT_SLIDER, "slider"}, {PF_Param_GROUP_START, "group_start"},
    {PF_Param_GROUP_END, "group_end"}, {PF_Param_BUTTON, "button"},
};

const KindName* kind_of(PF_ParamType type) {
    for (const KindName& kind : kKinds) {
        if (kind.type == type) {
            return &kind;
        }
    }
    return nullptr;
}

const KindName* kind_named(std::string_view name) {
    for (const KindName& kind : kKinds) {
        if (kind.name == name) {
            return &kind;
        }
    }
    return nullptr;
}

std::filesystem::path layer_file(const std::filesystem::path& dir, int32_t id) {
    return dir / ("layer_" + std::to_string(id) + ".raw");
}

std::size_t pixel_size(int32_t depth) {
    return static_cast<std::size_t>(pixel_bytes(pixel_format_of(depth)));
}

// In 64 bits, which a 30000 x 30000 layer needs where size_t has 32.
uint64_t layer_bytes(int32_t width, int32_t height, int32_t depth) {
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * pixel_size(depth);
}

bool side_ok(int32_t side) {
    return side >= 1 && side <= kLargestSide;
}

// What makes a replay unreadable, or "" when nothing does.
std::string replay_problem(const Replay& replay) {
    if (!side_ok(replay.width) || !side_ok(replay.height)) {
        return "the effect layer must be 1 to 30000 pixels a side";
    }
    if (replay.depth != 8 && replay.depth != 16 && replay.depth != 32) {
        return "the depth must be 8, 16 or 32";
    }
    if (replay.downsample_x.num < 1 || replay.downsample_x.den < 1 || replay.downsample_y.num < 1 ||
        replay.downsample_y.den < 1) {
        return "downsample factors must be positive fractions";
    }
    for (const A_long frame : replay.frames) {
        if (!frame_time(replay, frame)) {
            return "frame " + std::to_string(frame) + " is beyond the host's time range";
        }
    }
    if (replay.param_count < 1 ||
        replay.params.size() != static_cast<std::size_t>(replay.param_count - 1)) {
        return "the parameter list must hold indices 1 to param_count - 1";
    }
    for (std::size_t i = 0; i < replay.params.size(); ++i) {
        const ReplayParam& param = replay.params[i];
        const std::string which = "parameter " + std::to_string(param.index);
        if (param.index != static_cast<int32_t>(i) + 1) {
            return which + " is out of order";
        }
        if (kind_of(param.type) == nullptr) {
            return which + " has the unknown kind " + std::to_string(param.type);
        }
        if (!holds_value(param.type) && !param.keys.empty()) {
            return which + " is a group and cannot have keyframes";
        }
        for (std::size_t k = 1; k < param.keys.size(); ++k) {
            if (!(param.keys[k - 1].seconds < param.keys[k].seconds)) {
                return which + ": keyframes must be in strictly increasing time";
            }
        }
    }
    int32_t last_id = 0;
    for (const ReplayLayer& layer : replay.layers) {
        const std::string which = "layer " + std::to_string(layer.id);
        if (layer.id <= last_id) {
            return which + " is out of order (ids ascend from 1)";
        }
        last_id = layer.id;
        if (!side_ok(layer.ref_width) || !side_ok(layer.ref_height)) {
            return which + " must be 1 to 30000 pixels a side";
        }
        const LayerPixels& pixels = layer.pixels;
        if (pixels.depth != replay.depth ||
            pixels.width != downsampled(layer.ref_width, replay.downsample_x) ||
            pixels.height != downsampled(layer.ref_height, replay.downsample_y) ||
            pixels.bytes.size() != layer_bytes(pixels.width, pixels.height, pixels.depth)) {
            return which + ": its pixels are not at the replay's depth and downsampled size";
        }
    }
    return "";
}

// ---- writing ----

std::string number_text(double number) {
    char buffer[64];
    // Shortest form that reads back to the same double.
    const std::to_chars_result result = std::to_chars(buffer, buffer + sizeof(buffer), number);
    return std::string(buffer, result.ptr);
}

std::string color_text(const PF_Pixel& color) {
    return std::to_string(color.alpha) + " " + std::to_string(color.red) + " " +
           std::to_string(color.green) + " " + std::to_string(color.blue);
}

std::string value_text(PF_ParamType type, const ParamValue& value) {
    return type == PF_Param_COLOR ? color_text(value.color) : number_text(value.number);
}

std::string scale_text(const PF_RationalScale& scale) {
    return std::to_string(scale.num) + "/" + std::to_string(scale.den);
}

void write_file(const std::filesystem::path& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string manifest_text(const Replay& replay) {
    std::string text;
    const auto line = [&text](const std::string& content) { text += content + "\n"; };
    line(std::string(kMagic) + " " + std::to_string(kFormatVersion));
    line("size " + std::to_string(replay.width) + " " + std::to_string(replay.height));
    line("time_scale " + std::to_string(replay.time_scale));
    line("time_step " + std::to_string(replay.time_step));
    line("depth " + std::to_string(replay.depth));
    line("downsample " + scale_text(replay.downsample_x) + " " + scale_text(replay.downsample_y));
    std::string frames = "frames " + std::to_string(replay.frames.size());
    for (const A_long frame : replay.frames) {
        frames += ' ';
        frames += std::to_string(frame);
    }
    line(frames);
    line("params " + std::to_string(replay.param_count));
    for (const ReplayParam& param : replay.params) {
        const std::string head =
            "param " + std::to_string(param.index) + " " + std::string(kind_of(param.type)->name);
        if (!holds_value(param.type)) {
            line(head);
        } else if (param.keys.empty()) {
            line(head + " " + value_text(param.type, param.value));
        } else {
            line(head + " keys " + std::to_string(param.keys.size()));
            for (const Keyframe& key : param.keys) {
                line("key " + number_text(key.seconds) + " " + value_text(param.type, key.value));
            }
        }
    }
    line("layers " + std::to_string(replay.layers.size()));
    for (const ReplayLayer& layer : replay.layers) {
        line("layer " + std::to_string(layer.id) + " " + std::to_string(layer.ref_width) + " " +
             std::to_string(layer.ref_height) + " " + std::to_string(layer.pixels.width) + " " +
             std::to_string(layer.pixels.height));
    }
    return text;
}

// ---- reading ----

// The manifest, read line by line in the order it is written; every failure
// names the line.
class ManifestReader {
  public:
    ManifestReader(std::string text, std::string file) : file_(std::move(file)) {
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            lines_.push_back(text.substr(start, end - start));
            start = end + 1;
        }
    }

    // The next line's words after `keyword`, which it must start with.
    std::vector<std::string> next(std::string_view keyword) {
        if (line_ >= lines_.size()) {
            fail_at(lines_.size() + 1,
                    "the file ends where \"" + std::string(keyword) + "\" was expected");
        }
        ++line_;
        std::vector<std::string> words;
        const std::string& text = lines_[line_ - 1];
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t start = text.find_first_not_of(" \t\r", at);
            if (start == std::string::npos) {
                break;
            }
            std::size_t end = text.find_first_of(" \t\r", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            words.push_back(text.substr(start, end - start));
            at = end;
        }
        if (words.empty() || words.front() != keyword) {
            fail("expected \"" + std::string(keyword) + "\"");
        }
        words.erase(words.begin());
        return words;
    }

    // The words of a line that has exactly `count` of them.
    std::vector<std::string> next(std::string_view keyword, std::size_t count) {
        std::vector<std::string> words = next(keyword);
        if (words.size() != count) {
            // Appended, not added up: GCC 12 misreads `"..." + string&&` here (-Wrestrict).
            std::string message = "\"";
            message.append(keyword).append("\" takes ").append(std::to_string(count));
            message.append(" values, not ").append(std::to_string(words.size()));
            fail(message);
        }
        return words;
    }

    void expect_end() {
        while (line_ < lines_.size()) {
            if (lines_[line_].find_first_not_of(" \t\r") != std::string::npos) {
                fail_at(line_ + 1, "unexpected text after the layer list");
            }
            ++line_;
        }
    }

    int64_t integer(const std::string& word, int64_t low, int64_t high) {
        int64_t value = 0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (error != std::errc() || end != word.data() + word.size() || value < low ||
            value > high) {
            fail("\"" + word + "\" is not a whole number from " + std::to_string(low) + " to " +
                 std::to_string(high));
        }
        return value;
    }

    double number(const std::string& word) {
        double value = 0.0;
        const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (error != std::errc() || end != word.data() + word.size()) {
            fail("\"" + word + "\" is not a number");
        }
        return value;
    }

    PF_RationalScale scale(const std::string& word) {
        const std::size_t slash = word.find('/');
        if (slash == std::string::npos) {
            fail("\"" + word + "\" is not a fraction num/den");
        }
        PF_RationalScale scale;
        scale.num = static_cast<A_long>(integer(word.substr(0, slash), 1, INT32_MAX));
        scale.den = static_cast<A_u_long>(integer(word.substr(slash + 1), 1, UINT32_MAX));
        return scale;
    }

    // A colour's four words (alpha, red, green, blue) from `first` on.
    PF_Pixel color(const std::vector<std::string>& words, std::size_t first) {
        if (words.size() != first + 4) {
            fail("a colour is four values: alpha, red, green, blue");
        }
        PF_Pixel pixel;
        pixel.alpha = static_cast<A_u_char>(integer(words[first], 0, 255));
        pixel.red = static_cast<A_u_char>(integer(words[first + 1], 0, 255));
        pixel.green = static_cast<A_u_char>(integer(words[first + 2], 0, 255));
        pixel.blue = static_cast<A_u_char>(integer(words[first + 3], 0, 255));
        return pixel;
    }

    ParamValue value(PF_ParamType type, const std::vector<std::string>& words, std::size_t first) {
        ParamValue value;
        if (type == PF_Param_COLOR) {
            value.color = color(words, first);
        } else if (words.size() != first + 1) {
            fail("expected one value");
        } else {
            value.number = number(words[first]);
        }
        return value;
    }

    [[noreturn]] void fail(const std::string& message) const { fail_at(line_, message); }

    [[noreturn]] void fail_at(std::size_t line, const std::string& message) const {
        throw std::runtime_error(file_ + " line " + std::to_string(line) + ": " + message);
    }

  private:
    std::string file_;
    std::vector<std::string> lines_;
    std::size_t line_ = 0; // lines read so far
};

std::string read_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

LayerPixels read_layer_pixels(const std::filesystem::path& path, int32_t depth, int32_t width,
                              int32_t height) {
    LayerPixels pixels;
    pixels.depth = depth;
    pixels.width = width;
    pixels.height = height;
    const uint64_t size = layer_bytes(width, height, depth);
    std::error_code error;
    const std::uintmax_t on_disk = std::filesystem::file_size(path, error);
    if (error) {
        throw std::runtime_error("cannot read " + path.string() + ": " + error.message());
    }
    if (on_disk != size) {
        throw std::runtime_error(path.string() + " holds " + std::to_string(on_disk) + " bytes; " +
                                 std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels at " + std::to_string(depth) + " bits take " +
                                 std::to_string(size));
    }
    if (size > std::numeric_limits<std::size_t>::max()) {
        throw std::runtime_error(path.string() + " holds more bytes than this build can address");
    }
    pixels.bytes.resize(static_cast<std::size_t>(size));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(pixels.bytes.data()), static_cast<std::streamsize>(size));
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return pixels;
}

} // namespace

bool holds_value(PF_ParamType type) {
    return type != PF_Param_GROUP_START && type != PF_Param_GROUP_END;
}

std::optional<A_long> frame_time(const Replay& replay, A_long frame) {
    const int64_t t = static_cast<int64_t>(frame) * static_cast<int64_t>(replay.time_step);
    if (t < std::numeric_limits<A_long>::min() || t > std::numeric_limits<A_long>::max()) {
        return std::nullopt;
    }
    return static_cast<A_long>(t);
}

void save_replay(const std::filesystem::path& dir, const Replay& replay) {
    const std::string problem = replay_problem(replay);
    if (!problem.empty()) {
        throw std::invalid_argument("cannot save the replay: " + problem);
    }
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        throw std::runtime_error("cannot create " + dir.string() + ": " + error.message());
    }
    for (const ReplayLayer& layer : replay.layers) {
        write_file(layer_file(dir, layer.id), layer.pixels.bytes.data(), layer.pixels.bytes.size());
    }
    // The manifest last: a bundle whose manifest is there is whole.
    const std::string text = manifest_text(replay);
    write_file(dir / kManifest, text.data(), text.size());
}

Replay load_replay(const std::filesystem::path& dir) {
    const std::filesystem::path manifest = dir / kManifest;
    ManifestReader in(read_text(manifest), manifest.string());
    Replay replay;

    std::vector<std::string> words = in.next(kMagic, 1);
    if (in.integer(words[0], 0, INT32_MAX) != kFormatVersion) {
        in.fail("format version " + words[0] + " is not " + std::to_string(kFormatVersion));
    }
    words = in.next("size", 2);
    replay.width = static_cast<int32_t>(in.integer(words[0], 1, kLargestSide));
    replay.height = static_cast<int32_t>(in.integer(words[1], 1, kLargestSide));
    words = in.next("time_scale", 1);
    replay.time_scale = static_cast<A_u_long>(in.integer(words[0], 0, UINT32_MAX));
    words = in.next("time_step", 1);
    replay.time_step = static_cast<A_long>(in.integer(words[0], INT32_MIN, INT32_MAX));
    words = in.next("depth", 1);
    replay.depth = static_cast<int32_t>(in.integer(words[0], 8, 32));
    if (replay.depth != 8 && replay.depth != 16 && replay.depth != 32) {
        in.fail("the depth must be 8, 16 or 32");
    }
    words = in.next("downsample", 2);
    replay.downsample_x = in.scale(words[0]);
    replay.downsample_y = in.scale(words[1]);

    words = in.next("frames");
    if (words.empty() ||
        static_cast<std::size_t>(in.integer(words[0], 0, INT32_MAX)) != words.size() - 1) {
        in.fail("\"frames\" takes the frame count, then that many frame numbers");
    }
    for (std::size_t i = 1; i < words.size(); ++i) {
        const auto frame = static_cast<A_long>(in.integer(words[i], INT32_MIN, INT32_MAX));
        if (!frame_time(replay, frame)) {
            in.fail("frame " + words[i] + " is beyond the host's time range");
        }
        replay.frames.push_back(frame);
    }

    words = in.next("params", 1);
    replay.param_count = static_cast<int32_t>(in.integer(words[0], 1, 100000));
    for (int32_t index = 1; index < replay.param_count; ++index) {
        words = in.next("param");
        if (words.size() < 2 || in.integer(words[0], 0, INT32_MAX) != index) {
            in.fail("expected parameter " + std::to_string(index) + " and its kind");
        }
        const KindName* kind = kind_named(words[1]);
        if (kind == nullptr) {
            in.fail("unknown parameter kind \"" + words[1] + "\"");
        }
        ReplayParam param;
        param.index = index;
        param.type = kind->type;
        if (!holds_value(param.type)) {
            if (words.size() != 2) {
                in.fail("a group holds no value");
            }
        } else if (words.size() == 4 && words[2] == "keys") {
            const int64_t count = in.integer(words[3], 1, 1000000);
            for (int64_t k = 0; k < count; ++k) {
                const std::vector<std::string> key = in.next("key");
                if (key.empty()) {
                    in.fail("a key starts with its time in seconds");
                }
                const double seconds = in.number(key[0]);
                if (!param.keys.empty() && !(param.keys.back().seconds < seconds)) {
                    in.fail("keyframes must be in strictly increasing time");
                }
                param.keys.push_back(Keyframe{seconds, in.value(param.type, key, 1)});
            }
        } else {
            param.value = in.value(param.type, words, 2);
        }
        replay.params.push_back(std::move(param));
    }

    words = in.next("layers", 1);
    const int64_t layer_count = in.integer(words[0], 0, 100000);
    int32_t last_id = 0;
    for (int64_t n = 0; n < layer_count; ++n) {
        words = in.next("layer", 5);
        ReplayLayer layer;
        layer.id = static_cast<int32_t>(in.integer(words[0], 1, INT32_MAX));
        if (layer.id <= last_id) {
            in.fail("layer ids must ascend");
        }
        last_id = layer.id;
        layer.ref_width = static_cast<int32_t>(in.integer(words[1], 1, kLargestSide));
        layer.ref_height = static_cast<int32_t>(in.integer(words[2], 1, kLargestSide));
        const auto width = static_cast<int32_t>(in.integer(words[3], 1, kLargestSide));
        const auto height = static_cast<int32_t>(in.integer(words[4], 1, kLargestSide));
        if (width != downsampled(layer.ref_width, replay.downsample_x) ||
            height != downsampled(layer.ref_height, replay.downsample_y)) {
            in.fail("the pixel size is not the layer's size at the downsample");
        }
        layer.pixels = read_layer_pixels(layer_file(dir, layer.id), replay.depth, width, height);
        replay.layers.push_back(std::move(layer));
    }
    in.expect_end();
    const std::string problem = replay_problem(replay);
    if (!problem.empty()) {
        throw std::runtime_error(manifest.string() + ": " + problem);
    }
    return replay;
}

} // namespace hostsim
