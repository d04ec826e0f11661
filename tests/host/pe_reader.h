#pragma once

// A reader of the parts of a 64-bit Windows module (PE32+) that the host
// relies on: exported names, imported libraries and resources. Written from
// the Portable Executable layout; throws std::runtime_error on malformed files.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pointillo::test {

struct PeResource {
    std::string type; // a named type, or "#<number>" for a numbered one
    uint32_t id = 0;  // numbered names only
    uint32_t language = 0;
    std::vector<uint8_t> data;
};

struct PeModule {
    uint16_t machine = 0;
    bool is_dll = false;
    std::vector<std::string> exports; // exported names
    uint32_t export_count = 0;        // exported functions, named or not
    std::vector<std::string> imports; // imported library names
    std::vector<PeResource> resources;
};

PeModule read_pe(std::span<const uint8_t> file);

std::vector<uint8_t> read_file(const std::string& path);

} // namespace pointillo::test
