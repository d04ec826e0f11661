#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace pointillo {

// Applies one --set option, "KEY=VALUE", to a scene's JSON before it is
// read (parse_scene in scene_reader.h says how KEY and VALUE read). Throws
// InputError naming the option.
void apply_override(nlohmann::json& root, const std::string& option);

} // namespace pointillo
