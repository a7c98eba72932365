#pragma once

#include <compare>
#include <functional>
#include <utility>

namespace vitrine {

// One sort criterion for MutLockArray::sortUsingDescriptors: a property of the element (given as
// a projection: member pointer, member function pointer or callable) and a direction.
// Thread safety: immutable after construction; copies may be used from any thread.
template <class T>
class SortDescriptor {
public:
    using Compare = std::function<std::weak_ordering(const T&, const T&)>;

    SortDescriptor(Compare compareElements, bool ascending = true)
        : compareElements(std::move(compareElements)), ascending(ascending) {}

    // Orders by the projected values with their own <=> (or < when they have no <=>).
    template <class Key>
    static SortDescriptor byKey(Key key, bool ascending = true) {
        return SortDescriptor(
            [key](const T& a, const T& b) {
                return std::compare_weak_order_fallback(std::invoke(key, a), std::invoke(key, b));
            },
            ascending);
    }

    std::weak_ordering compare(const T& a, const T& b) const {
        if (!compareElements) return std::weak_ordering::equivalent;
        const std::weak_ordering result = compareElements(a, b);
        return ascending ? result : 0 <=> result;
    }

    bool isAscending() const { return ascending; }

private:
    Compare compareElements;
    bool ascending;
};

}  // namespace vitrine
