#include "osc/OSCAddressSpace.h"

#include <atomic>
#include <mutex>

#include "basics/Log.h"
#include "osc/OSCStringAdditions.h"

namespace vitrine {

namespace {

std::once_flag mainOnce;
// Left alive at exit on purpose: nodes anywhere may still reach it from other threads while
// the process ends.
std::atomic<std::shared_ptr<OSCAddressSpace>*> mainInstance{nullptr};

std::optional<std::vector<std::string>> componentsOf(const std::optional<std::string>& address) {
    if (!address) return std::nullopt;
    return pathComponents(trimFirstAndLastSlashes(*address));
}

// Logs which of the two addresses of a rename is missing.
bool bothGiven(bool before, bool after, const char* operation) {
    if (!before) Log::write("\terr: before was nil %s", operation);
    if (before && !after) Log::write("\terr: after was nil %s", operation);
    return before && after;
}

}  // namespace

std::shared_ptr<OSCAddressSpace> OSCAddressSpace::mainAddressSpace() {
    std::call_once(mainOnce, [] {
        mainInstance.store(
            new std::shared_ptr<OSCAddressSpace>(std::make_shared<OSCAddressSpace>()),
            std::memory_order_release);
    });
    return *mainInstance.load(std::memory_order_acquire);
}

std::shared_ptr<OSCAddressSpace> OSCAddressSpace::_existingMainAddressSpace() {
    const auto* instance = mainInstance.load(std::memory_order_acquire);
    return instance ? *instance : nullptr;
}

void OSCAddressSpace::refreshMenu() {
    NotificationCenter::defaultCenter().postNotification("OSCAddressSpaceUpdateMenus");
}

OSCAddressSpace::OSCAddressSpace() : OSCNode(RootTag{}) {
    setNodeType(OSCNodeTypeDirectory);
    setAutoQueryReply(true);
}

std::string OSCAddressSpace::description() const {
    std::string text = "\n********\tOSC Address Space\t********\n";
    if (const auto list = nodeContents()) {
        auto reading = list->readLocked();
        for (const auto& child : list->array()) {
            child->_logDescriptionToString(text, 0);
            text += "\n";
        }
    }
    return text;
}

std::shared_ptr<OSCAddressSpaceDelegate> OSCAddressSpace::delegate() const {
    std::lock_guard guard(delegateLock);
    return spaceDelegate.lock();
}

void OSCAddressSpace::setDelegate(const std::weak_ptr<OSCAddressSpaceDelegate>& newDelegate) {
    std::lock_guard guard(delegateLock);
    spaceDelegate = newDelegate;
}

void OSCAddressSpace::dispatchMessage(const std::shared_ptr<OSCMessage>& message) {
    if (!message || deleted()) return;
    const auto node = findNodeForAddress(message->address(), true);
    if (!node) return;
    if (node.get() == this) {
        OSCNode::dispatchMessage(message);
    } else {
        node->dispatchMessage(message);
    }
}

void OSCAddressSpace::setNode(const std::shared_ptr<OSCNode>& node,
                              const std::optional<std::string>& forAddress, bool createIfMissing) {
    if (deleted()) return;
    setNode(node, componentsOf(forAddress), createIfMissing);
}

void OSCAddressSpace::setNode(const std::shared_ptr<OSCNode>& node,
                              const std::optional<std::vector<std::string>>& components,
                              bool createIfMissing) {
    if (deleted()) return;
    if (!components || components->empty()) {
        Log::write("\terr: a was %s in %s", components ? "(\n)" : "(null)",
                   "-[OSCAddressSpace setNode:forAddressArray:createIfMissing:]");
        return;
    }
    const std::string& last = components->back();
    if (node) {
        if (const auto oldParent = node->parentNode()) oldParent->removeLocalNode(node);
        node->_setNodeName(last);
    }
    const std::vector<std::string> parentPath(components->begin(), components->end() - 1);
    std::shared_ptr<OSCNode> parent = parentPath.empty()
                                          ? std::static_pointer_cast<OSCNode>(shared_from_this())
                                          : findNodeForAddressArray(parentPath);
    if (parent) {
        const auto existing = parent->findLocalNodeNamed(last);
        if (existing && !node) {
            parent->deleteLocalNode(existing);
        } else if (existing) {
            existing->addDelegatesFromNode(node);
        } else if (node) {
            parent->addLocalNode(node);
        }
        return;
    }
    if (!node) return;
    if (const auto made = findNodeForAddressArray(parentPath, createIfMissing)) {
        // The parent did not exist a moment ago, so it was made now, to hold this node.
        made->setNodeType(OSCNodeTypeDirectory);
        made->addLocalNode(node);
    }
}

void OSCAddressSpace::renameAddress(const std::optional<std::string>& before,
                                    const std::optional<std::string>& to) {
    if (deleted() ||
        !bothGiven(before.has_value(), to.has_value(), "-[OSCAddressSpace renameAddress:to:]")) {
        return;
    }
    renameAddressArray(componentsOf(before), componentsOf(to));
}

void OSCAddressSpace::renameAddressArray(const std::optional<std::vector<std::string>>& before,
                                         const std::optional<std::vector<std::string>>& after) {
    if (deleted() || !bothGiven(before.has_value(), after.has_value(),
                                "-[OSCAddressSpace renameAddressArray:toArray:]")) {
        return;
    }
    const auto moving = findNodeForAddressArray(before);
    const auto there = findNodeForAddressArray(after);
    if (moving) {
        setNode(moving, after, true);
    } else if (!there) {
        findNodeForAddressArray(after, true);
    }
}

void OSCAddressSpace::addDelegate(const std::shared_ptr<XJObject>& delegate,
                                  const std::optional<std::string>& forPath) {
    if (!delegate || !forPath || deleted()) return;
    const auto conforming = std::dynamic_pointer_cast<OSCNodeDelegate>(delegate);
    if (!conforming) {
        Log::write("\terr: tried to add a non-conforming delegate: %s",
                   "-[OSCAddressSpace addDelegate:forPath:]");
        return;
    }
    if (const auto node = findNodeForAddress(forPath, true)) node->addDelegate(conforming);
}

void OSCAddressSpace::removeDelegate(const std::shared_ptr<OSCNodeDelegate>& delegate,
                                     const std::optional<std::string>& forPath) {
    if (!delegate || !forPath || deleted()) return;
    if (const auto node = findNodeForAddress(forPath)) node->removeDelegate(delegate);
}

void OSCAddressSpace::nodeRenamed(const std::shared_ptr<OSCNode>& node) {
    if (deleted()) return;
    if (const auto listener = delegate()) listener->nodeRenamed(node);
}

void OSCAddressSpace::_dispatchReplyOrError(const std::shared_ptr<OSCMessage>& message) {
    if (const auto listener = delegate()) listener->queryResponseNeedsToBeSent(message);
}

void OSCAddressSpace::applicationWillTerminateNotification(const Notification& /*notification*/) {
    prepareToBeDeleted();
}

}  // namespace vitrine
