#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pointillo {

// How messages name a scene's fields, as a key of --set reads them:
// "comp.fps", "params[\"Dot Size\"]" (a key that is not a plain name is
// quoted), "sources[2]".
std::string field_path(const std::string& base, std::string_view key);
std::string index_path(const std::string& base, size_t index);

// A text in JSON's double quotes, escaped.
std::string json_quoted(std::string_view text);

} // namespace pointillo
