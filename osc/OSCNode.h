#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "basics/MutLockArray.h"
#include "basics/MutNRLockArray.h"
#include "basics/SpinLock.h"
#include "basics/XJObject.h"
#include "osc/OSCMessage.h"
#include "osc/OSCValue.h"

namespace vitrine {

class OSCAddressSpace;
class OSCNode;
class OSCPOSIXRegExpHolder;

// What a node's type says it holds; the namespace listing only lists the children of
// directories, 2D points and colours.
enum OSCNodeType : int32_t {
    OSCNodeTypeUnknown = 0,
    OSCNodeTypeDirectory = 1,
    OSCNodeTypeNumber = 2,
    OSCNodeType2DPoint = 3,
    OSCNodeTypeColor = 4,
    OSCNodeTypeString = 5,
};

// Told about every ordinary message dispatched to a node, its renames and its deletion. Held
// weakly by the node: a delegate destroyed elsewhere (on any thread) simply stops being called.
// The node calls all three without asking, so all three are required.
// Thread safety: node() runs on the dispatching thread with no lock of the node held.
// nodeNameChanged() and nodeDeleted() run while the node's delegate list is locked: they may read
// anything, but must not add or remove delegates of that node. nodeDeleted() may come from the
// node's destructor, where the node is no longer held by any shared pointer.
class OSCNodeDelegate : public virtual XJObject {
public:
    virtual void node(OSCNode& node, const std::shared_ptr<OSCMessage>& receivedOSCMessage) = 0;
    virtual void nodeNameChanged(OSCNode& node) = 0;
    virtual void nodeDeleted(OSCNode& node) = 0;
};

// Answers queries for a node instead of (or before) its automatic answers. A null answer is not
// an error: the node then answers automatically if its autoQueryReply is set. Called on the
// dispatching thread with no lock of the node held. Held weakly.
class OSCNodeQueryDelegate {
public:
    virtual ~OSCNodeQueryDelegate() = default;

    virtual std::optional<std::vector<std::string>> namespaceArrayForNode(OSCNode& node) = 0;
    virtual std::optional<std::string> docStringForNode(OSCNode& node) = 0;
    virtual std::optional<std::string> typeSignatureForNode(OSCNode& node) = 0;
    virtual std::shared_ptr<OSCValue> currentValueForNode(OSCNode& node) = 0;
    virtual std::optional<std::string> returnTypeStringForNode(OSCNode& node) = 0;
};

// One node of the tree of OSC addresses: a name (one address component), children kept in
// case-insensitive name order, a parent, a type, the last ordinary message addressed to it and
// the delegates that every such message is passed to. The root of the tree is the address
// space, itself a node; a node's fullName is the chain of names from below the root down to it.
//
// A node is created detached, placed with its parent's addLocalNode() (which computes its
// fullName and tells its delegates and the address space), may be moved and renamed, removed
// (detached again, keeping its last fullName) or deleted (prepareToBeDeleted(): delegates told
// and dropped; the node then refuses changes and dispatch but can still be read and searched).
//
// Creating nodes from addresses (findNodeForAddress() with createIfMissing) refuses addresses of
// more than kMaxCreatedDepth components: addresses come from the network, and destroying,
// renaming and describing a subtree go down it recursively.
//
// A one-component address creates a node of type unknown (0), like the last component of a
// longer address: only the components above the last one become directories, whatever the
// depth. Being a directory is what lets a node's children be listed to a peer, and that should
// not depend on how deep the node sits.
//
// Thread safety: every operation may be called from any thread. The children list has its own
// read/write lock (searches, matching and the debug text read; insertion with its sort and
// removal write); names and the parent link are guarded by nameLock, the last message by its own
// lock, each held only for single reads and writes (and, for a name, one match against a
// compiled expression). Growing or reshaping the same part of the tree from several threads at
// once is not atomic (two threads creating the same missing name may create two children of that
// name): callers serialise that themselves.
class OSCNode : public std::enable_shared_from_this<OSCNode> {
public:
    using Children = MutLockArray<OSCNode>;
    using Delegates = MutNRLockArray<OSCNodeDelegate>;

    static constexpr size_t kMaxCreatedDepth = 128;

    // A null name logs "\t\terr: -[OSCNode initWithName:] - BAIL" and gives no node. The name is
    // trimmed of one slash at each end.
    static std::shared_ptr<OSCNode> createWithName(const std::optional<std::string>& name);
    // A node without a name.
    OSCNode();
    explicit OSCNode(std::string name);
    virtual ~OSCNode();
    OSCNode(const OSCNode&) = delete;
    OSCNode& operator=(const OSCNode&) = delete;

    // "<OSCNode name>".
    std::string description() const;
    // Appends "<name>" after depth tabs, then the children in braces, one per line, each a level
    // deeper.
    void _logDescriptionToString(std::string& text, int32_t tabDepth) const;
    // Negative, zero or positive as this node sorts before, with or after the other: a nameless
    // node first, then case-insensitive name order.
    int nodeNameCompare(const OSCNode* other) const;
    // Same (case-sensitive) name; false for null, for a deleted node, true for the node itself.
    bool isEqualTo(const OSCNode* other) const;

    // ---- Names and links ----
    std::optional<std::string> nodeName() const;
    std::optional<std::string> fullName() const;
    // Not trimmed. Renaming a placed node renews the fullName of its whole subtree and tells
    // every delegate in it.
    void setNodeName(const std::optional<std::string>& name) { _setNodeName(name); }
    void _setNodeName(const std::optional<std::string>& name);
    std::shared_ptr<OSCNode> parentNode() const;
    void setParentNode(const std::shared_ptr<OSCNode>& parent);
    std::shared_ptr<Children> nodeContents() const;
    std::shared_ptr<OSCAddressSpace> addressSpace() const;
    void setAddressSpace(const std::shared_ptr<OSCAddressSpace>& space);
    int32_t nodeType() const { return type.load(std::memory_order_relaxed); }
    void setNodeType(int32_t newType) { type.store(newType, std::memory_order_relaxed); }
    bool hiddenInMenu() const { return hidden.load(std::memory_order_relaxed); }
    void setHiddenInMenu(bool flag) { hidden.store(flag, std::memory_order_relaxed); }
    bool autoQueryReply() const { return autoReply.load(std::memory_order_relaxed); }
    void setAutoQueryReply(bool flag) { autoReply.store(flag, std::memory_order_relaxed); }
    bool deleted() const { return isDeleted.load(std::memory_order_acquire); }
    std::shared_ptr<Delegates> delegateArray() const;

    // Ignored on a deleted node.
    void setLastReceivedMessage(const std::shared_ptr<OSCMessage>& message);
    // A copy of the last ordinary message; null when none or when the node is deleted.
    std::shared_ptr<OSCMessage> lastReceivedMessage() const;
    // The first value of the last ordinary message, or null.
    std::shared_ptr<OSCValue> lastReceivedValue() const;

    // ---- Tree ----
    // Neither checks for an existing child of the same name. Nothing on a deleted node.
    void addLocalNode(const std::shared_ptr<OSCNode>& node);
    void addLocalNodes(const std::vector<std::shared_ptr<OSCNode>>& nodes);
    // Detaches the node if it is a child of this one (by identity); anything else is left alone.
    void removeLocalNode(const std::shared_ptr<OSCNode>& node);
    // As removeLocalNode(), then deletes the node in any case.
    void deleteLocalNode(const std::shared_ptr<OSCNode>& node);
    // Deletes this node from its parent through the address space, by its fullName.
    void removeFromAddressSpace();

    std::shared_ptr<OSCNode> findLocalNodeNamed(const std::optional<std::string>& name,
                                                bool createIfMissing = false);
    // The children whose names the POSIX extended expression matches; null when none does.
    std::optional<std::vector<std::shared_ptr<OSCNode>>> findLocalNodesMatchingPOSIXRegex(
        const std::optional<std::string>& regex) const;
    void _addLocalNodesMatchingRegex(const std::optional<std::string>& regex,
                                     std::vector<std::shared_ptr<OSCNode>>* list) const;

    // The node at the address below this one, components taken literally. "/" and "" name this
    // node itself. With createIfMissing every missing node is created, those above the last
    // component as directories. Null when there is none.
    std::shared_ptr<OSCNode> findNodeForAddress(const std::optional<std::string>& address,
                                                bool createIfMissing = false);
    std::shared_ptr<OSCNode> findNodeForAddressArray(
        const std::optional<std::vector<std::string>>& components, bool createIfMissing = false);
    // Every node whose address below this one matches the pattern: a component holding a
    // wildcard character is matched as a POSIX extended expression against the names, others
    // literally. Grouped by parent, in tree order; null when none.
    std::optional<std::vector<std::shared_ptr<OSCNode>>> findNodesMatchingAddress(
        const std::optional<std::string>& address);
    std::optional<std::vector<std::shared_ptr<OSCNode>>> findNodesMatchingAddressArray(
        const std::optional<std::vector<std::string>>& components);

    // ---- Delegates and dispatch ----
    void addDelegate(const std::shared_ptr<OSCNodeDelegate>& delegate);
    void removeDelegate(const std::shared_ptr<OSCNodeDelegate>& delegate);
    // Takes the other node's delegates too and tells each of them this node's name.
    void addDelegatesFromNode(const std::shared_ptr<OSCNode>& node);
    // Renews the fullName of this node and its subtree and tells every delegate and the address
    // space.
    void informDelegatesOfNameChange();

    // Ordinary messages become lastReceivedMessage and go to the delegates; queries are answered
    // (through the query delegate, else automatically) and handed to the address space; replies
    // and errors are only logged. Nothing on a deleted node.
    virtual void dispatchMessage(const std::shared_ptr<OSCMessage>& message);

    // ---- Queries ----
    // A null delegate logs "**** ERR: query delegate doesn't support OSCNodeQueryDelegate, %s"
    // and leaves the node without one.
    void setQueryDelegate(const std::shared_ptr<OSCNodeQueryDelegate>& delegate);
    std::shared_ptr<OSCNodeQueryDelegate> queryDelegate() const;
    // The answer the node builds from its type, children and last message; null for unknown
    // query types.
    std::shared_ptr<OSCMessage> generateAutomaticResponseForQuery(
        const std::shared_ptr<OSCMessage>& query);

    // Tells the delegates nodeDeleted() and drops them, clears the query delegate and
    // autoQueryReply, and marks the node deleted. Children, parent and names stay.
    void prepareToBeDeleted();

protected:
    // The address space is a node that records no address space of its own.
    struct RootTag {};
    explicit OSCNode(RootTag);

private:
    void answerQuery(const std::shared_ptr<OSCMessage>& query);
    std::shared_ptr<OSCMessage> delegateAnswer(OSCNodeQueryDelegate& delegate,
                                               const std::shared_ptr<OSCMessage>& query);
    std::shared_ptr<Children> childrenCreatingIfMissing();
    std::shared_ptr<Delegates> delegatesCreatingIfMissing();
    std::shared_ptr<OSCNode> sharedSelf();
    std::shared_ptr<OSCNode> nodeForComponents(const std::vector<std::string>& components,
                                               bool createIfMissing);
    // Appends the children whose names the expression matches. The compiled expression is
    // fetched from the regex cache on first need and left in `expression` for further nodes
    // matched against the same component.
    void addChildrenMatching(const std::string& regex,
                             std::shared_ptr<OSCPOSIXRegExpHolder>& expression,
                             std::vector<std::shared_ptr<OSCNode>>& list) const;
    // Name tests made under nameLock, without copying the name out.
    bool hasName() const;
    bool nameIs(const std::string& wanted) const;
    bool nameMatches(const OSCPOSIXRegExpHolder& expression) const;

    std::weak_ptr<OSCAddressSpace> space;
    bool isRoot = false;
    std::atomic<bool> isDeleted{false};
    mutable SpinLock nameLock;
    std::optional<std::string> name;
    std::optional<std::string> full;
    std::weak_ptr<OSCNode> parent;
    // The two lazily made lists: their pointers are guarded by listsLock.
    mutable SpinLock listsLock;
    std::shared_ptr<Children> children;
    std::shared_ptr<Delegates> delegates;
    std::atomic<int32_t> type{OSCNodeTypeUnknown};
    std::atomic<bool> hidden{false};
    mutable SpinLock lastReceivedMessageLock;
    std::shared_ptr<OSCMessage> lastMessage;
    std::atomic<bool> autoReply{false};
    mutable SpinLock queryDelegateLock;
    std::weak_ptr<OSCNodeQueryDelegate> query;
};

}  // namespace vitrine
