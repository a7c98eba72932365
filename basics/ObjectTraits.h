#pragma once

// How the locked collections and holders treat "an object of any class": elements are
// std::shared_ptr<T> for any T, and these customisation points decide equality, the text of an
// object in a description, and whether a callable argument counts as null.

#include <cxxabi.h>

#include <concepts>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>

#include "basics/Log.h"

namespace vitrine {

// Index results of the locked arrays. An absent element gives kNotFoundIndex; asking
// indexOfObject for a null object gives kNullObjectIndex. Neither is ever a valid index.
inline constexpr std::uint64_t kNotFoundIndex = 0x7FFFFFFFFFFFFFFFull;
inline constexpr std::uint64_t kNullObjectIndex = ~std::uint64_t{0};

// An ordered set of indexes; a null set is passed as a null pointer.
using IndexSet = std::set<std::uint64_t>;

// Value equality of two objects: a member isEqual() when the type has one (XJObject does),
// otherwise operator==, otherwise identity.
template <class T>
bool objectsEqual(const T& a, const T& b) {
    if constexpr (requires {
                      { a.isEqual(b) } -> std::convertible_to<bool>;
                  }) {
        return a.isEqual(b);
    } else if constexpr (std::equality_comparable<T>) {
        return a == b;
    } else {
        return &a == &b;
    }
}

// Null pointers are equal to nothing, not even to another null.
template <class T>
bool pointeesEqual(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
    return a && b && objectsEqual(*a, *b);
}

// The text of an object in a description: description() when the type has one, the text itself
// for strings, the number for arithmetic types, else "<TypeName: 0x...>".
template <class T>
std::string objectDescription(const T& object) {
    if constexpr (requires {
                      { object.description() } -> std::convertible_to<std::string>;
                  }) {
        return object.description();
    } else if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return std::string(std::string_view(object));
    } else if constexpr (std::is_arithmetic_v<T>) {
        return std::to_string(object);
    } else {
        int status = 0;
        std::unique_ptr<char, void (*)(void*)> demangled(
            abi::__cxa_demangle(typeid(T).name(), nullptr, nullptr, &status), std::free);
        return stringWithFormat("<%s: %p>",
                                status == 0 && demangled ? demangled.get() : typeid(T).name(),
                                static_cast<const void*>(&object));
    }
}

template <class T>
std::string objectDescription(const std::shared_ptr<T>& object) {
    return object ? objectDescription(*object) : std::string("(null)");
}

namespace detail {
template <class F>
struct IsStdFunction : std::false_type {};
template <class R, class... A>
struct IsStdFunction<std::function<R(A...)>> : std::true_type {};
}  // namespace detail

// Callables stand in for selectors, predicates and property names. Only the kinds that can be
// empty (std::function, function and member pointers) can be null; a null one makes the operation
// take its null-argument path instead of throwing.
template <class F>
bool isNullCallable(const F& f) {
    using D = std::remove_cvref_t<F>;
    if constexpr (std::is_pointer_v<D> || std::is_member_pointer_v<D>) {
        return f == nullptr;
    } else if constexpr (detail::IsStdFunction<D>::value) {
        return !f;
    } else {
        return false;
    }
}

// Calls f on the object; f may take the object by reference or the shared_ptr itself.
template <class F, class T, class... A>
decltype(auto) invokeOnObject(F& f, const std::shared_ptr<T>& object, const A&... args) {
    if constexpr (std::is_invocable_v<F&, T&, const A&...>) {
        return std::invoke(f, *object, args...);
    } else {
        return std::invoke(f, object, args...);
    }
}

// Three-way result of a comparison callable that answers either "a before b" (bool) or an
// ordering / int (negative, zero, positive).
template <class R>
int comparisonSign(const R& result) {
    if constexpr (std::is_same_v<R, bool>) {
        return result ? -1 : 0;
    } else {
        return (result < 0) ? -1 : ((result > 0) ? 1 : 0);
    }
}

}  // namespace vitrine
