// The README's parameter table of the frei0r plug-ins says what the plug-ins
// do: one row per parameter, with its name, the effect's label, its range
// in the effect's units, how the host's double maps onto it and its default.

#include "plugin_params.h"

#include <charconv>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>

namespace pointillo::frei0r {
namespace {

std::string number(double value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, static_cast<float>(value)).ptr;
    return std::string(text, end);
}

std::string row_of(std::size_t index, const PluginParam& p, const char* plugin) {
    std::string range;
    std::string mapping;
    std::string fallback;
    const std::string unit = *p.unit != '\0' ? std::string(" ") + p.unit : "";
    switch (p.mapping) {
    case ValueMapping::kLinear:
        range = number(p.min) + " to " + number(p.max) + unit;
        mapping = (p.origin != 0.0 ? number(p.origin) + " + " : "") + "x × " +
                  number(p.max - p.origin) +
                  (p.min > p.origin ? ", at least " + number(p.min) : "");
        fallback = number(p.default_value) + unit;
        break;
    case ValueMapping::kItems: {
        std::string_view items = p.effect->text;
        for (std::size_t bar = items.find('|'); !items.empty(); bar = items.find('|')) {
            range += (range.empty() ? "" : ", ") + std::string(items.substr(0, bar));
            items = bar == std::string_view::npos ? std::string_view{} : items.substr(bar + 1);
        }
        mapping = "item k of " + std::to_string(p.effect->num_choices) + " at (k - 1) / " +
                  std::to_string(p.effect->num_choices - 1);
        fallback = std::to_string(static_cast<int>(p.default_value));
        break;
    }
    case ValueMapping::kNone:
        if (p.type == PluginParamType::kBool) {
            range = "off, on";
            mapping = "on from 0.5";
            fallback = p.default_value != 0.0 ? "on" : "off";
        } else {
            range = "red, green, blue";
            mapping = "0 to 1 a channel, 8 bits";
            fallback = "white";
        }
        break;
    }
    return "| " + std::to_string(index) + " | " + plugin + " | \"" + p.name + "\" | \"" + p.label +
           "\" | " + range + " | " + mapping + " | " + fallback + " |";
}

TEST(Frei0rReadme, ParameterTableMatchesThePlugins) {
    std::ifstream in(POINTILLO_README);
    ASSERT_TRUE(in) << POINTILLO_README;
    std::stringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const auto filter = plugin_params(PluginKind::kFilter);
    const auto transition = plugin_params(PluginKind::kTransition);
    for (std::size_t i = 0; i < transition.size(); ++i) {
        const bool shared = i > 0 && i < filter.size();
        const char* plugin = shared ? "both" : "transition";
        const std::string row = row_of(i, transition[i], plugin);
        EXPECT_NE(readme.find(row + "\n"), std::string::npos) << "README lacks\n" << row;
    }
    const std::string progress = row_of(0, filter[0], "filter");
    EXPECT_NE(readme.find(progress + "\n"), std::string::npos) << "README lacks\n" << progress;
}

} // namespace
} // namespace pointillo::frei0r
