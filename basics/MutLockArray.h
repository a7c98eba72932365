#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <ranges>
#include <string>
#include <type_traits>
#include <vector>

#include "basics/Log.h"
#include "basics/ObjectTraits.h"
#include "basics/PosixRWLock.h"
#include "basics/RWLockGuard.h"
#include "basics/SortDescriptor.h"
#include "basics/XJObject.h"

namespace vitrine {

// A range whose elements can be appended to a MutLockArray<T>.
template <class R, class T>
concept ObjectRangeOf = std::ranges::input_range<const R> &&
    std::convertible_to<std::ranges::range_reference_t<const R>, std::shared_ptr<T>>;

// An ordered list of shared objects guarded by one read/write lock.
//
// Every operation comes twice: the plain form (addObject) works on the inner list and assumes the
// caller holds the lock in the right mode; the lock… form (lockAddObject) takes the lock for that
// one operation. The lock itself (rdlock, tryRdLock, wrlock, unlock) and the inner list (array())
// are exposed so that callers can hold the lock across several steps.
//
// The lock is NOT recursive: while a thread holds it (either mode) it must use only plain forms on
// this collection; a lock… form or a second rdlock/wrlock may block forever.
//
// Elements of any class: T is any type; elements are std::shared_ptr<T> and the list holds one
// share of each. Equality (containsObject, indexOfObject, removeObject, removeObjectsInArray) is
// objectsEqual(): T::isEqual, else operator==, else identity. Identity (…IdenticalPtr) compares
// addresses and takes a plain pointer, so that an object can look itself up without a share.
// Selectors, predicates, sort criteria and property names are callables: anything std::invoke can
// call with T& (a lambda, a member function pointer, a member data pointer), or with the
// shared_ptr. A callable that can be null (std::function, function pointer, member pointer) is
// the "null argument" of those operations. Null elements placed through array() are tolerated:
// they equal nothing, are skipped by performs and sort first.
//
// Callouts under the lock: makeObjectsPerformSelector, filteredArrayUsingPredicate, valueForKey
// and the sorts call the given callable (and isEqual/operator==/<=> of the elements) while the
// lock is held, by design; those must not use this collection. Nothing else calls user code with
// the lock held, except element destructors run by removals.
//
// Lock order between two collections: addObjectsFromArray and replaceWithObjectsFromArray with a
// MutLockArray argument take the argument's read lock while the receiver's write lock is held.
// Never hold the argument's write lock while calling them.
//
// Thread safety: lock… forms may be called from any thread; plain forms and array() only with the
// lock held as the operation's comment says (read or write).
template <class T>
class MutLockArray : public XJObject {
public:
    using Element = std::shared_ptr<T>;
    using Array = std::vector<Element>;

    // A negative capacity counts as 0; the capacity is only a reservation hint.
    explicit MutLockArray(std::int64_t capacity = 0) {
        if (capacity > 0) storage.reserve(static_cast<std::size_t>(capacity));
    }
    // Empties the list under the write lock, so a thread still holding the lock delays it.
    ~MutLockArray() override { lockRemoveAllObjects(); }
    MutLockArray(const MutLockArray&) = delete;
    MutLockArray& operator=(const MutLockArray&) = delete;

    static std::shared_ptr<MutLockArray> arrayWithCapacity(std::int64_t capacity) {
        return std::make_shared<MutLockArray>(capacity);
    }

    // ---- The lock and the inner list ----
    void rdlock() { arrayLock.rdlock(); }
    bool tryRdLock() { return arrayLock.tryRdLock(); }
    void wrlock() { arrayLock.wrlock(); }
    void unlock() { arrayLock.unlock(); }
    // The lock held for the caller's scope: `auto reading = list.readLocked();`.
    ReadLocked<MutLockArray> readLocked() { return ReadLocked<MutLockArray>(*this); }
    WriteLocked<MutLockArray> writeLocked() { return WriteLocked<MutLockArray>(*this); }
    Array& array() { return storage; }
    const Array& array() const { return storage; }
    // Iterators over the inner list; valid while the caller holds the lock.
    auto objectEnumerator() { return std::ranges::subrange(storage.begin(), storage.end()); }
    auto reverseObjectEnumerator() {
        return std::ranges::subrange(storage.rbegin(), storage.rend());
    }

    // ---- Copies (read) ----
    Array createArrayCopy() const { return storage; }
    Array lockCreateArrayCopy() {
        ReadLocked guard(arrayLock);
        return createArrayCopy();
    }

    // ---- Adding (write) ----
    // A null object is ignored.
    void addObject(const Element& object) {
        if (object) storage.push_back(object);
    }
    void lockAddObject(const Element& object) {
        if (!object) return;
        WriteLocked guard(arrayLock);
        addObject(object);
    }

    // Appends in order. A MutLockArray argument is read through its lockCreateArrayCopy (its read
    // lock, taken while this one's write lock is held in the lock… form); passing the collection
    // itself appends its own content once instead of locking itself.
    void addObjectsFromArray(const Array& list) { appendRange(list); }
    template <ObjectRangeOf<T> R>
    void addObjectsFromArray(const R& list) {
        appendRange(list);
    }
    void addObjectsFromArray(const Array* list) {
        if (list) appendRange(*list);
    }
    void addObjectsFromArray(const std::shared_ptr<MutLockArray>& other) {
        if (!other) return;
        if (other.get() == this) {
            const Array own = storage;
            appendRange(own);
            return;
        }
        appendRange(other->lockCreateArrayCopy());
    }
    template <class List>
    void lockAddObjectsFromArray(const List& list) {
        if (isNullArgument(list)) return;
        WriteLocked guard(arrayLock);
        addObjectsFromArray(list);
    }
    void lockAddObjectsFromArray(const Array& list) { lockAddObjectsFromArray<Array>(list); }

    // Empties the list, then appends the argument's elements; a null argument keeps the old
    // content. Anything thrown while filling is caught and logged, and the list keeps what it
    // holds at that moment.
    void replaceWithObjectsFromArray(const Array& list) { replaceFrom(list); }
    template <ObjectRangeOf<T> R>
    void replaceWithObjectsFromArray(const R& list) {
        replaceFrom(list);
    }
    void replaceWithObjectsFromArray(const Array* list) {
        if (list) replaceFrom(*list);
    }
    void replaceWithObjectsFromArray(const std::shared_ptr<MutLockArray>& other) {
        if (!other) return;
        if (other.get() == this) return;  // replacing a list by itself leaves it as it is
        guardedFill("-[MutLockArray replaceWithObjectsFromArray:]", [&] {
            storage.clear();
            ReadLocked otherGuard(other->arrayLock);
            for (const Element& e : other->storage) {
                if (e) storage.push_back(e);
            }
        });
    }
    template <class List>
    void lockReplaceWithObjectsFromArray(const List& list) {
        if (isNullArgument(list)) return;
        WriteLocked guard(arrayLock);
        replaceWithObjectsFromArray(list);
    }
    void lockReplaceWithObjectsFromArray(const Array& list) {
        lockReplaceWithObjectsFromArray<Array>(list);
    }

    // Replaces the elements at the indexes (ascending) by the objects in order. Nothing happens
    // unless the set is non-null, every index is inside the list and there are as many objects.
    void replaceObjectsAtIndexes(const IndexSet* indexes, const Array* objects) {
        if (!indexes || !objects || indexes->size() != objects->size()) return;
        if (!indexes->empty() && *indexes->rbegin() >= storage.size()) return;
        auto object = objects->begin();
        for (std::uint64_t index : *indexes) storage[index] = *object++;
    }
    void lockReplaceObjectsAtIndexes(const IndexSet* indexes, const Array* objects) {
        if (!indexes || !objects) return;
        WriteLocked guard(arrayLock);
        replaceObjectsAtIndexes(indexes, objects);
    }

    // True when inserted; false for a null object or an index above the count (equal appends).
    bool insertObject(const Element& object, std::uint64_t index) {
        if (!object || index > storage.size()) return false;
        storage.insert(storage.begin() + static_cast<std::ptrdiff_t>(index), object);
        return true;
    }
    bool lockInsertObject(const Element& object, std::uint64_t index) {
        if (!object) return false;
        WriteLocked guard(arrayLock);
        return insertObject(object, index);
    }

    // ---- Removing (write) ----
    void removeAllObjects() { storage.clear(); }
    void lockRemoveAllObjects() {
        WriteLocked guard(arrayLock);
        removeAllObjects();
    }

    void removeFirstObject() {
        if (!storage.empty()) storage.erase(storage.begin());
    }
    void lockRemoveFirstObject() {
        WriteLocked guard(arrayLock);
        removeFirstObject();
    }

    void removeLastObject() {
        if (!storage.empty()) storage.pop_back();
    }
    void lockRemoveLastObject() {
        WriteLocked guard(arrayLock);
        removeLastObject();
    }

    // Removes every element equal to the object.
    void removeObject(const Element& object) {
        if (!object) return;
        std::erase_if(storage, [&](const Element& e) { return pointeesEqual(object, e); });
    }
    void lockRemoveObject(const Element& object) {
        WriteLocked guard(arrayLock);
        removeObject(object);
    }

    // Nothing when the index, read as signed, is negative or not below the count.
    void removeObjectAtIndex(std::uint64_t index) {
        if (validIndex(index)) storage.erase(storage.begin() + static_cast<std::ptrdiff_t>(index));
    }
    void lockRemoveObjectAtIndex(std::uint64_t index) {
        WriteLocked guard(arrayLock);
        removeObjectAtIndex(index);
    }

    // Indexes outside the list are ignored.
    void removeObjectsAtIndexes(const IndexSet* indexes) {
        if (!indexes) return;
        for (auto index = indexes->rbegin(); index != indexes->rend(); ++index) {
            removeObjectAtIndex(*index);
        }
    }
    void lockRemoveObjectsAtIndexes(const IndexSet* indexes) {
        WriteLocked guard(arrayLock);
        removeObjectsAtIndexes(indexes);
    }

    // Removes every element equal to any object of the argument.
    void removeObjectsInArray(const Array* list) {
        if (!list) return;
        std::erase_if(storage, [&](const Element& e) {
            return std::any_of(list->begin(), list->end(),
                               [&](const Element& o) { return pointeesEqual(o, e); });
        });
    }
    void lockRemoveObjectsInArray(const Array* list) {
        WriteLocked guard(arrayLock);
        removeObjectsInArray(list);
    }

    // Each object of the argument removes at most the first element that is that very object.
    void removeIdenticalPtrsInArray(const Array* list) {
        if (!list || list->empty()) return;
        IndexSet found;
        for (const Element& object : *list) {
            const std::uint64_t index = indexOfIdenticalPtr(object.get());
            if (index != kNotFoundIndex) found.insert(index);
        }
        removeObjectsAtIndexes(&found);
    }
    void lockRemoveIdenticalPtrsInArray(const Array* list) {
        if (!list || list->empty()) return;
        WriteLocked guard(arrayLock);
        removeIdenticalPtrsInArray(list);
    }

    void removeIdenticalPtr(const T* object) {
        const std::uint64_t index = indexOfIdenticalPtr(object);
        if (index != kNotFoundIndex) removeObjectAtIndex(index);
    }
    void lockRemoveIdenticalPtr(const T* object) {
        if (!object) return;
        WriteLocked guard(arrayLock);
        removeIdenticalPtr(object);
    }

    // ---- Reading (read, except where noted) ----
    Element firstObject() const { return storage.empty() ? nullptr : storage.front(); }
    Element lockFirstObject() {
        ReadLocked guard(arrayLock);
        return firstObject();
    }

    // The locked form takes the write lock.
    Element lastObject() const { return storage.empty() ? nullptr : storage.back(); }
    Element lockLastObject() {
        WriteLocked guard(arrayLock);
        return lastObject();
    }

    // Null when the index, read as signed, is negative or not below the count.
    Element objectAtIndex(std::uint64_t index) const {
        return validIndex(index) ? storage[index] : nullptr;
    }
    Element lockObjectAtIndex(std::uint64_t index) {
        ReadLocked guard(arrayLock);
        return objectAtIndex(index);
    }

    // The elements at the indexes, ascending; null for a null set; indexes outside are skipped.
    std::optional<Array> objectsAtIndexes(const IndexSet* indexes) const {
        if (!indexes) return std::nullopt;
        Array out;
        for (std::uint64_t index : *indexes) {
            if (validIndex(index)) out.push_back(storage[index]);
        }
        return out;
    }
    std::optional<Array> lockObjectsAtIndexes(const IndexSet* indexes) {
        if (!indexes) return std::nullopt;
        ReadLocked guard(arrayLock);
        return objectsAtIndexes(indexes);
    }

    bool containsObject(const Element& object) const {
        return object && indexOfObject(object) != kNotFoundIndex;
    }
    bool lockContainsObject(const Element& object) {
        if (!object) return false;
        ReadLocked guard(arrayLock);
        return containsObject(object);
    }

    // Lowest index of an equal element; kNotFoundIndex when absent, kNullObjectIndex for null.
    std::uint64_t indexOfObject(const Element& object) const {
        if (!object) return kNullObjectIndex;
        for (std::size_t i = 0; i < storage.size(); ++i) {
            if (pointeesEqual(object, storage[i])) return i;
        }
        return kNotFoundIndex;
    }
    std::uint64_t lockIndexOfObject(const Element& object) {
        if (!object) return kNullObjectIndex;
        ReadLocked guard(arrayLock);
        return indexOfObject(object);
    }

    bool containsIdenticalPtr(const T* object) const {
        return object && indexOfIdenticalPtr(object) != kNotFoundIndex;
    }
    bool lockContainsIdenticalPtr(const T* object) {
        if (!object) return false;
        ReadLocked guard(arrayLock);
        return containsIdenticalPtr(object);
    }

    // Lowest index holding that very object; kNotFoundIndex when absent or null.
    std::uint64_t indexOfIdenticalPtr(const T* object) const {
        if (!object) return kNotFoundIndex;
        for (std::size_t i = 0; i < storage.size(); ++i) {
            if (storage[i].get() == object) return i;
        }
        return kNotFoundIndex;
    }
    std::uint64_t lockIndexOfIdenticalPtr(const T* object) {
        if (!object) return kNotFoundIndex;
        ReadLocked guard(arrayLock);
        return indexOfIdenticalPtr(object);
    }

    std::uint64_t count() const { return storage.size(); }
    std::uint64_t lockCount() {
        ReadLocked guard(arrayLock);
        return count();
    }

    // The elements for which the predicate holds, in order; null for a null predicate and for an
    // empty collection.
    template <class Predicate>
    std::optional<Array> filteredArrayUsingPredicate(Predicate predicate) const {
        if (isNullCallable(predicate) || storage.empty()) return std::nullopt;
        Array out;
        for (const Element& e : storage) {
            if (e && static_cast<bool>(invokeOnObject(predicate, e))) out.push_back(e);
        }
        return out;
    }
    template <class Predicate>
    std::optional<Array> lockFilteredArrayUsingPredicate(Predicate predicate) {
        if (isNullCallable(predicate)) return std::nullopt;
        ReadLocked guard(arrayLock);
        return filteredArrayUsingPredicate(std::move(predicate));
    }

    // For each element in order, the projected value ("property"); null elements give a
    // default-constructed value. Null for a null projection. The locked form takes the write lock.
    template <class Key>
    auto valueForKey(Key key) const {
        using Value = std::decay_t<decltype(invokeOnObject(key, std::declval<const Element&>()))>;
        std::optional<std::vector<Value>> out;
        if (isNullCallable(key)) return out;
        out.emplace();
        out->reserve(storage.size());
        for (const Element& e : storage)
            out->push_back(e ? Value(invokeOnObject(key, e)) : Value{});
        return out;
    }
    template <class Key>
    auto lockValueForKey(Key key) {
        if (isNullCallable(key)) return valueForKey(std::move(key));
        WriteLocked guard(arrayLock);
        return valueForKey(std::move(key));
    }

    // Calls the callable on every element in index order, passing withObject… along. It runs with
    // the lock held (the read lock in the locked form): it must not change this collection.
    template <class F, class... With>
    void makeObjectsPerformSelector(F selector, const With&... withObject) const {
        if (isNullCallable(selector)) return;
        for (const Element& e : storage) {
            if (e) invokeOnObject(selector, e, withObject...);
        }
    }
    template <class F, class... With>
    void lockMakeObjectsPerformSelector(F selector, const With&... withObject) {
        ReadLocked guard(arrayLock);
        makeObjectsPerformSelector(std::move(selector), withObject...);
    }

    // Stable sort by a comparison callable taking two T& (or a member function pointer called
    // as a.compare(b)), answering bool "a before b" or an ordering / int.
    template <class Comparator>
    void sortUsingSelector(Comparator comparator) {
        if (isNullCallable(comparator) || storage.empty()) return;
        std::stable_sort(storage.begin(), storage.end(), [&](const Element& a, const Element& b) {
            if (!a || !b) return !a && b;
            return comparisonSign(std::invoke(comparator, *a, *b)) < 0;
        });
    }
    template <class Comparator>
    void lockSortUsingSelector(Comparator comparator) {
        WriteLocked guard(arrayLock);
        sortUsingSelector(std::move(comparator));
    }

    // Stable sort by the criteria in order, each later one deciding only among elements that the
    // earlier ones rank equal. Nothing for a null list.
    void sortUsingDescriptors(const std::vector<SortDescriptor<T>>* criteria) {
        if (!criteria) return;
        std::stable_sort(storage.begin(), storage.end(), [&](const Element& a, const Element& b) {
            if (!a || !b) return !a && b;
            for (const SortDescriptor<T>& criterion : *criteria) {
                const std::weak_ordering order = criterion.compare(*a, *b);
                if (order != 0) return order < 0;
            }
            return false;
        });
    }
    void lockSortUsingDescriptors(const std::vector<SortDescriptor<T>>* criteria) {
        if (!criteria) return;
        WriteLocked guard(arrayLock);
        sortUsingDescriptors(criteria);
    }

    // "<MutLockArray: (\n    a,\n    b\n)>"; read it with the lock held.
    std::string description() const override {
        return "<MutLockArray: " + listDescription(storage) + ">";
    }

    template <class E>
    static std::string listDescription(const std::vector<E>& list) {
        std::string out = "(\n";
        for (std::size_t i = 0; i < list.size(); ++i) {
            out += "    " + objectDescription(list[i]) + (i + 1 < list.size() ? ",\n" : "\n");
        }
        return out + ")";
    }

protected:
    bool validIndex(std::uint64_t index) const {
        return static_cast<std::int64_t>(index) >= 0 && index < storage.size();
    }

    template <class List>
    static bool isNullArgument(const List& list) {
        if constexpr (std::is_null_pointer_v<List>) {
            return true;
        } else if constexpr (std::is_pointer_v<List> || requires { list.get(); }) {
            return list == nullptr;
        } else {
            return false;
        }
    }

    template <class R>
    void appendRange(const R& list) {
        for (auto&& e : list) addObject(Element(e));
    }

    template <class R>
    void replaceFrom(const R& list) {
        guardedFill("-[MutLockArray replaceWithObjectsFromArray:]", [&] {
            storage.clear();
            for (auto&& e : list) {
                if (Element element(e); element) storage.push_back(std::move(element));
            }
        });
    }

    template <class Fill>
    static void guardedFill(const char* operation, Fill fill) {
        try {
            fill();
        } catch (const std::exception& e) {
            Log::write("\t\tERR: %s - %s", operation, e.what());
        } catch (...) {
            Log::write("\t\tERR: %s - %s", operation, "unknown exception");
        }
    }

    PosixRWLock arrayLock;

private:
    Array storage;
};

}  // namespace vitrine
