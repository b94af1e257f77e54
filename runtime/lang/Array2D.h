// Two-dimensional arrays whose subscripts are checked 16-bit integers, each access checked.
#pragma once

#include <array>
#include <string>
#include <utility>

#include "lang/Int16.h"
#include "lang/RuntimeError.h"

namespace rt {

// A fixed two-dimensional array whose both subscripts run from Lo to Hi, each access checked.
template <class T, int Lo, int Hi> class Array2D {
public:
    explicit Array2D(std::string name)
        : m_name(std::move(name)) {}

    T& operator()(Int16 x, Int16 y) { return m_cells[offset(x, y)]; }
    const T& operator()(Int16 x, Int16 y) const { return m_cells[offset(x, y)]; }

private:
    static constexpr int Side = Hi - Lo + 1;

    std::size_t offset(Int16 x, Int16 y) const {
        if (x.value() < Lo || x.value() > Hi || y.value() < Lo || y.value() > Hi)
            raise(ErrorKind::SubscriptOutOfRange, m_name + "(" + CStr(x) + ", " + CStr(y) +
                                                      ") is outside " + std::to_string(Lo) +
                                                      " to " + std::to_string(Hi));
        return static_cast<std::size_t>((y.value() - Lo) * Side + (x.value() - Lo));
    }

    std::string m_name;
    std::array<T, Side * Side> m_cells{};
};

} // namespace rt
