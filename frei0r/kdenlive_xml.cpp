#include "kdenlive_xml.h"

#include <charconv>
#include <string_view>

namespace pointillo::frei0r {
namespace {

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

// Ranges and defaults are the effect's 32-bit floats: the shortest text that
// reads back as the same float ("0.01", not "0.009999999776482582").
std::string number(double value) {
    char text[32];
    const auto end =
        std::to_chars(text, text + sizeof text, static_cast<float>(value), std::chars_format::fixed)
            .ptr;
    return std::string(text, end);
}

bool in_particle_group(const ParamSpec& spec) {
    return spec.index > param_index_of(param_id::kAdditionalParticlesGroup) &&
           spec.index < param_index_of(param_id::kAdditionalParticlesEnd);
}

// Items of a popup: "1;2;3" and "Grid,Jittered Grid,Randomized".
void popup_lists(const ParamSpec& spec, std::string& values, std::string& names) {
    std::string_view items = spec.text;
    for (int32_t i = 1; i <= spec.num_choices; ++i) {
        const std::size_t bar = items.find('|');
        if (i > 1) {
            values += ';';
            names += ',';
        }
        values += std::to_string(i);
        names += items.substr(0, bar);
        items = bar == std::string_view::npos ? std::string_view{} : items.substr(bar + 1);
    }
}

std::string parameter(const PluginParam& p) {
    const std::string name = escaped(p.name);
    std::string head;
    std::string inner = "        <name>" + name + "</name>\n";
    if (p.type == PluginParamType::kBool) {
        head = "type=\"bool\" name=\"" + name + "\" default=\"" + number(p.default_value) + "\"";
    } else if (p.type == PluginParamType::kColor) {
        head = "type=\"color\" name=\"" + name + "\" default=\"0xffffffff\"";
    } else if (p.effect != nullptr && p.effect->type == ParamType::kPopup) {
        std::string values;
        std::string names;
        popup_lists(*p.effect, values, names);
        head = "type=\"list\" name=\"" + name + "\" default=\"" + number(p.default_value) +
               "\" paramlist=\"" + values + "\"";
        inner += "        <paramlistdisplay>" + escaped(names) + "</paramlistdisplay>\n";
    } else {
        // Progress is what a user keyframes; the rest are constants.
        const bool progress = std::string_view(p.name) == "Progress";
        const bool whole = p.effect != nullptr && p.effect->id == param_id::kRandomSeed;
        head = std::string("type=\"") + (progress ? "animated" : "constant") + "\" name=\"" + name +
               "\" default=\"" + number(p.default_value) + "\" min=\"" + number(p.min) +
               "\" max=\"" + number(p.max) + "\" decimals=\"" + (whole ? "0" : "3") + "\"";
    }
    return "    <parameter " + head + ">\n" + inner + "    </parameter>\n";
}

} // namespace

const char* kdenlive_file_name(PluginKind kind) {
    return kind == PluginKind::kFilter ? "frei0r_pointillo.xml" : "frei0r_pointillo_transition.xml";
}

const char* kdenlive_folder(PluginKind kind) {
    return kind == PluginKind::kFilter ? "effects" : "transitions";
}

std::string kdenlive_description(PluginKind kind) {
    const bool filter = kind == PluginKind::kFilter;
    const char* element = filter ? "effect" : "transition";
    const char* service = filter ? "frei0r.pointillo" : "frei0r.pointillo_transition";
    std::string xml = "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n";
    xml += std::string("<") + element + " tag=\"" + service + "\" id=\"" + service + "\">\n";
    xml += filter ? "    <name>Pointillo Dots</name>\n"
                    "    <description>The picture as dots that break apart and re-form as "
                    "Progress goes from 0 to 1</description>\n"
                  : "    <name>Pointillo Dot Morph</name>\n"
                    "    <description>The first clip turns into dots that fly and settle into "
                    "the second</description>\n";
    xml += "    <author>Pointillo</author>\n";
    for (const PluginParam& p : plugin_params(kind)) {
        const bool time_unit = p.effect == nullptr && p.type == PluginParamType::kBool;
        if (time_unit || (filter && p.effect != nullptr && in_particle_group(*p.effect))) {
            continue;
        }
        xml += parameter(p);
    }
    xml += std::string("</") + element + ">\n";
    return xml;
}

} // namespace pointillo::frei0r
