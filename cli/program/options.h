#pragma once

#include "cli/program/frei0r_values.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pointillo {

// The render command's options as given; an option left out is nullopt (or
// its default), so a check asks the field itself whether it was given.
struct RenderOptions {
    std::string scene; // empty: the built-in demo
    std::string output = "out";
    std::optional<std::string> frames;
    std::optional<std::string> frame;
    std::optional<int32_t> jobs;
    std::optional<int32_t> threads; // per frame
    std::optional<int32_t> depth;
    std::optional<int32_t> downsample;
    std::optional<std::string> background;
    std::optional<std::string> video;
    std::optional<std::string> export_replay;
    bool resume = false;
    bool force_resume = false; // keep frames of another render
    bool print_range = false;
    std::vector<std::string> sets; // --set KEY=VALUE, in order
    std::optional<int32_t> motion_blur;
    std::optional<double> shutter_angle;
    std::optional<std::string> quality;
    std::optional<int32_t> crf;
    bool check = false; // --check: validate and report, render nothing
};

enum class Command { kRender, kParams, kInfo, kFrei0rValues };

struct CommandLine {
    Command command = Command::kRender;
    RenderOptions render;
    bool params_json = false; // params --json
    Frei0rValuesOptions frei0r_values;
};

// Parses `args` (without the program name) into `line`. Returns the exit
// status when the command line is done with (help and version printed to
// `out`, a usage error to `err`), or nullopt to go on.
std::optional<int> parse_command_line(const std::vector<std::string>& args, CommandLine& line,
                                      std::ostream& out, std::ostream& err);

} // namespace pointillo
