#pragma once

// A reader of PiPL resource bytes, written from the layout: a 16-bit reserved
// word, a 32-bit version, a 32-bit property count, then the properties back
// to back, each a vendor code, a key, a 32-bit id, a 32-bit data length, the
// data and zero fill to a multiple of 4. Integers are little-endian;
// four-character codes are stored byte-reversed.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pointillo::test {

struct PiplProperty {
    std::string vendor; // as written in code ("8BIM"), un-reversed
    std::string key;    // likewise ("kind")
    uint32_t id = 0;
    uint32_t length = 0;       // the data length field
    std::vector<uint8_t> data; // `length` bytes
};

struct Pipl {
    uint16_t reserved = 0;
    uint32_t version = 0;
    uint32_t count = 0;
    std::vector<PiplProperty> properties;
};

// Throws std::runtime_error on bytes that do not follow the layout: short
// data, non-zero fill, bytes left over.
Pipl read_pipl(std::span<const uint8_t> bytes);

// Data helpers.
uint16_t le16(std::span<const uint8_t> data, std::size_t at);
uint32_t le32(std::span<const uint8_t> data, std::size_t at);
// A four-character code stored byte-reversed, read back as written in code.
std::string reversed_code(std::span<const uint8_t> data, std::size_t at);
// A counted string (length byte, then characters); throws if it overruns.
std::string counted_string(std::span<const uint8_t> data);

} // namespace pointillo::test
