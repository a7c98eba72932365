#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "basics/Log.h"
#include "basics/ObjectTraits.h"
#include "basics/XJObject.h"
#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"

namespace vitrine {

// Wraps one object of type T without owning it, so that the non-retaining collections can list
// objects that are owned elsewhere.
//
// A plain holder keeps a std::weak_ptr: the object should outlive the holder, but if it does not,
// the holder reads null instead of dangling. A weak holder keeps an XJ_KBZeroingWeakRef, so the
// object takes part in the zeroing weak-reference registry; that needs T to be an XJObject and is
// refused at compile time otherwise. An empty holder holds nothing; a holder being destroyed is
// deleted and passes nothing on.
//
// Operations meant for the held object go through perform(callable, args…): the callable runs on
// the live object only, and is dropped for a deleted, empty or dead holder.
//
// Thread safety: every operation may be called from any thread, also while the object dies
// elsewhere; object() and perform() hold a share of the object while they use it.
template <class T>
class ObjectHolder : public XJObject {
public:
    using Object = std::shared_ptr<T>;

    // An empty holder.
    ObjectHolder() = default;
    ~ObjectHolder() override {
        deleted.store(true, std::memory_order_relaxed);
        std::shared_ptr<XJ_KBZeroingWeakRef> released;
        std::lock_guard guard(fieldsLock);
        plainObject.reset();
        released = std::move(zwr);
    }
    ObjectHolder(const ObjectHolder&) = delete;
    ObjectHolder& operator=(const ObjectHolder&) = delete;

    // A plain holder of the object; for a null object logs the BAIL line and gives none.
    static std::shared_ptr<ObjectHolder> createWithObject(const Object& object) {
        if (!object) {
            Log::write("\t\terr: %s - BAIL", "-[ObjectHolder initWithObject:]");
            return nullptr;
        }
        auto holder = std::make_shared<ObjectHolder>();
        holder->setObject(object);
        return holder;
    }

    // A weak holder of the object; for a null object logs the BAIL line and gives none.
    static std::shared_ptr<ObjectHolder> createWithZWRObject(const Object& object) requires
        ZeroingWeakTarget<T> {
        if (!object) {
            Log::write("\t\terr: %s - BAIL", "-[ObjectHolder initWithZWRObject:]");
            return nullptr;
        }
        auto holder = std::make_shared<ObjectHolder>();
        holder->setZWRObject(object);
        return holder;
    }

    // Holds the object plainly, dropping any weak reference; null leaves the holder empty.
    void setObject(const Object& object) {
        std::shared_ptr<XJ_KBZeroingWeakRef> released;
        std::lock_guard guard(fieldsLock);
        released = std::move(zwr);
        weakTarget = nullptr;
        plainObject = object;
        mode = object ? Mode::Plain : Mode::Empty;
    }

    // Holds the object through a new zeroing weak reference, dropping any plain reference; null
    // leaves the holder empty.
    void setZWRObject(const Object& object) requires ZeroingWeakTarget<T> {
        auto fresh = object ? XJ_KBZeroingWeakRef::refWithTarget(object) : nullptr;
        std::shared_ptr<XJ_KBZeroingWeakRef> released;
        std::lock_guard guard(fieldsLock);
        plainObject.reset();
        released = std::exchange(zwr, std::move(fresh));
        weakTarget = object.get();
        mode = object ? Mode::Weak : Mode::Empty;
    }

    // The live object, or null when empty, dead or deleted.
    Object object() const {
        if (deleted.load(std::memory_order_relaxed)) return nullptr;
        std::unique_lock guard(fieldsLock);
        if (mode == Mode::Plain) return plainObject.lock();
        if (mode != Mode::Weak) return nullptr;
        // Read outside the holder's lock: the weak-reference mutex is never taken under it.
        const std::shared_ptr<XJ_KBZeroingWeakRef> ref = zwr;
        T* const typed = weakTarget;
        guard.unlock();
        if (!ref) return nullptr;
        // The reference answers the object's XJObject part; the holder already knows where the T
        // is, so a share of the same object at that address needs no cast through the hierarchy
        // (delegates derive from XJObject virtually, and that cast is costly on every dispatch).
        std::shared_ptr<XJObject> live = ref->target();
        if (!live) return nullptr;
        return Object(std::move(live), typed);
    }

    bool isWeak() const {
        std::lock_guard guard(fieldsLock);
        return mode == Mode::Weak;
    }

    // Runs the callable on the live object with the given arguments. Answers whether it ran (for a
    // callable returning void) or its result (empty when it did not run).
    template <class F, class... A>
    auto perform(F&& operation, const A&... args) const {
        const Object live = object();
        using Result = decltype(invokeOnObject(operation, live, args...));
        if constexpr (std::is_void_v<Result>) {
            if (!live || isNullCallable(operation)) return false;
            invokeOnObject(operation, live, args...);
            return true;
        } else {
            using Value = std::decay_t<Result>;
            if (!live || isNullCallable(operation)) return std::optional<Value>();
            return std::optional<Value>(invokeOnObject(operation, live, args...));
        }
    }

    // The projected value ("property") of the live object; empty when there is none.
    template <class Key>
    auto valueForKey(Key key) const {
        return perform(key);
    }

    // Two holders are equal when both objects are alive and equal by the object's own equality; a
    // holder of nothing (or of a dead object) equals nothing, itself included. A non-holder is
    // never equal to a holder.
    bool isEqual(const XJObject& other) const override {
        const auto* otherHolder = dynamic_cast<const ObjectHolder*>(&other);
        if (!otherHolder) return false;
        return pointeesEqual(object(), otherHolder->object());
    }
    // Equality through the objects' isEqualTo when T has one, else as isEqual.
    bool isEqualTo(const ObjectHolder& other) const {
        const Object mine = object();
        const Object theirs = other.object();
        if (!mine || !theirs) return false;
        if constexpr (requires(const T& a) { a.isEqualTo(a); }) {
            return mine->isEqualTo(*theirs);
        } else {
            return objectsEqual(*mine, *theirs);
        }
    }

    // "ObjectHolder: 0x... : object description" while alive, "ObjectHolder: 0x..." otherwise.
    std::string description() const override {
        const Object live = object();
        if (!live) return stringWithFormat("ObjectHolder: %p", static_cast<const void*>(this));
        return stringWithFormat("ObjectHolder: %p : %s", static_cast<const void*>(this),
                                objectDescription(*live).c_str());
    }

private:
    enum class Mode { Empty, Plain, Weak };

    std::atomic<bool> deleted{false};
    mutable std::mutex fieldsLock;  // guards the three fields below, held for field copies only
    Mode mode = Mode::Empty;
    std::weak_ptr<T> plainObject;
    std::shared_ptr<XJ_KBZeroingWeakRef> zwr;
    T* weakTarget = nullptr;  // the object zwr refers to, as a T; only read while zwr is live
};

}  // namespace vitrine
