#pragma once

// `pointillo frei0r-values`: the doubles in [0, 1] that the frei0r plug-ins
// take for parameter values in the effect's own units, as melt, GStreamer or
// ffmpeg's `filter_params` want them.

#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
} // namespace CLI

namespace pointillo {

struct Frei0rValuesOptions {
    std::string plugin = "filter";   // "filter" or "transition"
    std::vector<std::string> values; // "NAME=VALUE", in the effect's units
    std::string scene;               // a scene whose constant "params" are taken too
    std::string format = "mlt";      // "mlt", "gst" or "ffmpeg"
};

CLI::App* add_frei0r_values_command(CLI::App& app, Frei0rValuesOptions& options);

// Prints the values; throws InputError for an unknown name or a value the
// parameter cannot take.
void print_frei0r_values(std::ostream& out, const Frei0rValuesOptions& options);

} // namespace pointillo
