// The memory one picture load may hold, and the allocator that charges every decoder buffer to it.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <new>
#include <vector>

namespace rt::pictures {

// Thrown when an allocation would take the load past its budget.
struct OverBudget : std::bad_alloc {
    const char* what() const noexcept override { return "picture over budget"; }
};

// Taken from and given back to by any thread: a HEIF's tiles are decoded side by side, and
// libjxl and dav1d allocate from their own threads.
class Budget {
public:
    explicit Budget(std::size_t limit)
        : m_limit(limit) {}
    Budget(const Budget&) = delete;
    Budget& operator=(const Budget&) = delete;

    bool tryTake(std::size_t bytes) {
        std::size_t used = m_used.load(std::memory_order_relaxed);
        do {
            if (bytes > m_limit - used)
                return false;
        } while (!m_used.compare_exchange_weak(used, used + bytes, std::memory_order_relaxed));
        return true;
    }
    void take(std::size_t bytes) {
        if (!tryTake(bytes))
            throw OverBudget();
    }
    void give(std::size_t bytes) {
        std::size_t used = m_used.load(std::memory_order_relaxed);
        while (!m_used.compare_exchange_weak(used, used - (bytes < used ? bytes : used),
                                             std::memory_order_relaxed)) {
        }
    }
    std::size_t left() const { return m_limit - m_used.load(std::memory_order_relaxed); }

private:
    std::size_t m_limit;
    std::atomic<std::size_t> m_used = 0;
};

template <class T> class BudgetAllocator {
public:
    using value_type = T;
    explicit BudgetAllocator(Budget& budget)
        : m_budget(&budget) {}
    template <class U>
    BudgetAllocator(const BudgetAllocator<U>& other)
        : m_budget(other.budget()) {}

    T* allocate(std::size_t n) {
        if (n > std::size_t(-1) / sizeof(T))
            throw OverBudget();
        m_budget->take(n * sizeof(T));
        try {
            return std::allocator<T>().allocate(n);
        } catch (...) {
            m_budget->give(n * sizeof(T));
            throw;
        }
    }
    void deallocate(T* p, std::size_t n) {
        std::allocator<T>().deallocate(p, n);
        m_budget->give(n * sizeof(T));
    }
    Budget* budget() const { return m_budget; }
    template <class U> bool operator==(const BudgetAllocator<U>& other) const {
        return m_budget == other.budget();
    }

private:
    Budget* m_budget;
};

template <class T> using Buffer = std::vector<T, BudgetAllocator<T>>;

// A buffer of n values charged to the budget.
template <class T> Buffer<T> buffer(Budget& budget, std::size_t n, T value = T()) {
    return Buffer<T>(n, value, BudgetAllocator<T>(budget));
}

} // namespace rt::pictures
