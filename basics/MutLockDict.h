#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "basics/ObjectTraits.h"
#include "basics/PosixRWLock.h"
#include "basics/RWLockGuard.h"
#include "basics/XJObject.h"

namespace vitrine {

// A keyed map of shared objects guarded by one read/write lock.
//
// Same convention as MutLockArray: plain forms assume the caller holds the lock in the right mode,
// lock… forms take it for one operation, and the lock (rdlock, wrlock, unlock) and the inner map
// (dict()) are exposed for multi-step work. The lock is NOT recursive: while a thread holds it,
// it must use only plain forms on this collection.
//
// Values are std::shared_ptr<V> of any type V; keys are compared by value (K, a string unless
// given). A null key is std::nullopt: key parameters are std::optional<K>, so a plain string or
// string literal can be passed directly. A null map argument is a null pointer.
//
// Callouts under the lock: only makeObjectsPerformSelector calls user code with the lock held (the
// read lock in its locked form), by design; the callable must not use this collection.
//
// Thread safety: lock… forms may be called from any thread; plain forms and dict() only with the
// lock held in the mode the operation's comment says (reading operations: read; others: write).
template <class V, class K = std::string>
class MutLockDict : public XJObject {
public:
    using Value = std::shared_ptr<V>;
    using Key = std::optional<K>;
    using Map = std::unordered_map<K, Value>;

    MutLockDict() = default;
    // Empties the map under the write lock, so a thread still holding the lock delays it.
    ~MutLockDict() override { lockRemoveAllObjects(); }
    MutLockDict(const MutLockDict&) = delete;
    MutLockDict& operator=(const MutLockDict&) = delete;

    // No collection for a negative capacity; otherwise an empty one (the capacity is not used).
    static std::shared_ptr<MutLockDict> createWithCapacity(std::int64_t capacity) {
        if (capacity < 0) return nullptr;
        return std::make_shared<MutLockDict>();
    }
    // The capacity is ignored, negative or not.
    static std::shared_ptr<MutLockDict> dictionaryWithCapacity(std::int64_t /*capacity*/) {
        return std::make_shared<MutLockDict>();
    }
    // All entries of the map; an empty collection for a null map.
    static std::shared_ptr<MutLockDict> dictionaryWithDict(const Map* entries) {
        auto made = std::make_shared<MutLockDict>();
        if (entries) made->storage = *entries;
        return made;
    }

    // ---- The lock and the inner map ----
    void rdlock() { dictLock.rdlock(); }
    void wrlock() { dictLock.wrlock(); }
    void unlock() { dictLock.unlock(); }
    // The lock held for the caller's scope: `auto reading = list.readLocked();`.
    ReadLocked<MutLockDict> readLocked() { return ReadLocked<MutLockDict>(*this); }
    WriteLocked<MutLockDict> writeLocked() { return WriteLocked<MutLockDict>(*this); }
    Map& dict() { return storage; }
    const Map& dict() const { return storage; }

    // ---- Copies (read) ----
    Map createDictCopy() const { return storage; }
    Map lockCreateDictCopy() {
        ReadLocked guard(dictLock);
        return createDictCopy();
    }

    // ---- Changing (write) ----
    // Replaces any previous value; nothing when the object or the key is null.
    void setObject(const Value& object, const Key& key) {
        if (object && key) storage.insert_or_assign(*key, object);
    }
    void lockSetObject(const Value& object, const Key& key) {
        WriteLocked guard(dictLock);
        setObject(object, key);
    }
    void setValue(const Value& object, const Key& key) { setObject(object, key); }
    void lockSetValue(const Value& object, const Key& key) { lockSetObject(object, key); }

    void removeAllObjects() { storage.clear(); }
    void lockRemoveAllObjects() {
        WriteLocked guard(dictLock);
        removeAllObjects();
    }

    void removeObjectForKey(const Key& key) {
        if (key) storage.erase(*key);
    }
    void lockRemoveObjectForKey(const Key& key) {
        if (!key) return;
        WriteLocked guard(dictLock);
        removeObjectForKey(key);
    }

    // Copies every entry in, replacing values under equal keys; nothing for a null or empty map.
    void addEntriesFromDictionary(const Map* entries) {
        if (!entries) return;
        for (const auto& [key, value] : *entries) {
            if (value) storage.insert_or_assign(key, value);
        }
    }
    void lockAddEntriesFromDictionary(const Map* entries) {
        if (!entries || entries->empty()) return;
        WriteLocked guard(dictLock);
        addEntriesFromDictionary(entries);
    }

    // ---- Reading (read) ----
    // Null when absent or for a null key.
    Value objectForKey(const Key& key) const {
        if (!key) return nullptr;
        const auto found = storage.find(*key);
        return found == storage.end() ? nullptr : found->second;
    }
    Value lockObjectForKey(const Key& key) {
        ReadLocked guard(dictLock);
        return objectForKey(key);
    }

    // The keys, in the map's own order; null (not an empty list) when the map is empty.
    std::optional<std::vector<K>> allKeys() const {
        if (storage.empty()) return std::nullopt;
        std::vector<K> keys;
        keys.reserve(storage.size());
        for (const auto& entry : storage) keys.push_back(entry.first);
        return keys;
    }
    std::optional<std::vector<K>> lockAllKeys() {
        ReadLocked guard(dictLock);
        return allKeys();
    }

    // The values, in the map's own order: null when the map is empty, whereas the locked form
    // answers an empty list.
    std::optional<std::vector<Value>> allValues() const {
        if (storage.empty()) return std::nullopt;
        return valueList();
    }
    std::vector<Value> lockAllValues() {
        ReadLocked guard(dictLock);
        return valueList();
    }

    // Calls the callable on every value (not the keys) in the value list's order, passing
    // withObject… along, with the lock held: it must not change this collection.
    template <class F, class... With>
    void makeObjectsPerformSelector(F selector, const With&... withObject) const {
        if (isNullCallable(selector)) return;
        for (const Value& value : valueList()) {
            if (value) invokeOnObject(selector, value, withObject...);
        }
    }
    template <class F, class... With>
    void lockMakeObjectsPerformSelector(F selector, const With&... withObject) {
        ReadLocked guard(dictLock);
        makeObjectsPerformSelector(std::move(selector), withObject...);
    }

    std::uint64_t count() const { return storage.size(); }
    std::uint64_t lockCount() {
        ReadLocked guard(dictLock);
        return count();
    }

    // "<MutLockDict: {\n    key = value;\n}>"; read it with the lock held.
    std::string description() const override {
        return "<MutLockDict: " + mapDescription(storage) + ">";
    }

    template <class M>
    static std::string mapDescription(const M& map) {
        std::string out = "{\n";
        for (const auto& [key, value] : map) {
            out += "    " + objectDescription(key) + " = " + objectDescription(value) + ";\n";
        }
        return out + "}";
    }

protected:
    std::vector<Value> valueList() const {
        std::vector<Value> values;
        values.reserve(storage.size());
        for (const auto& entry : storage) values.push_back(entry.second);
        return values;
    }

    PosixRWLock dictLock;

private:
    Map storage;
};

}  // namespace vitrine
