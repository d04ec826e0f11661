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

// The shortest text that reads back as the same double: the mapping's ends
// are round decimals, and a popup's values must land on their items.
std::string number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

bool in_particle_group(const ParamSpec& spec) {
    return spec.index > param_index_of(param_id::kAdditionalParticlesGroup) &&
           spec.index < param_index_of(param_id::kAdditionalParticlesEnd);
}

// A popup's plug-in values, "0;0.5;1", and its items, "Grid,Jittered Grid,Randomized".
void popup_lists(const PluginParam& p, std::string& values, std::string& names) {
    std::string_view items = p.effect->text;
    for (int32_t i = 1; i <= p.effect->num_choices; ++i) {
        const std::size_t bar = items.find('|');
        if (i > 1) {
            values += ';';
            names += ',';
        }
        values += number(plugin_value(p, static_cast<double>(i)));
        names += items.substr(0, bar);
        items = bar == std::string_view::npos ? std::string_view{} : items.substr(bar + 1);
    }
}

std::string attribute(const char* name, const std::string& value) {
    return std::string(" ") + name + "=\"" + escaped(value) + "\"";
}

// Kdenlive shows a slider's value as the plug-in's double times `factor`
// plus `offset`, so the panel reads in the effect's units over the
// slider's useful range, and hands the plug-in (shown - offset) / factor.
// The default is the plug-in's double: Kdenlive hands it over untouched.
std::string slider_attributes(const PluginParam& p) {
    std::string head = attribute("default", number(plugin_value(p, p.default_value))) +
                       attribute("min", number(p.slider_min)) +
                       attribute("max", number(p.slider_max)) +
                       attribute("decimals", std::to_string(p.decimals));
    if (p.max - p.origin != 1.0) {
        head += attribute("factor", number(p.max - p.origin));
    }
    // Only the ranges reaching below 0 need one; Kdenlive 22.12 shows the
    // value without it, newer versions with it.
    if (p.origin != 0.0) {
        head += attribute("offset", number(p.origin));
    }
    // The unit beside the value, where the label does not carry it.
    if (*p.unit != '\0' && std::string_view(p.label).find('(') == std::string_view::npos) {
        head += attribute("suffix", std::string(" ") + p.unit);
    }
    return head;
}

std::string parameter(const PluginParam& p, PluginKind kind) {
    std::string head;
    std::string inner = "        <name>" + escaped(p.label) + "</name>\n";
    if (p.role == PluginRole::kProgress || p.role == PluginRole::kPosition) {
        // Keyed from 0 at the item's first frame to 1 at its last, so that
        // the filter moves as soon as it is applied and the transition spans
        // its composition. The transition's keys count from the end, so that
        // resizing the composition keeps them there.
        if (kind == PluginKind::kFilter) {
            head = " type=\"animated\"" + attribute("default", "0=0;%out=1") +
                   attribute("min", "0") + attribute("max", "1") + attribute("decimals", "3");
        } else {
            head = " type=\"fixed\"" + attribute("default", "0=0;-1=1");
        }
    } else if (p.role == PluginRole::kAutomatic) {
        head = " type=\"fixed\"" + attribute("default", "0");
    } else if (p.type == PluginParamType::kBool) {
        head = " type=\"bool\"" + attribute("default", p.default_value != 0.0 ? "1" : "0");
    } else if (p.type == PluginParamType::kColor) {
        head = " type=\"color\"" + attribute("default", "0xffffffff");
    } else if (p.mapping == ValueMapping::kItems) {
        std::string values;
        std::string names;
        popup_lists(p, values, names);
        head = " type=\"list\"" + attribute("default", number(plugin_value(p, p.default_value))) +
               attribute("paramlist", values);
        inner += "        <paramlistdisplay>" + escaped(names) + "</paramlistdisplay>\n";
    } else {
        head = " type=\"constant\"" + slider_attributes(p);
    }
    inner += "        <comment>" + escaped(p.help) + "</comment>\n";
    return "    <parameter" + head + attribute("name", p.name) + ">\n" + inner +
           "    </parameter>\n";
}

bool described(const PluginParam& p, PluginKind kind) {
    switch (p.role) {
    case PluginRole::kMilliseconds: // MLT passes seconds, the default
    case PluginRole::kDuration:     // the composition's length decides
        return false;
    case PluginRole::kEffect:
        // A filter driven by Progress alone never emits particles.
        return kind == PluginKind::kTransition || !in_particle_group(*p.effect);
    default:
        return true;
    }
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
    xml += std::string("<") + element + " tag=\"" + service + "\" id=\"" + service + "\"" +
           (filter ? "" : " type=\"videotransition\"") + ">\n";
    xml += filter ? "    <name>Pointillo Dots</name>\n"
                    "    <description>The picture as dots that break apart and re-form as "
                    "Progress goes from 0 to 1</description>\n"
                  : "    <name>Pointillo Dot Morph</name>\n"
                    "    <description>The clip below turns into dots that fly and settle into the "
                    "clip above over the composition; Reverse turns it around</description>\n";
    xml += "    <author>Pointillo</author>\n";
    for (const PluginParam& p : plugin_params(kind)) {
        if (described(p, kind)) {
            xml += parameter(p, kind);
        }
    }
    xml += std::string("</") + element + ">\n";
    return xml;
}

} // namespace pointillo::frei0r
