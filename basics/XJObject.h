#pragma once

#include <atomic>
#include <string>

namespace vitrine {

class XJ_KBZeroingWeakRef;

// The library's root object type. It gives every object three things:
//   - description(): a one-line text for logs ("<TypeName: 0x...>" unless overridden);
//   - isEqual(): value equality for the locked collections (identity unless overridden);
//   - the ability to report its own destruction, which is what lets an XJ_KBZeroingWeakRef
//     refer to it. Only objects of this type (owned by std::shared_ptr) can be weakly held that
//     way; any other type is refused at compile time.
//
// How destruction is reported: creating the first zeroing weak reference to an object marks it
// (one atomic flag, the only per-object cost). The destructor of a marked object runs the
// weak-reference death sequence: every reference is zeroed first, then each cleanup callable
// runs once. Readers never see a dying object because XJ_KBZeroingWeakRef::target() promotes
// through the std::shared_ptr control block, which stops handing out shares at the moment the
// last owner lets go, before any destructor runs.
//
// Interfaces that may be implemented together by one class (delegate protocols) should derive
// from XJObject virtually, so the object has one root.
//
// Thread safety: distinct objects are independent; description() and isEqual() are as safe as the
// overriding class makes them; destruction may race with weak-reference reads on other threads.
class XJObject {
public:
    XJObject() = default;
    // A copy is a new object: it has no weak references of its own yet.
    XJObject(const XJObject&) noexcept {}
    XJObject& operator=(const XJObject&) noexcept { return *this; }
    virtual ~XJObject();

    virtual std::string description() const;
    virtual bool isEqual(const XJObject& other) const { return this == &other; }

private:
    friend class XJ_KBZeroingWeakRef;
    std::atomic<bool> weaklyReferenced{false};
};

}  // namespace vitrine
