#include "cli/scene/field_paths.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

namespace pointillo {

namespace {

bool is_identifier(std::string_view key) {
    if (key.empty() || std::isdigit(static_cast<unsigned char>(key[0]))) {
        return false;
    }
    return std::all_of(key.begin(), key.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
    });
}

} // namespace

std::string json_quoted(std::string_view text) {
    return nlohmann::json(std::string(text))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string field_path(const std::string& base, std::string_view key) {
    if (is_identifier(key)) {
        return base.empty() ? std::string(key) : base + "." + std::string(key);
    }
    return base + "[" + json_quoted(key) + "]";
}

std::string index_path(const std::string& base, size_t index) {
    return base + "[" + std::to_string(index) + "]";
}

} // namespace pointillo
