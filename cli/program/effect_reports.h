#pragma once

#include "cli/effect/effect_bridge.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace pointillo {

// `pointillo params`: the parameter list as a table, or as JSON for tools.
void print_params(std::ostream& out, const std::vector<EffectParam>& params);
void print_params_json(std::ostream& out, const std::vector<EffectParam>& params);

// `pointillo info`: the module's registration.
void print_info(std::ostream& out, const EffectInfo& info);

// The version word's parts: "1.1.1 beta, build 1".
std::string describe_version(uint32_t version);

// The same with the word itself: "1.1.1 beta, build 1 (0x00088C01)".
std::string version_text(uint32_t version);

} // namespace pointillo
