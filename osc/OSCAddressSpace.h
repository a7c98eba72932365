#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "basics/NotificationCenter.h"
#include "basics/SpinLock.h"
#include "osc/OSCNode.h"

namespace vitrine {

// Learns about renamed nodes and is handed the answers nodes give to queries, so that it can
// send them back (typically through OSCManager::transmitReplyOrError). Both are called without
// asking, on the thread that dispatched the message or changed the tree. Held weakly.
class OSCAddressSpaceDelegate {
public:
    virtual ~OSCAddressSpaceDelegate() = default;

    virtual void nodeRenamed(const std::shared_ptr<OSCNode>& node) = 0;
    virtual void queryResponseNeedsToBeSent(const std::shared_ptr<OSCMessage>& message) = 0;
};

// The process-wide root of the tree of OSC nodes: a nameless directory node that answers queries
// automatically. Applications hand it the messages they receive (a receiving port's delegate
// calling dispatchMessage) and it passes each to the node its address names, creating missing
// nodes on the way; nothing reaches it otherwise.
//
// The one instance is mainAddressSpace(), made on its first call and never destroyed; nodes made
// before it exists record no address space. Other instances may be made (tests do), but nodes
// always record and answer through the process-wide one.
//
// Thread safety: as OSCNode. Dispatch runs on the caller's thread. Placing and renaming are
// sequences of node operations without an overall lock: callers that reshape the tree from
// several threads serialise that themselves. Set the delegate before messages are dispatched.
class OSCAddressSpace : public OSCNode {
public:
    // Made exactly once, even when several threads ask first at the same moment.
    static std::shared_ptr<OSCAddressSpace> mainAddressSpace();
    // The process-wide instance if it exists yet; never creates it.
    static std::shared_ptr<OSCAddressSpace> _existingMainAddressSpace();
    // Posts "OSCAddressSpaceUpdateMenus" to the default notification centre, with no sender.
    static void refreshMenu();

    OSCAddressSpace();

    // "\n********\tOSC Address Space\t********\n", then each first-level subtree's debug text
    // followed by a newline.
    std::string description() const;

    std::shared_ptr<OSCAddressSpaceDelegate> delegate() const;
    void setDelegate(const std::weak_ptr<OSCAddressSpaceDelegate>& newDelegate);

    // To the node named by the message's address, taken literally (no wildcard expansion) and
    // created if missing; "/" is the address space itself. A message without an address logs
    // "\terr: p was nil %s" and goes nowhere.
    void dispatchMessage(const std::shared_ptr<OSCMessage>& message) override;

    // Places, replaces or deletes the node at an address. With a node: it is detached from its
    // parent and renamed to the last component; if the address already has a node, that node
    // stays and takes this one's delegates, otherwise this one is added under the parent, which
    // is created when missing and createIfMissing is set. With null: the node at the address is
    // deleted (its delegates are told nodeDeleted).
    void setNode(const std::shared_ptr<OSCNode>& node, const std::optional<std::string>& forAddress,
                 bool createIfMissing = true);
    void setNode(const std::shared_ptr<OSCNode>& node,
                 const std::optional<std::vector<std::string>>& forAddressArray,
                 bool createIfMissing = true);

    // Moves the node at one address, with its subtree, to the other. With no node at either, the
    // second address is created.
    void renameAddress(const std::optional<std::string>& before,
                       const std::optional<std::string>& to);
    void renameAddressArray(const std::optional<std::vector<std::string>>& before,
                            const std::optional<std::vector<std::string>>& toArray);

    using OSCNode::addDelegate;
    using OSCNode::removeDelegate;
    // Adds the delegate to the node at the path, creating it. Only node delegates are accepted:
    // anything else logs "\terr: tried to add a non-conforming delegate: %s"; null is ignored.
    void addDelegate(const std::shared_ptr<XJObject>& delegate,
                     const std::optional<std::string>& forPath);
    void removeDelegate(const std::shared_ptr<OSCNodeDelegate>& delegate,
                        const std::optional<std::string>& forPath);

    // Called by nodes whose full name changed; passed on to the delegate.
    void nodeRenamed(const std::shared_ptr<OSCNode>& node);
    // Called by nodes with their answers; passed to the delegate, dropped without one.
    void _dispatchReplyOrError(const std::shared_ptr<OSCMessage>& message);
    // Deletes the address space: from then on it dispatches, places and renames nothing.
    void applicationWillTerminateNotification(const Notification& notification);

private:
    mutable SpinLock delegateLock;
    std::weak_ptr<OSCAddressSpaceDelegate> spaceDelegate;
};

}  // namespace vitrine
