#include "cli/scene/scene_overrides.h"

#include "cli/base/errors.h"
#include "cli/scene/field_paths.h"

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

namespace pointillo {

namespace {

using Json = nlohmann::json;

// One step of a --set key: a field of an object or an entry of an array.
struct KeyStep {
    std::string field;
    std::optional<size_t> index;
};

[[noreturn]] void bad_override(const std::string& option, const std::string& problem) {
    throw InputError("--set " + option + ": " + problem);
}

// "sources[0].text", "comp.fps", "params.Dot Size", "params[\"Dot Size\"]".
// After "params." the rest is one parameter name, since names hold spaces and
// brackets of their own.
std::vector<KeyStep> parse_override_key(std::string_view key, const std::string& option) {
    std::vector<KeyStep> steps;
    size_t at = 0;
    const auto plain_field = [&]() {
        const size_t end = key.find_first_of(".[", at);
        const std::string_view name = key.substr(at, end - at);
        if (name.empty()) {
            bad_override(option, "a field name is missing in the key");
        }
        steps.push_back(KeyStep{std::string(name), std::nullopt});
        at = end == std::string_view::npos ? key.size() : end;
    };
    if (key.empty()) {
        bad_override(option, "names no field; write KEY=VALUE, for example "
                             "'sources[0].text=ALICE'");
    }
    if (key[0] != '[') {
        plain_field();
    }
    while (at < key.size()) {
        if (key[at] == '.') {
            ++at;
            if (steps.size() == 1 && !steps[0].index && steps[0].field == "params") {
                if (at >= key.size()) {
                    bad_override(option, "names no parameter after \"params.\"");
                }
                steps.push_back(KeyStep{std::string(key.substr(at)), std::nullopt});
                break;
            }
            plain_field();
            continue;
        }
        // key[at] == '[': a quoted field name or an entry number.
        if (at + 1 < key.size() && key[at + 1] == '"') {
            size_t end = at + 2;
            while (end < key.size() && key[end] != '"') {
                end += key[end] == '\\' ? 2 : 1;
            }
            if (end + 1 >= key.size() || key[end + 1] != ']') {
                bad_override(option, "a '[\"' in the key is not closed by '\"]'");
            }
            std::string name;
            try {
                name = Json::parse(key.substr(at + 1, end - at)).get<std::string>();
            } catch (const Json::exception&) {
                bad_override(option, "cannot read the quoted field name " +
                                         std::string(key.substr(at + 1, end - at)));
            }
            steps.push_back(KeyStep{name, std::nullopt});
            at = end + 2;
        } else {
            const size_t close = key.find(']', at);
            if (close == std::string_view::npos) {
                bad_override(option, "a '[' in the key is not closed");
            }
            const std::string_view inside = key.substr(at + 1, close - at - 1);
            size_t index = 0;
            const auto result =
                std::from_chars(inside.data(), inside.data() + inside.size(), index);
            if (inside.empty() || result.ec != std::errc{} ||
                result.ptr != inside.data() + inside.size()) {
                bad_override(option, "[" + std::string(inside) + "] is not an entry number from 0");
            }
            steps.push_back(KeyStep{{}, index});
            at = close + 1;
        }
        if (at < key.size() && key[at] != '.' && key[at] != '[') {
            bad_override(option, "expected '.' or '[' after ']'");
        }
    }
    return steps;
}

std::string step_path(const std::vector<KeyStep>& steps, size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        path =
            steps[i].index ? index_path(path, *steps[i].index) : field_path(path, steps[i].field);
    }
    return path;
}

// The value of a --set: JSON when it reads as JSON ("9", "true", "[[0, 4], [2,
// 9]]"), else the text itself; where it replaces a string, always the text
// (a name "42" stays a name), except null.
Json override_value(std::string_view text, const Json* replaced) {
    if (text == "null") {
        return nullptr;
    }
    if (replaced == nullptr || !replaced->is_string()) {
        Json parsed = Json::parse(text.begin(), text.end(), nullptr, false);
        if (!parsed.is_discarded()) {
            return parsed;
        }
    }
    return std::string(text);
}

} // namespace

void apply_override(Json& root, const std::string& option) {
    const size_t equals = option.find('=');
    if (equals == std::string::npos) {
        bad_override(option, "expected KEY=VALUE, for example 'sources[0].text=ALICE' or "
                             "'params.Dot Size=9'");
    }
    const std::vector<KeyStep> steps =
        parse_override_key(std::string_view(option).substr(0, equals), option);
    const std::string_view text = std::string_view(option).substr(equals + 1);
    Json* node = &root;
    for (size_t i = 0; i < steps.size(); ++i) {
        const KeyStep& step = steps[i];
        const bool last = i + 1 == steps.size();
        const std::string here = i == 0 ? "the scene" : step_path(steps, i);
        if (step.index) {
            if (!node->is_array()) {
                bad_override(option, here + " is not an array");
            }
            const size_t size = node->size();
            // The entry after the last may be added, so that a template can
            // gain a source.
            if (*step.index > size || (*step.index == size && !last)) {
                bad_override(option, here + " has " + std::to_string(size) +
                                         (size == 1 ? " entry" : " entries") +
                                         "; a --set may change those or add " +
                                         index_path(here, size));
            }
            if (last) {
                const Json* replaced = *step.index < size ? &(*node)[*step.index] : nullptr;
                Json value = override_value(text, replaced);
                if (*step.index == size) {
                    node->push_back(std::move(value));
                } else {
                    (*node)[*step.index] = std::move(value);
                }
                return;
            }
            node = &(*node)[*step.index];
            continue;
        }
        if (node->is_null() && i > 0) {
            *node = Json::object();
        }
        if (!node->is_object()) {
            bad_override(option, here + " is not an object");
        }
        const auto it = node->find(step.field);
        if (last) {
            Json value = override_value(text, it != node->end() ? &*it : nullptr);
            (*node)[step.field] = std::move(value);
            return;
        }
        if (it == node->end()) {
            if (steps[i + 1].index) {
                bad_override(option, step_path(steps, i + 1) + " is not in the scene");
            }
            (*node)[step.field] = Json::object();
        }
        node = &(*node)[step.field];
    }
}

} // namespace pointillo
