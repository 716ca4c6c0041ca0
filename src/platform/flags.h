// Sets of enum values with type-safe operators, for the seam's modifier and style flags.
#pragma once

#include <type_traits>

namespace lorvane {

// Opt-in for `a | b` on an enum: specialise to true for an enum whose enumerators are distinct
// single bits. Other enums keep the language's rules, so no enum combines by accident.
template <class E>
inline constexpr bool kIsFlagEnum = false;

// A set of the values of one flag enum. Only values of E go in, so a style can never be mixed
// into a set of modifiers, and a plain number never passes for either.
template <class E>
    requires std::is_enum_v<E>
class Flags {
public:
    using Bits = std::underlying_type_t<E>;

    constexpr Flags() = default;
    constexpr Flags(E value) : bits_(static_cast<Bits>(value)) {}  // NOLINT: a value is a one-element set

    constexpr bool has(E value) const { return (bits_ & static_cast<Bits>(value)) != 0; }
    constexpr bool empty() const { return bits_ == 0; }

    constexpr Flags operator|(Flags other) const { return Flags(static_cast<Bits>(bits_ | other.bits_)); }
    constexpr Flags& operator|=(Flags other) { return *this = *this | other; }
    friend constexpr bool operator==(Flags, Flags) = default;

private:
    constexpr explicit Flags(Bits bits) : bits_(bits) {}
    Bits bits_ = 0;
};

template <class E>
    requires kIsFlagEnum<E>
constexpr Flags<E> operator|(E a, E b) {
    return Flags<E>(a) | b;
}

}  // namespace lorvane
