#include "cli/program/frei0r_values.h"

#include "cli/base/errors.h"

#include <CLI/CLI.hpp>

#if POINTILLO_WITH_FREI0R
#include "plugin_params.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#endif

namespace pointillo {

CLI::App* add_frei0r_values_command(CLI::App& app, Frei0rValuesOptions& options) {
    CLI::App* command = app.add_subcommand(
        "frei0r-values", "Print the frei0r plug-ins' values (0 to 1) for values in the effect's "
                         "own units");
    command->add_option("plugin", options.plugin, "filter or transition")
        ->required()
        ->check(CLI::IsMember({"filter", "transition"}));
    command->add_option("values", options.values,
                        "NAME=VALUE in the effect's units: 'Spacing=12', 'Dot Shape=Ring', "
                        "'Dot Color=#ff8800', 'Progress=0.5'");
    command->add_option("--scene", options.scene,
                        "Also take the constant values of a scene's "
                        "\"params\"");
    command
        ->add_option("--format", options.format,
                     "mlt (Name=value lines), gst (property=value lines) or ffmpeg "
                     "(filter_params, times in milliseconds)")
        ->check(CLI::IsMember({"mlt", "gst", "ffmpeg"}))
        ->capture_default_str();
    return command;
}

#if POINTILLO_WITH_FREI0R
namespace {

using frei0r::PluginParam;
using frei0r::PluginParamType;
using frei0r::ValueMapping;

std::string number_text(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::size_t index_named(std::span<const PluginParam> params, const std::string& name) {
    for (std::size_t i = 0; i < params.size(); ++i) {
        if (name == params[i].name || name == params[i].label) {
            return i;
        }
    }
    throw InputError("frei0r-values: the plug-in has no parameter \"" + name + "\"");
}

std::optional<double> parsed_number(const std::string& text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// A value as the plug-in takes it: a double in [0, 1], a bool as 0 or 1, or
// a colour's three channels.
struct PluginValue {
    double number = 0.0;
    double rgb[3] = {1.0, 1.0, 1.0};
};

PluginValue plugin_value_of(const PluginParam& p, const std::string& text) {
    const std::string what = "frei0r-values: \"" + std::string(p.label) + "\" ";
    PluginValue value;
    if (p.type == PluginParamType::kColor) {
        const bool hex = text.size() == 7 && text[0] == '#' &&
                         text.find_first_not_of("0123456789abcdefABCDEF", 1) == std::string::npos;
        if (!hex) {
            throw InputError(what + "takes a colour as #rrggbb, not " + text);
        }
        for (int c = 0; c < 3; ++c) {
            value.rgb[c] =
                std::stoi(text.substr(static_cast<std::size_t>(1 + 2 * c), 2), nullptr, 16) / 255.0;
        }
        return value;
    }
    if (p.type == PluginParamType::kBool) {
        if (text == "true" || text == "1" || text == "on") {
            value.number = 1.0;
        } else if (text != "false" && text != "0" && text != "off") {
            throw InputError(what + "takes true or false, not " + text);
        }
        return value;
    }
    std::optional<double> v = parsed_number(text);
    if (p.mapping == ValueMapping::kItems && !v) {
        std::string_view items = p.effect->text;
        for (int32_t k = 1; !v && !items.empty(); ++k) {
            const std::size_t bar = items.find('|');
            if (items.substr(0, bar) == text) {
                v = static_cast<double>(k);
            }
            items = bar == std::string_view::npos ? std::string_view{} : items.substr(bar + 1);
        }
    }
    if (!v || *v < p.min || *v > p.max ||
        (p.mapping == ValueMapping::kItems && *v != std::floor(*v))) {
        throw InputError(what + "takes " +
                         (p.mapping == ValueMapping::kItems ? "an item or its number " : "") +
                         number_text(p.min) + " to " + number_text(p.max) + ", not " + text);
    }
    value.number = frei0r::plugin_value(p, *v);
    return value;
}

// A scene's constant values as NAME=VALUE, the sequence's own left out.
std::vector<std::string> scene_values(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw InputError("frei0r-values: cannot read " + file);
    }
    std::stringstream text;
    text << in.rdbuf();
    const nlohmann::json scene = nlohmann::json::parse(text.str(), nullptr, false);
    if (scene.is_discarded() || !scene.is_object()) {
        throw InputError("frei0r-values: " + file + " is no JSON object");
    }
    std::vector<std::string> values;
    const auto params = scene.find("params");
    if (params == scene.end()) {
        return values;
    }
    static constexpr const char* kSequence[] = {
        "Automatic",      "Sequence Position",    "Start (seconds)",
        "Hold (seconds)", "Transition (seconds)", "Loop"};
    for (const auto& [name, value] : params->items()) {
        if (std::find(std::begin(kSequence), std::end(kSequence), name) != std::end(kSequence)) {
            continue; // the plug-ins' timing is their own
        }
        if (value.is_array()) {
            throw InputError("frei0r-values: " + file + ": \"" + name +
                             "\" is keyed; a plug-in value is one value");
        }
        values.push_back(name + "=" +
                         (value.is_string() ? value.get<std::string>() : value.dump()));
    }
    return values;
}

// GStreamer's property name of a frei0r parameter: lower case, anything but
// letters and digits a dash.
std::string gst_name(const char* name) {
    std::string out;
    for (const char* c = name; *c != '\0'; ++c) {
        const auto u = static_cast<unsigned char>(*c);
        out += std::isalnum(u) ? static_cast<char>(std::tolower(u)) : '-';
    }
    return out;
}

} // namespace

void print_frei0r_values(std::ostream& out, const Frei0rValuesOptions& options) {
    const auto kind = options.plugin == "transition" ? frei0r::PluginKind::kTransition
                                                     : frei0r::PluginKind::kFilter;
    const std::span<const PluginParam> params = frei0r::plugin_params(kind);
    std::vector<std::string> given =
        options.scene.empty() ? std::vector<std::string>{} : scene_values(options.scene);
    given.insert(given.end(), options.values.begin(), options.values.end());
    std::map<std::size_t, PluginValue> values; // by plug-in index, the last one given winning
    for (const std::string& pair : given) {
        const std::size_t eq = pair.find('=');
        if (eq == std::string::npos) {
            throw InputError("frei0r-values: expected NAME=VALUE, not " + pair);
        }
        const std::size_t index = index_named(params, pair.substr(0, eq));
        values[index] = plugin_value_of(params[index], pair.substr(eq + 1));
    }
    const auto text_of = [&](const PluginParam& p, const PluginValue& v, char separator) {
        if (p.type != PluginParamType::kColor) {
            return number_text(v.number);
        }
        return number_text(v.rgb[0]) + separator + number_text(v.rgb[1]) + separator +
               number_text(v.rgb[2]);
    };
    if (options.format == "ffmpeg") {
        // Positional up to the last value given, the rest at their defaults;
        // ffmpeg's time is milliseconds unless said otherwise.
        std::size_t count = 2;
        for (const auto& entry : values) {
            count = std::max(count, entry.first + 1);
        }
        std::string list;
        for (std::size_t i = 0; i < count; ++i) {
            const PluginParam& p = params[i];
            PluginValue v;
            v.number = p.role == frei0r::PluginRole::kMilliseconds ? 1.0
                       : p.mapping == ValueMapping::kNone
                           ? p.default_value
                           : frei0r::plugin_value(p, p.default_value);
            if (const auto it = values.find(i); it != values.end()) {
                v = it->second;
            }
            list += (i > 0 ? "|" : "");
            list += p.type == PluginParamType::kBool ? (v.number != 0.0 ? "y" : "n")
                                                     : text_of(p, v, '/');
        }
        out << list << "\n";
        return;
    }
    for (const auto& [index, v] : values) {
        const PluginParam& p = params[index];
        if (options.format == "gst" && p.type == PluginParamType::kColor) {
            const char* channel[] = {"-r", "-g", "-b"};
            for (int c = 0; c < 3; ++c) {
                out << gst_name(p.name) << channel[c] << "=" << number_text(v.rgb[c]) << "\n";
            }
        } else if (options.format == "gst") {
            out << gst_name(p.name) << "="
                << (p.type == PluginParamType::kBool ? (v.number != 0.0 ? "true" : "false")
                                                     : number_text(v.number))
                << "\n";
        } else if (p.type == PluginParamType::kColor) {
            // MLT reads colours as #rrggbb.
            char hex[8];
            std::snprintf(hex, sizeof hex, "#%02x%02x%02x",
                          static_cast<int>(std::lround(v.rgb[0] * 255.0)),
                          static_cast<int>(std::lround(v.rgb[1] * 255.0)),
                          static_cast<int>(std::lround(v.rgb[2] * 255.0)));
            out << p.name << "=" << hex << "\n";
        } else {
            out << p.name << "=" << text_of(p, v, '/') << "\n";
        }
    }
}

#else

void print_frei0r_values(std::ostream&, const Frei0rValuesOptions&) {
    throw InputError("frei0r-values: this renderer was built without the frei0r plug-ins");
}

#endif

} // namespace pointillo
