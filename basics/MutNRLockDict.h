#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "basics/MutLockDict.h"
#include "basics/ObjectHolder.h"

namespace vitrine {

// A MutLockDict that maps keys to objects without keeping them alive: the inner map's values are
// plain ObjectHolder<V> elements (never weak ones), and this class wraps values on the way in and
// unwraps them on the way out. A value whose object died elsewhere reads as null.
//
// Redefined here in terms of objects: setObject/setValue, objectForKey (and its locked form),
// allValues, addEntriesFromDictionary. Everything else keeps the base behaviour on the holders:
// createDictCopy and lockAllValues give holders, count counts dead entries too. The typed value
// slot makes non-holders impossible.
//
// Locking is that of MutLockDict: NOT recursive; only makeObjectsPerformSelector calls out with
// the lock held, and its callable receives the holders.
//
// Thread safety: as MutLockDict; objects may die on any thread at any time.
template <class V, class K = std::string>
class MutNRLockDict : public MutLockDict<ObjectHolder<V>, K> {
    using Base = MutLockDict<ObjectHolder<V>, K>;

public:
    using Holder = ObjectHolder<V>;
    using HolderPtr = std::shared_ptr<Holder>;
    using Object = std::shared_ptr<V>;
    using Key = typename Base::Key;
    using Map = typename Base::Map;  // key to holder
    using ObjectMap = std::unordered_map<K, Object>;

    MutNRLockDict() = default;

    // The capacity is ignored.
    static std::shared_ptr<MutNRLockDict> dictionaryWithCapacity(std::int64_t /*capacity*/) {
        return std::make_shared<MutNRLockDict>();
    }

    using Base::dict;

    // Nothing for a null key; a holder is stored unchanged; an object is wrapped in a plain
    // holder first; a null object logs the holder's BAIL line and stores nothing.
    void setObject(const HolderPtr& holder, const Key& key) { Base::setObject(holder, key); }
    void setObject(const Object& object, const Key& key) {
        if (!key) return;
        if (HolderPtr holder = Holder::createWithObject(object)) {
            dict().insert_or_assign(*key, std::move(holder));
        }
    }
    template <class Value>
    void lockSetObject(const Value& value, const Key& key) {
        WriteLocked guard(this->dictLock);
        setObject(value, key);
    }
    template <class Value>
    void setValue(const Value& value, const Key& key) {
        setObject(value, key);
    }
    template <class Value>
    void lockSetValue(const Value& value, const Key& key) {
        lockSetObject(value, key);
    }

    // The object of the holder under the key; null when absent, dead, or for a null key.
    Object objectForKey(const Key& key) const {
        const HolderPtr holder = Base::objectForKey(key);
        return holder ? holder->object() : nullptr;
    }
    Object lockObjectForKey(const Key& key) {
        ReadLocked guard(this->dictLock);
        return objectForKey(key);
    }

    // The values' objects in the map's value order, null for a dead one; empty for an empty map.
    std::vector<Object> allValues() const {
        std::vector<Object> out;
        out.reserve(dict().size());
        for (const auto& entry : dict())
            out.push_back(entry.second ? entry.second->object() : nullptr);
        return out;
    }

    // Another MutNRLockDict: its entries (read under its lock) are copied with their holders
    // unchanged. A MutLockDict of V (read under its lock), or a plain map of objects: each value
    // is wrapped in a new plain holder. Nothing for a null or empty argument.
    void addEntriesFromDictionary(std::nullptr_t) {}
    void addEntriesFromDictionary(const std::shared_ptr<MutNRLockDict>& other) {
        if (!other) return;
        const Map entries =
            other.get() == this ? this->createDictCopy() : other->lockCreateDictCopy();
        Base::addEntriesFromDictionary(&entries);
    }
    void addEntriesFromDictionary(const std::shared_ptr<MutLockDict<V, K>>& other) {
        if (!other) return;
        const ObjectMap entries = other->lockCreateDictCopy();
        addEntriesFromDictionary(&entries);
    }
    void addEntriesFromDictionary(const Map* holders) { Base::addEntriesFromDictionary(holders); }
    void addEntriesFromDictionary(const ObjectMap* entries) {
        if (!entries) return;
        for (const auto& [key, object] : *entries) setObject(object, key);
    }
    template <class Entries>
    void lockAddEntriesFromDictionary(const Entries& entries) {
        if constexpr (std::is_null_pointer_v<Entries>) {
            return;
        } else {
            if (!entries || isEmpty(entries)) return;
            WriteLocked guard(this->dictLock);
            addEntriesFromDictionary(entries);
        }
    }

    // "<MutNRLockDict: {\n    key = ObjectHolder: ...;\n}>"; read it with the lock held.
    std::string description() const override {
        return "<MutNRLockDict: " + Base::mapDescription(dict()) + ">";
    }

private:
    template <class Entries>
    static bool isEmpty(const Entries& entries) {
        if constexpr (std::is_pointer_v<Entries>) {
            return entries->empty();
        } else {
            return false;  // a collection argument is read (and found empty) under its own lock
        }
    }
};

}  // namespace vitrine
