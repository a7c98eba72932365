#pragma once

#include <concepts>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "basics/XJObject.h"

namespace vitrine {

// A target kind that can report its destruction: the library's root object type.
template <class T>
concept ZeroingWeakTarget = std::derived_from<T, XJObject>;

// A reference that does not keep its target alive and turns null for good when the target is
// destroyed, optionally running a cleanup callable at that moment.
//
// Design: targets are XJObjects owned by std::shared_ptr. Creating a reference registers it, under
// one process-wide recursive mutex, in a registry from target to its references, and marks the
// target; a marked target's destructor (~XJObject) runs the death sequence under the mutex: take
// a snapshot of the target's references, zero all of them, then run each one's cleanup callable
// (at most once per reference), then drop the registry entry. target() reads under the same mutex
// and promotes through a std::weak_ptr, so it returns either null or a share that keeps the object
// alive for as long as the caller holds it, even when the last owner lets go on another thread at
// the same moment. Destroying a live reference unregisters it, so the target's death no longer
// touches it. Only the registry mode exists: there is no platform weak store to delegate to.
//
// Cleanup callables run on the thread that destroys the target, with the mutex held, from inside
// the target's XJObject destructor: the pointer they receive identifies the target, but the
// object's own (derived) parts are already gone, so they must not call into it or keep it. They
// must not wait for another thread that needs weak references, and must not take a collection
// lock (collection locks are taken before the weak-reference mutex, never after).
//
// Thread safety: target() and description() may be called from any thread at any time, also while
// the target dies; setCleanupBlock() may race with the target's death; destroying a reference
// while another thread reads it is the owner's error.
class XJ_KBZeroingWeakRef final : public XJObject {
public:
    using CleanupBlock = std::function<void(XJObject* target)>;

    // A null target gives a reference that reads null from the start and registers nothing.
    template <class T>
    explicit XJ_KBZeroingWeakRef(const std::shared_ptr<T>& target)
        : XJ_KBZeroingWeakRef(RootTag{}, asRoot(target)) {}
    ~XJ_KBZeroingWeakRef() override;
    XJ_KBZeroingWeakRef(const XJ_KBZeroingWeakRef&) = delete;
    XJ_KBZeroingWeakRef& operator=(const XJ_KBZeroingWeakRef&) = delete;

    template <class T>
    static std::shared_ptr<XJ_KBZeroingWeakRef> refWithTarget(const std::shared_ptr<T>& target) {
        return std::make_shared<XJ_KBZeroingWeakRef>(target);
    }

    // There are no foreign object kinds that could be referenced besides XJObjects.
    static bool canRefCoreFoundationObjects() { return false; }

    std::shared_ptr<XJObject> target() const;
    template <class T>
    std::shared_ptr<T> targetAs() const {
        return std::dynamic_pointer_cast<T>(target());
    }

    // Replaces (and releases) any previous callable; only the last one set runs.
    void setCleanupBlock(CleanupBlock block);

    // "<XJ_KBZeroingWeakRef: 0x... -> target description>", "(null)" once zeroed.
    std::string description() const override;

    // Number of targets currently in the registry; lets tests see that deaths leave nothing behind.
    static std::size_t _registeredTargetCount();

private:
    friend class XJObject;
    struct RootTag {};

    template <class T>
    static std::shared_ptr<XJObject> asRoot(const std::shared_ptr<T>& target) {
        static_assert(ZeroingWeakTarget<T>,
                      "a zeroing weak reference needs a target that reports its destruction: "
                      "derive the target's type from vitrine::XJObject");
        if constexpr (ZeroingWeakTarget<T>) {
            return target;
        } else {
            return nullptr;
        }
    }

    XJ_KBZeroingWeakRef(RootTag, const std::shared_ptr<XJObject>& target);

    void _zeroTarget();
    void _executeCleanupBlockWithTarget(XJObject* target);
    static void _targetDied(XJObject* target);

    // All three are guarded by the weak-reference mutex.
    XJObject* _target = nullptr;          // null once the target has died
    std::weak_ptr<XJObject> _weakTarget;  // the promotion path for target()
    XJObject* _registeredWith = nullptr;  // registry key while this reference is listed
    CleanupBlock _cleanupBlock;
};

}  // namespace vitrine
