#pragma once

// What the replay tests share: scratch folders, files as text, values.

#include "host/ae_sdk.h"
#include "hostsim/values.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace replay_test {

namespace fs = std::filesystem;

inline fs::path fresh_dir(const std::string& name) {
    const fs::path dir = fs::path(::testing::TempDir()) / ("pointillo_replay_" + name);
    fs::remove_all(dir);
    return dir;
}

inline std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_text(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

inline hostsim::ParamValue number(double value) {
    hostsim::ParamValue v;
    v.number = value;
    return v;
}

inline PF_Pixel argb(A_u_char alpha, A_u_char red, A_u_char green, A_u_char blue) {
    PF_Pixel pixel;
    pixel.alpha = alpha;
    pixel.red = red;
    pixel.green = green;
    pixel.blue = blue;
    return pixel;
}

} // namespace replay_test
