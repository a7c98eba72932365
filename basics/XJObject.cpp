#include "basics/XJObject.h"

#include <cxxabi.h>

#include <cstdlib>
#include <memory>
#include <typeinfo>

#include "basics/Log.h"
#include "external/KBZeroingWeakRef/Source/XJ_KBZeroingWeakRef.h"

namespace vitrine {

XJObject::~XJObject() {
    if (weaklyReferenced.load(std::memory_order_acquire)) XJ_KBZeroingWeakRef::_targetDied(this);
}

std::string XJObject::description() const {
    const char* mangled = typeid(*this).name();
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> demangled(
        abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
    return stringWithFormat("<%s: %p>", status == 0 && demangled ? demangled.get() : mangled,
                            static_cast<const void*>(this));
}

}  // namespace vitrine
