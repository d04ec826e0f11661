#include "cli/program/effect_reports.h"

#include "cli/base/number_text.h"
#include "cli/scene/scene_reader.h"

#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

namespace pointillo {

namespace {

const char* kind_name(ParamKind kind) {
    switch (kind) {
    case ParamKind::Slider:
        return "slider";
    case ParamKind::Popup:
        return "popup";
    case ParamKind::Checkbox:
        return "checkbox";
    case ParamKind::Color:
        return "color";
    case ParamKind::Layer:
        return "layer";
    case ParamKind::Button:
        return "button";
    case ParamKind::Group:
        return "group";
    case ParamKind::GroupEnd:
        return "group end";
    }
    return "?";
}

std::string default_text(const EffectParam& p) {
    switch (p.kind) {
    case ParamKind::Slider:
        return format_float(p.default_value);
    case ParamKind::Popup: {
        const auto item = static_cast<size_t>(p.default_value);
        const std::string name =
            item >= 1 && item <= p.choices.size() ? " (" + p.choices[item - 1] + ")" : "";
        return std::to_string(item) + name;
    }
    case ParamKind::Checkbox:
        return p.default_value != 0.0 ? "true" : "false";
    case ParamKind::Color:
        return format_hex_color(p.default_color);
    case ParamKind::Layer:
        return "none";
    case ParamKind::Button:
        return p.choices.empty() ? "" : "label \"" + p.choices[0] + "\"";
    default:
        return "";
    }
}

// A registered 32-bit float as the shortest decimal that reads back as it
// (0.01, not 0.009999999776).
double float_value(double value) {
    return std::strtod(format_float(value).c_str(), nullptr);
}

// Why a row takes no value in a scene's "params", or nullptr. The hidden rows
// are the ones the controls do not offer as values: the slot count, the
// buttons, the slots and the ends of groups.
const char* hidden_reason(const EffectParam& p) {
    switch (p.kind) {
    case ParamKind::Layer:
        return "a source slot, filled from the scene's \"sources\"";
    case ParamKind::Button:
        return "a button";
    case ParamKind::GroupEnd:
        return "the end of a group";
    default:
        return p.hidden ? "set by the renderer from the number of sources" : nullptr;
    }
}

std::string hex_word(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string flag_names(uint32_t flags, const std::vector<FlagName>& known) {
    std::string text;
    for (int32_t bit = 0; bit < 32; ++bit) {
        if ((flags >> bit & 1u) == 0) {
            continue;
        }
        std::string name = "bit " + std::to_string(bit);
        for (const FlagName& flag : known) {
            if (flag.bit == bit) {
                name = flag.name;
            }
        }
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

} // namespace

void print_params(std::ostream& out, const std::vector<EffectParam>& params) {
    out << std::left << std::setw(6) << "Index" << std::setw(5) << "Id" << std::setw(31) << "Name"
        << std::setw(10) << "Type" << std::setw(18) << "Valid range" << std::setw(18)
        << "Slider range"
        << "Default\n";
    for (const EffectParam& p : params) {
        std::string valid;
        std::string slider;
        if (p.kind == ParamKind::Slider) {
            valid = format_float(p.valid_min) + " to " + format_float(p.valid_max);
            slider = format_float(p.slider_min) + " to " + format_float(p.slider_max);
        } else if (p.kind == ParamKind::Popup) {
            valid = "1 to " + std::to_string(p.choices.size());
        }
        const std::string name = p.kind == ParamKind::GroupEnd ? "(end of group)" : p.name;
        std::ostringstream row;
        row << std::left << std::setw(6) << p.index << std::setw(5) << p.id << std::setw(31) << name
            << std::setw(10) << kind_name(p.kind) << std::setw(18) << valid << std::setw(18)
            << slider << default_text(p);
        if (p.hidden) {
            row << "  (hidden; set by the renderer)";
        }
        std::string line = row.str();
        line.erase(line.find_last_not_of(' ') + 1);
        out << line << "\n";
        if (p.kind == ParamKind::Popup) {
            out << std::string(11, ' ') << "choices:";
            for (size_t i = 0; i < p.choices.size(); ++i) {
                out << " " << i + 1 << " " << p.choices[i] << (i + 1 < p.choices.size() ? "," : "");
            }
            out << "\n";
        }
    }
}

void print_params_json(std::ostream& out, const std::vector<EffectParam>& params) {
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const EffectParam& p : params) {
        nlohmann::ordered_json row;
        row["index"] = p.index;
        row["id"] = p.id;
        row["name"] = p.kind == ParamKind::GroupEnd ? "" : p.name;
        row["type"] = kind_name(p.kind);
        const char* reason = hidden_reason(p);
        row["hidden"] = reason != nullptr;
        if (reason != nullptr) {
            row["why"] = reason;
        }
        switch (p.kind) {
        case ParamKind::Slider:
            row["valid_min"] = float_value(p.valid_min);
            row["valid_max"] = float_value(p.valid_max);
            row["slider_min"] = float_value(p.slider_min);
            row["slider_max"] = float_value(p.slider_max);
            row["default"] = float_value(p.default_value);
            break;
        case ParamKind::Popup:
            row["choices"] = p.choices;
            row["default"] = static_cast<int32_t>(p.default_value);
            break;
        case ParamKind::Checkbox:
            row["default"] = p.default_value != 0.0;
            break;
        case ParamKind::Color:
            row["default"] = format_hex_color(p.default_color);
            break;
        case ParamKind::Button:
            row["label"] = p.choices.empty() ? "" : p.choices[0];
            break;
        default:
            break;
        }
        rows.push_back(std::move(row));
    }
    out << rows.dump(2) << "\n";
}

void print_info(std::ostream& out, const EffectInfo& info) {
    out << "Name          " << info.name << "\n"
        << "Match name    " << info.match_name << "\n"
        << "Category      " << info.category << "\n"
        << "Entry point   " << info.entry_point << "\n"
        << "API version   " << info.api_major << "." << info.api_minor << "\n"
        << "Version       " << describe_version(info.version) << " (" << hex_word(info.version)
        << ")\n"
        << "Out flags     " << hex_word(info.out_flags) << "  "
        << flag_names(info.out_flags, info.out_flag_names) << "\n"
        << "Out flags 2   " << hex_word(info.out_flags2) << "  "
        << flag_names(info.out_flags2, info.out_flag2_names) << "\n";
    if (!info.support_url.empty()) {
        out << "Support       " << info.support_url << "\n";
    }
}

std::string describe_version(uint32_t version) {
    const uint32_t major = ((version >> 19) & 0x7) | (((version >> 26) & 0xF) << 3);
    const uint32_t minor = (version >> 15) & 0xF;
    const uint32_t fix = (version >> 11) & 0xF;
    const uint32_t stage = (version >> 9) & 0x3;
    const uint32_t build = version & 0x1FF;
    static constexpr const char* kStages[] = {"development", "alpha", "beta", "release"};
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(fix) + " " +
           kStages[stage] + ", build " + std::to_string(build);
}

std::string version_text(uint32_t version) {
    return describe_version(version) + " (" + hex_word(version) + ")";
}

} // namespace pointillo
