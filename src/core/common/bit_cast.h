#pragma once

// std::bit_cast for every compiler the core is built with: the C++ library
// of the WebAssembly toolchain has no <bit> bit_cast, while Clang and GCC
// both have the builtin the standard one is made of.

#include <type_traits>

namespace pointillo {

template <typename To, typename From> constexpr To bit_cast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From), "bit_cast between types of different sizes");
    static_assert(std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>);
    return __builtin_bit_cast(To, from);
}

} // namespace pointillo
