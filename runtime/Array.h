// Arrays indexed by checked 16-bit integers: control arrays and bounded two-dimensional arrays.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Int16.h"

namespace rt {

class Control;

// A set of controls sharing one name, addressed by index from 0. Events of an element
// reach the array's handlers with the element's index.
template <class T> class ControlArray {
public:
    explicit ControlArray(std::string name)
        : m_name(std::move(name)) {}

    std::function<void(Int16 Index)> onClick;
    std::function<void(Int16 Index, Control& Source, float X, float Y)> onDragDrop;

    template <class... Args> T& add(Args&&... args) {
        const Int16 index = static_cast<int>(m_items.size());
        auto& item = m_items.emplace_back(std::make_unique<T>(std::forward<Args>(args)...));
        if constexpr (requires { item->onClick; })
            item->onClick = [this, index] {
                if (onClick)
                    onClick(index);
            };
        if constexpr (requires { item->onDragDrop; })
            item->onDragDrop = [this, index](Control& source, float x, float y) {
                if (onDragDrop)
                    onDragDrop(index, source, x, y);
            };
        return *item;
    }

    T& operator()(Int16 index) const {
        if (index.value() < 0 || index.value() >= static_cast<int>(m_items.size()))
            raise(ErrorKind::SubscriptOutOfRange, m_name + "(" + CStr(index) + ") does not exist");
        return *m_items[static_cast<std::size_t>(index.value())];
    }

    Int16 count() const { return static_cast<int>(m_items.size()); }

private:
    std::string m_name;
    std::vector<std::unique_ptr<T>> m_items;
};

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
