// The Kdenlive descriptions, read back as Kdenlive reads them: every slider
// shows the effect's units over its useful range, and every value the panel
// can hold reaches the plug-in as the double that stands for exactly that
// value, by Kdenlive's rule: the plug-in gets (shown - offset) / factor.

#include "kdenlive_xml.h"
#include "plugin_params.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace pointillo::frei0r {
namespace {

struct Element {
    std::map<std::string, std::string> attributes;
    std::map<std::string, std::string> children; // <name>, <comment>, <paramlistdisplay>
};

std::string unescaped(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}};
    for (const auto& [entity, c] : entities) {
        for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at)) {
            text.replace(at, std::string(entity).size(), c);
            at += 1;
        }
    }
    return text;
}

// The <parameter> elements of a description, which writes each attribute as
// name="value" and each child on a line of its own.
std::vector<Element> parameters(const std::string& xml) {
    std::vector<Element> out;
    for (size_t at = xml.find("<parameter "); at != std::string::npos;
         at = xml.find("<parameter ", at + 1)) {
        Element e;
        const size_t head_end = xml.find('>', at);
        const std::string head = xml.substr(at, head_end - at);
        for (size_t eq = head.find("=\""); eq != std::string::npos; eq = head.find("=\"", eq + 1)) {
            const size_t name_start = head.rfind(' ', eq) + 1;
            const size_t value_end = head.find('"', eq + 2);
            e.attributes[head.substr(name_start, eq - name_start)] =
                unescaped(head.substr(eq + 2, value_end - eq - 2));
            eq = value_end;
        }
        const size_t end = xml.find("</parameter>", head_end);
        const std::string body = xml.substr(head_end + 1, end - head_end - 1);
        for (size_t open = body.find('<'); open != std::string::npos;
             open = body.find('<', body.find('>', body.find("</", open)) + 1)) {
            const size_t tag_end = body.find('>', open);
            const std::string tag = body.substr(open + 1, tag_end - open - 1);
            const size_t close = body.find("</" + tag + ">", tag_end);
            e.children[tag] = unescaped(body.substr(tag_end + 1, close - tag_end - 1));
        }
        out.push_back(e);
    }
    return out;
}

double number(const Element& e, const std::string& name, double fallback) {
    const auto it = e.attributes.find(name);
    return it == e.attributes.end() ? fallback : std::strtod(it->second.c_str(), nullptr);
}

const PluginParam* param_named(PluginKind kind, const std::string& name) {
    for (const PluginParam& p : plugin_params(kind)) {
        if (name == p.name) {
            return &p;
        }
    }
    return nullptr;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos;
         at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// Every value a slider offers, from min to max at its decimals, as the
// panel holds it: the double nearest the decimal it shows.
std::vector<double> panel_values(double min, double max, int decimals) {
    std::vector<double> values;
    const double step = std::pow(10.0, -decimals);
    const auto steps = static_cast<long>(std::llround((max - min) / step));
    for (long k = 0; k <= steps; ++k) {
        char text[64];
        std::snprintf(text, sizeof text, "%.*f", decimals, min + static_cast<double>(k) * step);
        values.push_back(std::strtod(text, nullptr));
    }
    return values;
}

TEST(KdenliveXml, EveryPanelValueReachesThePluginExactly) {
    for (const PluginKind kind : {PluginKind::kFilter, PluginKind::kTransition}) {
        const std::vector<Element> elements = parameters(kdenlive_description(kind));
        size_t sliders = 0;
        size_t panel_checked = 0;
        for (const Element& e : elements) {
            const std::string name = e.attributes.at("name");
            const PluginParam* p = param_named(kind, name);
            ASSERT_NE(p, nullptr) << name << " is no plug-in parameter";
            EXPECT_EQ(e.children.at("name"), p->label) << "the panel keeps the effect's label";
            EXPECT_EQ(e.children.at("comment"), p->help) << name;
            const std::string type = e.attributes.at("type");
            if (type != "constant") {
                continue;
            }
            ++sliders;
            const double factor = number(e, "factor", 1.0);
            const double offset = number(e, "offset", 0.0);
            const double min = number(e, "min", 0.0);
            const double max = number(e, "max", 0.0);
            const auto decimals = static_cast<int>(number(e, "decimals", 0.0));
            // The plug-in's doubles 0 and 1 are the ends of the effect's
            // range; the panel shows the effect's slider range and default.
            EXPECT_EQ(offset, p->origin) << name;
            EXPECT_EQ(offset + factor, p->max) << name;
            // Kdenlive 22.12 applies no offset: all but the ranges that
            // reach below 0 need none.
            EXPECT_EQ(offset != 0.0, p->min < 0.0) << name;
            if (p->effect != nullptr) {
                EXPECT_EQ(static_cast<float>(min), p->effect->slider_min) << name;
                EXPECT_EQ(static_cast<float>(max), p->effect->slider_max) << name;
                // The default is the plug-in's double, handed over as it is.
                EXPECT_EQ(static_cast<float>(effect_value(*p, number(e, "default", -1.0))),
                          p->effect->default_value)
                    << name;
            }
            for (const double shown : panel_values(min, max, decimals)) {
                const double x = (shown - offset) / factor;
                ASSERT_GE(x, 0.0) << name << " at " << shown;
                ASSERT_LE(x, 1.0) << name << " at " << shown;
                ASSERT_EQ(effect_value(*p, x), shown) << name << " at " << shown;
                // And back: the panel shows the same value again.
                char back[64];
                char want[64];
                std::snprintf(back, sizeof back, "%.*f", decimals, x * factor + offset);
                std::snprintf(want, sizeof want, "%.*f", decimals, shown);
                ASSERT_STREQ(back, want) << name;
                ++panel_checked;
            }
        }
        EXPECT_GE(sliders, kind == PluginKind::kFilter ? 14u : 27u);
        EXPECT_GT(panel_checked, 5000u);
    }
}

TEST(KdenliveXml, PopupsChecksTimingAndWhatIsLeftOut) {
    for (const PluginKind kind : {PluginKind::kFilter, PluginKind::kTransition}) {
        const bool filter = kind == PluginKind::kFilter;
        std::map<std::string, Element> by_name;
        for (const Element& e : parameters(kdenlive_description(kind))) {
            by_name[e.attributes.at("name")] = e;
        }
        for (const PluginParam& p : plugin_params(kind)) {
            const auto it = by_name.find(p.name);
            const bool particle =
                p.effect != nullptr &&
                p.effect->index > param_index_of(param_id::kAdditionalParticlesGroup);
            const bool left_out = p.role == PluginRole::kMilliseconds ||
                                  p.role == PluginRole::kDuration || (filter && particle);
            EXPECT_EQ(it == by_name.end(), left_out) << p.name;
            if (it == by_name.end()) {
                continue;
            }
            const Element& e = it->second;
            const std::string type = e.attributes.at("type");
            if (p.mapping == ValueMapping::kItems) {
                ASSERT_EQ(type, "list") << p.name;
                const std::vector<std::string> values = split(e.attributes.at("paramlist"), ';');
                const std::vector<std::string> names =
                    split(e.children.at("paramlistdisplay"), ',');
                ASSERT_EQ(values.size(), static_cast<size_t>(p.effect->num_choices)) << p.name;
                ASSERT_EQ(names.size(), values.size()) << p.name;
                const std::vector<std::string> items = split(p.effect->text, '|');
                for (size_t k = 0; k < values.size(); ++k) {
                    EXPECT_EQ(effect_value(p, std::strtod(values[k].c_str(), nullptr)),
                              static_cast<double>(k + 1))
                        << p.name << " item " << k + 1;
                    EXPECT_EQ(names[k], items[k]);
                }
                EXPECT_EQ(effect_value(p, number(e, "default", -1.0)), p.default_value) << p.name;
            } else if (p.type == PluginParamType::kBool && p.role != PluginRole::kAutomatic) {
                EXPECT_EQ(type, "bool") << p.name;
                EXPECT_EQ(number(e, "default", -1.0), p.default_value) << p.name;
            }
        }
        // The filter moves as soon as it is applied; the transition spans
        // its composition, keyed from its end so that resizing keeps it so.
        if (filter) {
            EXPECT_EQ(by_name.at("Progress").attributes.at("type"), "animated");
            EXPECT_EQ(by_name.at("Progress").attributes.at("default"), "0=0;%out=1");
        } else {
            EXPECT_EQ(by_name.at("Position").attributes.at("type"), "fixed");
            EXPECT_EQ(by_name.at("Position").attributes.at("default"), "0=0;-1=1");
            EXPECT_EQ(by_name.at("Automatic").attributes.at("type"), "fixed");
            EXPECT_EQ(by_name.at("Automatic").attributes.at("default"), "0");
            EXPECT_EQ(by_name.at("Reverse").attributes.at("type"), "bool");
        }
    }
}

} // namespace
} // namespace pointillo::frei0r
