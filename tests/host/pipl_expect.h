#pragma once

#include <cstdint>
#include <span>

namespace pointillo::test {

// Decodes `bytes` with read_pipl and checks every field against the effect's
// registration, with GoogleTest expectations that name the property.
void expect_pointillo_pipl(std::span<const uint8_t> bytes);

} // namespace pointillo::test
