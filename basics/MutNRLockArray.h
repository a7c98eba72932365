#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "basics/Log.h"
#include "basics/MutLockArray.h"
#include "basics/ObjectHolder.h"

namespace vitrine {

// A MutLockArray that lists objects without keeping them alive: the inner list holds
// ObjectHolder<T> elements, and this class wraps objects on the way in and unwraps them on the
// way out, so callers deal in the objects. With zwrFlag set, added objects are held through
// zeroing weak references and read as null once they die elsewhere; the dead entry stays (count
// counts it) and is skipped or reads null until somebody removes it.
//
// T must be an XJObject (checked at compile time). The typed element slot makes non-holders
// impossible except for a null slot placed directly into array(); createArrayCopyFromObjects logs
// such a slot as "wasn't a holder" and skips it, the other operations skip it silently.
//
// Operations below take or return objects (T); every operation of MutLockArray that is not
// redefined here keeps its base behaviour on the holders (firstObject, createArrayCopy,
// filteredArrayUsingPredicate, sorts, count…), and the base forms taking holders stay available
// as overloads: addObject(holder) appends a holder unchanged, indexOfObject(holder) compares
// holders. Identity lookups take any XJObject pointer and match either the holder itself or the
// object it holds.
//
// The locked forms that unwrap objects under the lock keep the temporary shares they take until
// the lock is released: if the last owner of an object lets go meanwhile, the object is destroyed
// after this collection is unlocked, so its destructor may use the collection. The plain forms
// release them on return, inside whatever lock the caller holds.
//
// Locking is that of MutLockArray: NOT recursive; the callables of makeObjectsPerformSelector,
// bruteForceMakeObjectsPerformSelector and valueForKey run with the lock held (read, read and
// write lock respectively in the locked forms) and must not use this collection.
//
// Thread safety: as MutLockArray; objects may die on any thread at any time.
template <class T>
class MutNRLockArray : public MutLockArray<ObjectHolder<T>> {
    static_assert(ZeroingWeakTarget<T>,
                  "MutNRLockArray holds XJObjects: derive the element type from vitrine::XJObject");
    using Base = MutLockArray<ObjectHolder<T>>;

public:
    using Holder = ObjectHolder<T>;
    using HolderPtr = std::shared_ptr<Holder>;
    using Holders = typename Base::Array;
    using Object = std::shared_ptr<T>;
    using Objects = std::vector<Object>;

    explicit MutNRLockArray(std::int64_t capacity = 0) : Base(capacity) {}

    // The capacity is ignored.
    static std::shared_ptr<MutNRLockArray> arrayWithCapacity(std::int64_t /*capacity*/) {
        return std::make_shared<MutNRLockArray>(0);
    }

    // When set, objects added afterwards are held weakly; objects already listed keep their
    // holders.
    bool zwrFlag() const { return weakHolders.load(std::memory_order_relaxed); }
    void setZwrFlag(bool flag) { weakHolders.store(flag, std::memory_order_relaxed); }

    using Base::array;
    using Base::count;

    // ---- Adding (write) ----
    using Base::addObject;
    using Base::lockAddObject;
    // Wraps the object by the zwrFlag rule; a null object logs the holder's BAIL line (in the
    // plain form; the locked form returns before locking).
    void addObject(const Object& object) {
        if (HolderPtr holder = wrap(object)) array().push_back(std::move(holder));
    }
    void lockAddObject(const Object& object) {
        if (!object) return;
        WriteLocked guard(this->arrayLock);
        addObject(object);
    }

    using Base::insertObject;
    using Base::lockInsertObject;
    bool insertObject(const Object& object, std::uint64_t index) {
        HolderPtr holder = wrap(object);
        return holder && Base::insertObject(holder, index);
    }
    bool lockInsertObject(const Object& object, std::uint64_t index) {
        if (!object) return false;
        WriteLocked guard(this->arrayLock);
        return insertObject(object, index);
    }

    // Another MutNRLockArray: its holders (read under its lock) are appended unchanged and then
    // shared by both collections. A MutLockArray of T: its elements (read under its lock) are
    // wrapped. A list of objects: each is wrapped; a list of holders: appended unchanged.
    using Base::addObjectsFromArray;
    void addObjectsFromArray(std::nullptr_t) {}
    void addObjectsFromArray(const std::shared_ptr<MutNRLockArray>& other) {
        if (!other) return;
        const Holders holders =
            other.get() == this ? this->createArrayCopy() : other->lockCreateArrayCopy();
        for (const HolderPtr& holder : holders) Base::addObject(holder);
    }
    void addObjectsFromArray(const std::shared_ptr<MutLockArray<T>>& other) {
        if (!other) return;
        for (const Object& object : other->lockCreateArrayCopy()) addObject(object);
    }
    void addObjectsFromArray(const Objects& list) {
        for (const Object& object : list) addObject(object);
    }
    void addObjectsFromArray(const Objects* list) {
        if (list) addObjectsFromArray(*list);
    }
    template <class List>
    void lockAddObjectsFromArray(const List& list) {
        if (Base::isNullArgument(list)) return;
        WriteLocked guard(this->arrayLock);
        addObjectsFromArray(list);
    }

    // Nothing for a null argument (or this collection itself); otherwise empties the list and
    // adds the argument as addObjectsFromArray does.
    void replaceWithObjectsFromArray(std::nullptr_t) {}
    template <class List>
    void replaceWithObjectsFromArray(const List& list) {
        if (Base::isNullArgument(list)) return;
        if constexpr (requires { list.get(); }) {
            if (static_cast<const void*>(list.get()) == static_cast<const void*>(this)) return;
        }
        array().clear();
        addObjectsFromArray(list);
    }
    template <class List>
    void lockReplaceWithObjectsFromArray(const List& list) {
        if (Base::isNullArgument(list)) return;
        WriteLocked guard(this->arrayLock);
        replaceWithObjectsFromArray(list);
    }

    // ---- Unwrapping reads ----
    // The live objects in order (read lock). Dead holders are skipped; a null slot is logged.
    Objects createArrayCopyFromObjects() const {
        Objects out;
        appendObjectsTo(out);
        return out;
    }
    Objects lockCreateArrayCopyFromObjects() {
        ReadLocked guard(this->arrayLock);
        return createArrayCopyFromObjects();
    }
    // The same live objects appended to a list the caller keeps, so that a caller that reuses its
    // list allocates nothing; logs a null slot as createArrayCopyFromObjects does.
    void appendObjectsTo(Objects& out) const {
        out.reserve(out.size() + array().size());
        for (const HolderPtr& holder : array()) {
            if (!holder) {
                Log::write("\t\terr: object in MutNRLockArray wasn't a holder! %s, %s",
                           "-[MutNRLockArray createArrayCopyFromObjects]", "(null)");
                continue;
            }
            if (Object live = holder->object()) out.push_back(std::move(live));
        }
    }
    void lockAppendObjectsTo(Objects& out) {
        ReadLocked guard(this->arrayLock);
        appendObjectsTo(out);
    }

    // The last holder's object; null when empty or dead. The locked form takes the write lock.
    Object lastObject() const { return objectOf(Base::lastObject()); }
    Object lockLastObject() {
        WriteLocked guard(this->arrayLock);
        return lastObject();
    }

    // Null when out of range or dead.
    Object objectAtIndex(std::uint64_t index) const { return objectOf(Base::objectAtIndex(index)); }
    Object lockObjectAtIndex(std::uint64_t index) {
        ReadLocked guard(this->arrayLock);
        return objectAtIndex(index);
    }

    // The live objects at the indexes, ascending; an empty list for a null set.
    Objects objectsAtIndexes(const IndexSet* indexes) const {
        Objects out;
        if (!indexes) return out;
        for (std::uint64_t index : *indexes) {
            if (Object live = objectAtIndex(index)) out.push_back(std::move(live));
        }
        return out;
    }
    Objects lockObjectsAtIndexes(const IndexSet* indexes) {
        if (!indexes) return {};
        ReadLocked guard(this->arrayLock);
        return objectsAtIndexes(indexes);
    }

    // ---- Equality (through the argument's own equality, live objects only) ----
    using Base::indexOfObject;
    using Base::lockIndexOfObject;
    // Lowest index whose live object equals the argument; kNotFoundIndex when none or for null.
    std::uint64_t indexOfObject(const Object& object) const { return findEqual(object, nullptr); }
    // A null object answers kNullObjectIndex before locking, as the base's locked form does.
    std::uint64_t lockIndexOfObject(const Object& object) {
        if (!object) return kNullObjectIndex;
        Objects keep;
        ReadLocked guard(this->arrayLock);
        return findEqual(object, &keep);
    }

    using Base::containsObject;
    using Base::lockContainsObject;
    bool containsObject(const Object& object) const {
        return findEqual(object, nullptr) != kNotFoundIndex;
    }
    bool lockContainsObject(const Object& object) {
        if (!object) return false;
        Objects keep;
        ReadLocked guard(this->arrayLock);
        return findEqual(object, &keep) != kNotFoundIndex;
    }

    using Base::lockRemoveObject;
    using Base::removeObject;
    // Removes only the first element whose live object equals the argument.
    void removeObject(const Object& object) { removeEqual(object, nullptr); }
    void lockRemoveObject(const Object& object) {
        Objects keep;
        WriteLocked guard(this->arrayLock);
        removeEqual(object, &keep);
    }

    // ---- Identity (the holder itself or its live object) ----
    std::uint64_t indexOfIdenticalPtr(const XJObject* object) const {
        return findIdentical(object, nullptr);
    }
    std::uint64_t lockIndexOfIdenticalPtr(const XJObject* object) {
        if (!object) return kNotFoundIndex;
        Objects keep;
        ReadLocked guard(this->arrayLock);
        return findIdentical(object, &keep);
    }

    bool containsIdenticalPtr(const XJObject* object) const {
        return findIdentical(object, nullptr) != kNotFoundIndex;
    }
    bool lockContainsIdenticalPtr(const XJObject* object) {
        if (!object) return false;
        Objects keep;
        ReadLocked guard(this->arrayLock);
        return findIdentical(object, &keep) != kNotFoundIndex;
    }

    void removeIdenticalPtr(const XJObject* object) { removeIdentical(object, nullptr); }
    void lockRemoveIdenticalPtr(const XJObject* object) {
        if (!object) return;
        Objects keep;
        WriteLocked guard(this->arrayLock);
        removeIdentical(object, &keep);
    }

    // Each object (or holder) of the argument removes at most the first element that is it or
    // holds it.
    void removeIdenticalPtrsInArray(std::nullptr_t) {}
    template <class List>
    void removeIdenticalPtrsInArray(const List* list) {
        removeIdenticalList(list, nullptr);
    }
    template <class List>
    void lockRemoveIdenticalPtrsInArray(const List* list) {
        if (!list || list->empty()) return;
        Objects keep;
        WriteLocked guard(this->arrayLock);
        removeIdenticalList(list, &keep);
    }

    // ---- Callables ----
    // Calls the callable on each live object in index order, dead holders skipped.
    template <class F, class... With>
    void bruteForceMakeObjectsPerformSelector(F selector, const With&... withObject) const {
        performOnLive(selector, nullptr, withObject...);
    }
    template <class F, class... With>
    void lockBruteForceMakeObjectsPerformSelector(F selector, const With&... withObject) {
        Objects keep;
        ReadLocked guard(this->arrayLock);
        performOnLive(selector, &keep, withObject...);
    }

    // Addresses each holder, which passes the call on to its live object (ObjectHolder::perform).
    template <class F, class... With>
    void makeObjectsPerformSelector(F selector, const With&... withObject) const {
        performOnLive(selector, nullptr, withObject...);
    }
    template <class F, class... With>
    void lockMakeObjectsPerformSelector(F selector, const With&... withObject) {
        Objects keep;
        ReadLocked guard(this->arrayLock);
        performOnLive(selector, &keep, withObject...);
    }

    // For each holder in order, the projected value of its live object, or a default-constructed
    // value for a dead one. Null for a null projection. The locked form takes the write lock.
    template <class Key>
    auto valueForKey(Key key) const {
        return projectLive(key, nullptr);
    }
    template <class Key>
    auto lockValueForKey(Key key) {
        if (isNullCallable(key)) return projectLive(key, nullptr);
        Objects keep;
        WriteLocked guard(this->arrayLock);
        return projectLive(key, &keep);
    }

    // "<MutNRLockArray: (\n    ObjectHolder: ...\n)>"; read it with the lock held.
    std::string description() const override {
        return "<MutNRLockArray: " + Base::listDescription(array()) + ">";
    }

private:
    HolderPtr wrap(const Object& object) const {
        return zwrFlag() ? Holder::createWithZWRObject(object) : Holder::createWithObject(object);
    }

    static Object objectOf(const HolderPtr& holder) { return holder ? holder->object() : nullptr; }

    // The live object of the holder at the index; kept in keep (when given) so that it is
    // released after the caller's lock.
    static Object live(const HolderPtr& holder, Objects* keep) {
        Object object = objectOf(holder);
        if (keep && object) keep->push_back(object);
        return object;
    }

    std::uint64_t findEqual(const Object& object, Objects* keep) const {
        if (!object) return kNotFoundIndex;
        const Holders& list = array();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (pointeesEqual(object, live(list[i], keep))) return i;
        }
        return kNotFoundIndex;
    }

    void removeEqual(const Object& object, Objects* keep) {
        const std::uint64_t index = findEqual(object, keep);
        if (index != kNotFoundIndex) Base::removeObjectAtIndex(index);
    }

    std::uint64_t findIdentical(const XJObject* object, Objects* keep) const {
        if (!object) return kNotFoundIndex;
        const Holders& list = array();
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (static_cast<const XJObject*>(list[i].get()) == object) return i;
            const Object held = live(list[i], keep);
            if (held && static_cast<const XJObject*>(held.get()) == object) return i;
        }
        return kNotFoundIndex;
    }

    void removeIdentical(const XJObject* object, Objects* keep) {
        const std::uint64_t index = findIdentical(object, keep);
        if (index != kNotFoundIndex) Base::removeObjectAtIndex(index);
    }

    template <class List>
    void removeIdenticalList(const List* list, Objects* keep) {
        if (!list || list->empty()) return;
        IndexSet found;
        for (const auto& element : *list) {
            const std::uint64_t index =
                findIdentical(static_cast<const XJObject*>(element.get()), keep);
            if (index != kNotFoundIndex) found.insert(index);
        }
        Base::removeObjectsAtIndexes(&found);
    }

    template <class F, class... With>
    void performOnLive(F& selector, Objects* keep, const With&... withObject) const {
        if (isNullCallable(selector)) return;
        for (const HolderPtr& holder : array()) {
            if (const Object object = live(holder, keep)) {
                invokeOnObject(selector, object, withObject...);
            }
        }
    }

    template <class Key>
    auto projectLive(Key& key, Objects* keep) const {
        using Value = std::decay_t<decltype(invokeOnObject(key, std::declval<const Object&>()))>;
        std::optional<std::vector<Value>> out;
        if (isNullCallable(key)) return out;
        out.emplace();
        out->reserve(array().size());
        for (const HolderPtr& holder : array()) {
            const Object object = live(holder, keep);
            out->push_back(object ? Value(invokeOnObject(key, object)) : Value{});
        }
        return out;
    }

    std::atomic<bool> weakHolders{false};
};

}  // namespace vitrine
