// Control arrays: controls sharing one name, addressed by a checked 16-bit index.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "lang/Int16.h"
#include "lang/RuntimeError.h"

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

} // namespace rt
