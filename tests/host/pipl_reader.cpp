#include "pipl_reader.h"

namespace pointillo::test {
namespace {

void need(std::span<const uint8_t> bytes, std::size_t at, std::size_t count, const char* what) {
    if (at > bytes.size() || bytes.size() - at < count) {
        throw std::runtime_error(std::string("PiPL too short for ") + what + " at offset " +
                                 std::to_string(at));
    }
}

} // namespace

uint16_t le16(std::span<const uint8_t> data, std::size_t at) {
    need(data, at, 2, "a 16-bit value");
    return static_cast<uint16_t>(data[at] | data[at + 1] << 8);
}

uint32_t le32(std::span<const uint8_t> data, std::size_t at) {
    need(data, at, 4, "a 32-bit value");
    return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
           static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
}

std::string reversed_code(std::span<const uint8_t> data, std::size_t at) {
    need(data, at, 4, "a four-character code");
    return std::string{static_cast<char>(data[at + 3]), static_cast<char>(data[at + 2]),
                       static_cast<char>(data[at + 1]), static_cast<char>(data[at])};
}

std::string counted_string(std::span<const uint8_t> data) {
    need(data, 0, 1, "a counted string");
    const std::size_t length = data[0];
    need(data, 1, length, "the counted string's characters");
    return std::string(reinterpret_cast<const char*>(data.data() + 1), length);
}

Pipl read_pipl(std::span<const uint8_t> bytes) {
    Pipl pipl;
    pipl.reserved = le16(bytes, 0);
    pipl.version = le32(bytes, 2);
    pipl.count = le32(bytes, 6);
    std::size_t at = 10;
    for (uint32_t i = 0; i < pipl.count; ++i) {
        PiplProperty p;
        p.vendor = reversed_code(bytes, at);
        p.key = reversed_code(bytes, at + 4);
        p.id = le32(bytes, at + 8);
        p.length = le32(bytes, at + 12);
        at += 16;
        need(bytes, at, p.length, "property data");
        p.data.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(at + p.length));
        at += p.length;
        const std::size_t fill = (4 - p.length % 4) % 4;
        need(bytes, at, fill, "zero fill");
        for (std::size_t f = 0; f < fill; ++f) {
            if (bytes[at + f] != 0) {
                throw std::runtime_error("non-zero fill after property " + p.key);
            }
        }
        at += fill;
        pipl.properties.push_back(std::move(p));
    }
    if (at != bytes.size()) {
        throw std::runtime_error(std::to_string(bytes.size() - at) +
                                 " bytes follow the last property");
    }
    return pipl;
}

} // namespace pointillo::test
