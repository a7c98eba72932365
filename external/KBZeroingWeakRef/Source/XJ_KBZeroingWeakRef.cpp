#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"

#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "basics/Log.h"

namespace vitrine {

namespace {

struct WeakRefState {
    // Recursive: a dying target's cleanup callables, and the releases they cause, may create or
    // destroy references and kill further targets on the same thread.
    std::recursive_mutex mutex;
    std::unordered_map<const XJObject*, std::unordered_set<XJ_KBZeroingWeakRef*>> registry;
};

// Never destroyed: objects may still die during static destruction at exit.
WeakRefState& state() {
    static WeakRefState* const instance = new WeakRefState;
    return *instance;
}

}  // namespace

XJ_KBZeroingWeakRef::XJ_KBZeroingWeakRef(RootTag, const std::shared_ptr<XJObject>& target) {
    if (!target) return;
    WeakRefState& s = state();
    std::lock_guard guard(s.mutex);
    _target = target.get();
    _weakTarget = target;
    _registeredWith = target.get();
    target->weaklyReferenced.store(true, std::memory_order_release);
    s.registry[target.get()].insert(this);
}

XJ_KBZeroingWeakRef::~XJ_KBZeroingWeakRef() {
    CleanupBlock released;
    {
        WeakRefState& s = state();
        std::lock_guard guard(s.mutex);
        // Also while the target's death sequence runs (zeroed but still listed): a cleanup that
        // destroys another reference of the same target must take it out of the live set, so
        // that the sequence does not call into a destroyed reference.
        if (_registeredWith) {
            auto entry = s.registry.find(_registeredWith);
            if (entry != s.registry.end()) {
                entry->second.erase(this);
                if (entry->second.empty()) s.registry.erase(entry);
            }
            _registeredWith = nullptr;
        }
        _target = nullptr;
        _weakTarget.reset();
        released = std::move(_cleanupBlock);
    }
    // The callable may own objects whose destruction needs the mutex or other locks.
}

std::shared_ptr<XJObject> XJ_KBZeroingWeakRef::target() const {
    std::lock_guard guard(state().mutex);
    if (!_target) return nullptr;
    // Between the last release and the death sequence the pointer is still set but the control
    // block refuses new shares: the caller then reads null, never a dying object.
    return _weakTarget.lock();
}

void XJ_KBZeroingWeakRef::setCleanupBlock(CleanupBlock block) {
    CleanupBlock previous;
    {
        std::lock_guard guard(state().mutex);
        previous = std::exchange(_cleanupBlock, std::move(block));
    }
}

std::string XJ_KBZeroingWeakRef::description() const {
    const std::shared_ptr<XJObject> current = target();
    return stringWithFormat("<XJ_KBZeroingWeakRef: %p -> %s>", static_cast<const void*>(this),
                            current ? current->description().c_str() : "(null)");
}

std::size_t XJ_KBZeroingWeakRef::_registeredTargetCount() {
    std::lock_guard guard(state().mutex);
    return state().registry.size();
}

void XJ_KBZeroingWeakRef::_zeroTarget() {
    _target = nullptr;
    _weakTarget.reset();
}

void XJ_KBZeroingWeakRef::_executeCleanupBlockWithTarget(XJObject* target) {
    if (!_cleanupBlock) return;
    // Taken out before the call so that it runs at most once, even if the callable reaches this
    // reference again.
    CleanupBlock block = std::move(_cleanupBlock);
    _cleanupBlock = nullptr;
    block(target);
}

void XJ_KBZeroingWeakRef::_targetDied(XJObject* target) {
    WeakRefState& s = state();
    std::lock_guard guard(s.mutex);
    auto entry = s.registry.find(target);
    if (entry == s.registry.end()) return;
    const std::vector<XJ_KBZeroingWeakRef*> snapshot(entry->second.begin(), entry->second.end());
    for (XJ_KBZeroingWeakRef* ref : snapshot) ref->_zeroTarget();
    for (XJ_KBZeroingWeakRef* ref : snapshot) {
        // Looked up again each time: a cleanup may destroy references of this target (which
        // leave the set) or touch other targets (which may rehash the registry).
        entry = s.registry.find(target);
        if (entry == s.registry.end()) break;
        if (entry->second.count(ref) == 0) continue;
        ref->_executeCleanupBlockWithTarget(target);
    }
    entry = s.registry.find(target);
    if (entry == s.registry.end()) return;
    for (XJ_KBZeroingWeakRef* ref : entry->second) ref->_registeredWith = nullptr;
    s.registry.erase(entry);
}

}  // namespace vitrine
