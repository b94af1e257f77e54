// The checked signed 16-bit integer of the game code, and the number conversions.
#pragma once

#include <cstdint>
#include <string>

#include "lang/RuntimeError.h"

namespace rt {

class Int16 {
public:
    Int16() = default;
    // Implicit on purpose: literals and int results take part in checked arithmetic.
    Int16(int v)
        : m_v(narrow(v)) {}

    int value() const { return m_v; }

    friend Int16 operator+(Int16 a, Int16 b) { return Int16(a.m_v + b.m_v); }
    friend Int16 operator-(Int16 a, Int16 b) { return Int16(a.m_v - b.m_v); }
    friend Int16 operator*(Int16 a, Int16 b) { return Int16(a.m_v * b.m_v); }
    Int16 operator-() const { return Int16(-m_v); }
    Int16& operator+=(Int16 b) { return *this = *this + b; }
    Int16& operator-=(Int16 b) { return *this = *this - b; }

    // Integer division and remainder, truncating towards zero.
    friend Int16 intDiv(Int16 a, Int16 b) {
        if (b.m_v == 0)
            raise(ErrorKind::DivisionByZero, "integer division by zero");
        return Int16(a.m_v / b.m_v);
    }
    friend Int16 operator%(Int16 a, Int16 b) {
        if (b.m_v == 0)
            raise(ErrorKind::DivisionByZero, "Mod by zero");
        return Int16(a.m_v % b.m_v);
    }

    friend bool operator==(Int16 a, Int16 b) = default;
    friend auto operator<=>(Int16 a, Int16 b) = default;

    static constexpr int Min = INT16_MIN;
    static constexpr int Max = INT16_MAX;

private:
    static std::int16_t narrow(int v) {
        if (v < Min || v > Max)
            raise(ErrorKind::Overflow, std::to_string(v) + " does not fit in a 16-bit integer");
        return static_cast<std::int16_t>(v);
    }

    std::int16_t m_v = 0;
};

// The largest whole number not above x, as a 16-bit integer.
Int16 Int(double x);
double CDbl(Int16 v);
// Decimal digits, with a minus sign when negative, no blank.
std::string CStr(Int16 v);

} // namespace rt
