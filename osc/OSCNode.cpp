#include "osc/OSCNode.h"

#include <algorithm>
#include <mutex>

#include "basics/Log.h"
#include "osc/OSCAddressSpace.h"
#include "osc/OSCPOSIXRegExpHolder.h"
#include "osc/OSCStringAdditions.h"

namespace vitrine {

namespace {

const char* orNull(const std::optional<std::string>& text) {
    return text ? text->c_str() : "(null)";
}

// A list of components as the log lines show it: "(\n    a,\n    b\n)", or "(null)".
std::string listText(const std::optional<std::vector<std::string>>& list) {
    if (!list) return "(null)";
    std::string out = "(\n";
    for (size_t i = 0; i < list->size(); ++i) {
        out += "    " + (*list)[i] + (i + 1 < list->size() ? ",\n" : "\n");
    }
    return out + ")";
}

int compareIgnoringCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto lower = [](char c) {
            return static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        };
        if (lower(a[i]) != lower(b[i])) return lower(a[i]) < lower(b[i]) ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

const char* const kDescriptions[] = {
    "%s: OSC node of unknown type.  last received message is %s",
    ("%s: Directory-type OSC node- potentially contains subnodes.  this node does not have any "
     "other specific data type.  last received message is %s"),
    "%s: Number-type OSC node.  last received message is %s",
    "%s: 2D point-type OSC node, may contain subnodes.  last received message is %s",
    "%s: Color-type OSC node, may contain subnodes.  last received message is %s",
    "%s: String-type OSC node.  last received message is %s",
};
const char* const kTypeSignatures[] = {nullptr, nullptr, "f", "ff", "r", "s"};

// The live delegates of one dispatch, taken out of the node's list so that they are called with
// no lock held. Each thread keeps the lists it has used, emptied, for its next dispatches, so a
// dispatch allocates nothing once its thread is warm; a delegate that dispatches again from its
// callback takes another list. The shares are dropped, and so a delegate whose last share this is
// dies, when the dispatch ends, as they would with a fresh list.
class SpareDelegateList {
public:
    SpareDelegateList() {
        auto* spares = pool();
        if (spares && !spares->empty()) {
            objects = std::move(spares->back());
            spares->pop_back();
        }
    }
    ~SpareDelegateList() {
        objects.clear();
        if (objects.capacity() == 0 || objects.capacity() > kKeptCapacity) return;
        auto* spares = pool();
        if (spares && spares->size() < kKeptLists) spares->push_back(std::move(objects));
    }
    SpareDelegateList(const SpareDelegateList&) = delete;
    SpareDelegateList& operator=(const SpareDelegateList&) = delete;

    OSCNode::Delegates::Objects objects;

private:
    // Enough for the nesting of delegates that dispatch in turn; lists grown for a node with very
    // many delegates are not kept.
    static constexpr size_t kKeptLists = 8;
    static constexpr size_t kKeptCapacity = 64;
    struct Pool {
        std::vector<OSCNode::Delegates::Objects> lists;
        ~Pool() { gone = true; }
    };
    // Null once the thread's pool is destroyed: a dispatch from a later destructor of the exiting
    // thread then uses a list of its own. The flag is trivially destructible, so it can still be
    // read then.
    static std::vector<OSCNode::Delegates::Objects>* pool() {
        if (gone) return nullptr;
        thread_local Pool spares;
        return &spares.lists;
    }
    static thread_local bool gone;
};

thread_local bool SpareDelegateList::gone = false;

bool listsChildren(int32_t type) {
    return type == OSCNodeTypeDirectory || type == OSCNodeType2DPoint || type == OSCNodeTypeColor;
}

}  // namespace

std::shared_ptr<OSCNode> OSCNode::createWithName(const std::optional<std::string>& name) {
    if (!name) {
        Log::write("\t\terr: %s - BAIL", "-[OSCNode initWithName:]");
        return nullptr;
    }
    return std::make_shared<OSCNode>(trimFirstAndLastSlashes(*name));
}

OSCNode::OSCNode() : space(OSCAddressSpace::_existingMainAddressSpace()) {}

OSCNode::OSCNode(std::string newName)
    : space(OSCAddressSpace::_existingMainAddressSpace()), name(std::move(newName)) {}

OSCNode::OSCNode(RootTag) : isRoot(true) {}

OSCNode::~OSCNode() {
    if (!deleted()) prepareToBeDeleted();
}

std::shared_ptr<OSCNode> OSCNode::sharedSelf() {
    return weak_from_this().lock();
}

// ---- Identity and text ----

std::string OSCNode::description() const {
    return stringWithFormat("<OSCNode %s>", orNull(nodeName()));
}

void OSCNode::_logDescriptionToString(std::string& text, int32_t tabDepth) const {
    const std::string tabs(static_cast<size_t>(std::max(tabDepth, 0)), '\t');
    text += tabs + "<" + orNull(nodeName()) + ">";
    const auto list = nodeContents();
    if (!list) return;
    auto reading = list->readLocked();
    if (list->array().empty()) return;
    text += "\t{";
    for (const auto& child : list->array()) {
        text += "\n";
        child->_logDescriptionToString(text, tabDepth + 1);
    }
    text += "\n" + tabs + "}";
}

int OSCNode::nodeNameCompare(const OSCNode* other) const {
    const auto mine = nodeName();
    if (!mine) return -1;
    if (!other) return 1;
    const auto theirs = other->nodeName();
    if (!theirs) return 0;
    return compareIgnoringCase(*mine, *theirs);
}

bool OSCNode::isEqualTo(const OSCNode* other) const {
    if (!other || deleted()) return false;
    if (other == this) return true;
    return nodeName() == other->nodeName();
}

// ---- Names and links ----

std::optional<std::string> OSCNode::nodeName() const {
    std::lock_guard guard(nameLock);
    return name;
}

std::optional<std::string> OSCNode::fullName() const {
    std::lock_guard guard(nameLock);
    return full;
}

void OSCNode::_setNodeName(const std::optional<std::string>& newName) {
    {
        std::lock_guard guard(nameLock);
        if (newName && newName == name) return;
        name = newName;
    }
    if (parentNode()) informDelegatesOfNameChange();
}

std::shared_ptr<OSCNode> OSCNode::parentNode() const {
    std::lock_guard guard(nameLock);
    return parent.lock();
}

void OSCNode::setParentNode(const std::shared_ptr<OSCNode>& newParent) {
    std::shared_ptr<OSCNode> old;
    {
        std::lock_guard guard(nameLock);
        old = parent.lock();
        parent = newParent;
    }
    if (newParent && newParent != old) informDelegatesOfNameChange();
}

std::shared_ptr<OSCNode::Children> OSCNode::nodeContents() const {
    std::lock_guard guard(listsLock);
    return children;
}

std::shared_ptr<OSCNode::Delegates> OSCNode::delegateArray() const {
    std::lock_guard guard(listsLock);
    return delegates;
}

std::shared_ptr<OSCNode::Children> OSCNode::childrenCreatingIfMissing() {
    std::lock_guard guard(listsLock);
    if (!children) children = std::make_shared<Children>();
    return children;
}

std::shared_ptr<OSCNode::Delegates> OSCNode::delegatesCreatingIfMissing() {
    std::lock_guard guard(listsLock);
    if (!delegates) {
        delegates = std::make_shared<Delegates>();
        delegates->setZwrFlag(true);
    }
    return delegates;
}

std::shared_ptr<OSCAddressSpace> OSCNode::addressSpace() const {
    std::lock_guard guard(nameLock);
    return space.lock();
}

void OSCNode::setAddressSpace(const std::shared_ptr<OSCAddressSpace>& newSpace) {
    std::lock_guard guard(nameLock);
    space = newSpace;
}

void OSCNode::setLastReceivedMessage(const std::shared_ptr<OSCMessage>& message) {
    if (deleted()) return;
    std::shared_ptr<OSCMessage> previous;
    std::lock_guard guard(lastReceivedMessageLock);
    previous = std::exchange(lastMessage, message);
}

std::shared_ptr<OSCMessage> OSCNode::lastReceivedMessage() const {
    if (deleted()) return nullptr;
    std::shared_ptr<OSCMessage> stored;
    {
        std::lock_guard guard(lastReceivedMessageLock);
        stored = lastMessage;
    }
    return stored ? stored->copy() : nullptr;
}

std::shared_ptr<OSCValue> OSCNode::lastReceivedValue() const {
    std::lock_guard guard(lastReceivedMessageLock);
    return lastMessage ? lastMessage->value() : nullptr;
}

// ---- Tree ----

void OSCNode::addLocalNode(const std::shared_ptr<OSCNode>& node) {
    if (!node) return;
    addLocalNodes({node});
}

void OSCNode::addLocalNodes(const std::vector<std::shared_ptr<OSCNode>>& nodes) {
    if (deleted() || nodes.empty()) return;
    const auto self = sharedSelf();
    const auto list = childrenCreatingIfMissing();
    {
        auto writing = list->writeLocked();
        auto& array = list->array();
        for (const auto& node : nodes) {
            if (node) array.push_back(node);
        }
        std::stable_sort(array.begin(), array.end(), [](const auto& a, const auto& b) {
            return a->nodeNameCompare(b.get()) < 0;
        });
    }
    for (const auto& node : nodes) {
        if (node) node->setParentNode(self);
    }
}

void OSCNode::removeLocalNode(const std::shared_ptr<OSCNode>& node) {
    if (!node || deleted()) return;
    const auto list = nodeContents();
    if (!list) return;
    bool removed = false;
    {
        auto writing = list->writeLocked();
        auto& array = list->array();
        const auto found = std::find(array.begin(), array.end(), node);
        if (found != array.end()) {
            array.erase(found);
            removed = true;
        }
    }
    if (removed) node->setParentNode(nullptr);
}

void OSCNode::deleteLocalNode(const std::shared_ptr<OSCNode>& node) {
    if (!node || deleted()) return;
    removeLocalNode(node);
    node->prepareToBeDeleted();
}

void OSCNode::removeFromAddressSpace() {
    if (deleted()) return;
    const auto root = addressSpace();
    const auto address = fullName();
    if (!root || !address) return;
    root->setNode(nullptr, address);
}

std::shared_ptr<OSCNode> OSCNode::findLocalNodeNamed(const std::optional<std::string>& wanted,
                                                     bool createIfMissing) {
    if (!wanted) return nullptr;
    std::shared_ptr<OSCNode> found;
    if (const auto list = nodeContents()) {
        auto reading = list->readLocked();
        for (const auto& child : list->array()) {
            if (child->nameIs(*wanted)) {
                found = child;
                break;
            }
        }
    }
    if (!found && createIfMissing) {
        found = createWithName(wanted);
        addLocalNode(found);
    }
    return found;
}

std::optional<std::vector<std::shared_ptr<OSCNode>>> OSCNode::findLocalNodesMatchingPOSIXRegex(
    const std::optional<std::string>& regex) const {
    std::vector<std::shared_ptr<OSCNode>> found;
    _addLocalNodesMatchingRegex(regex, &found);
    if (found.empty()) return std::nullopt;
    return found;
}

void OSCNode::_addLocalNodesMatchingRegex(const std::optional<std::string>& regex,
                                          std::vector<std::shared_ptr<OSCNode>>* list) const {
    if (!regex || !list) return;
    std::shared_ptr<OSCPOSIXRegExpHolder> expression;
    addChildrenMatching(*regex, expression, *list);
}

void OSCNode::addChildrenMatching(const std::string& regex,
                                  std::shared_ptr<OSCPOSIXRegExpHolder>& expression,
                                  std::vector<std::shared_ptr<OSCNode>>& list) const {
    const auto mine = nodeContents();
    if (!mine) return;
    auto reading = mine->readLocked();
    const auto& array = mine->array();
    // Room for every child at once rather than growth by doubling; a pattern usually names most
    // of a directory's children, and the list lives only as long as one dispatch.
    if (list.capacity() - list.size() < array.size()) {
        list.reserve(std::max(list.size() + array.size(), 2 * list.capacity()));
    }
    for (const auto& child : array) {
        // An expression that compiles is looked up once and then kept for every further child
        // (of this node and of the others at the same level); one that does not is asked for
        // again for each named child, and so refused and logged once per child, as matching each
        // name through the cache would.
        if (!expression) {
            if (!child->hasName()) continue;
            expression = cachedPOSIXRegExp(regex);
            if (!expression) continue;
        }
        if (child->nameMatches(*expression)) list.push_back(child);
    }
}

bool OSCNode::hasName() const {
    std::lock_guard guard(nameLock);
    return name.has_value();
}

bool OSCNode::nameIs(const std::string& wanted) const {
    std::lock_guard guard(nameLock);
    return name && *name == wanted;
}

bool OSCNode::nameMatches(const OSCPOSIXRegExpHolder& expression) const {
    // The name is matched where it lies, under its lock: the C matcher calls back into nothing of
    // ours, and a rename waits for one match at most.
    std::lock_guard guard(nameLock);
    return name && expression.evalAgainstString(*name);
}

std::shared_ptr<OSCNode> OSCNode::findNodeForAddress(const std::optional<std::string>& address,
                                                     bool createIfMissing) {
    if (!address) {
        Log::write("\terr: p was nil %s", "-[OSCNode findNodeForAddress:createIfMissing:]");
        return nullptr;
    }
    const std::string trimmed = trimFirstAndLastSlashes(*address);
    auto components = pathComponents(trimmed);
    if (trimmed.empty() || components.empty()) return sharedSelf();
    return nodeForComponents(components, createIfMissing);
}

std::shared_ptr<OSCNode> OSCNode::findNodeForAddressArray(
    const std::optional<std::vector<std::string>>& components, bool createIfMissing) {
    if (!components || components->empty()) {
        Log::write("\terr: a was %s in %s", listText(components).c_str(),
                   "-[OSCNode findNodeForAddressArray:createIfMissing:]");
        return nullptr;
    }
    return nodeForComponents(*components, createIfMissing);
}

std::shared_ptr<OSCNode> OSCNode::nodeForComponents(const std::vector<std::string>& components,
                                                    bool createIfMissing) {
    if (createIfMissing && components.size() > kMaxCreatedDepth) {
        // Addresses come from the network; a chain this deep would make every later walk of
        // the subtree recurse as deep.
        Log::write("\terr: address of %zu components is deeper than %zu, nothing created %s",
                   components.size(), kMaxCreatedDepth,
                   "-[OSCNode findNodeForAddressArray:createIfMissing:]");
        createIfMissing = false;
    }
    std::shared_ptr<OSCNode> node = sharedSelf();
    for (size_t i = 0; i < components.size() && node; ++i) {
        auto next = node->findLocalNodeNamed(components[i]);
        if (!next && createIfMissing) {
            next = createWithName(components[i]);
            if (i + 1 < components.size()) next->setNodeType(OSCNodeTypeDirectory);
            node->addLocalNode(next);
        }
        node = std::move(next);
    }
    return node;
}

std::optional<std::vector<std::shared_ptr<OSCNode>>> OSCNode::findNodesMatchingAddress(
    const std::optional<std::string>& address) {
    if (!address) {
        Log::write("\terr: a was nil %s", "-[OSCNode findNodesMatchingAddress:]");
        return std::nullopt;
    }
    return findNodesMatchingAddressArray(pathComponents(trimFirstAndLastSlashes(*address)));
}

std::optional<std::vector<std::shared_ptr<OSCNode>>> OSCNode::findNodesMatchingAddressArray(
    const std::optional<std::vector<std::string>>& components) {
    if (!components || components->empty()) {
        Log::write("\terr: a was %s in %s", listText(components).c_str(),
                   "-[OSCNode findNodesMatchingAddressArray:]");
        return std::nullopt;
    }
    std::vector<std::shared_ptr<OSCNode>> level{sharedSelf()};
    // The two lists trade places at each level, so a deeper pattern reuses what the levels above
    // it allocated.
    std::vector<std::shared_ptr<OSCNode>> next;
    for (const std::string& component : *components) {
        next.clear();
        if (!containsOSCWildCard(component)) {
            next.reserve(level.size());
            for (const auto& node : level) {
                if (auto child = node->findLocalNodeNamed(component)) next.push_back(child);
            }
        } else {
            std::shared_ptr<OSCPOSIXRegExpHolder> expression;
            for (const auto& node : level) node->addChildrenMatching(component, expression, next);
        }
        if (next.empty()) return std::nullopt;
        level.swap(next);
    }
    return level;
}

// ---- Delegates and dispatch ----

void OSCNode::addDelegate(const std::shared_ptr<OSCNodeDelegate>& delegate) {
    if (!delegate) return;
    const auto list = delegatesCreatingIfMissing();
    auto writing = list->writeLocked();
    if (!list->containsIdenticalPtr(delegate.get())) list->addObject(delegate);
}

void OSCNode::removeDelegate(const std::shared_ptr<OSCNodeDelegate>& delegate) {
    if (!delegate) return;
    const auto list = delegateArray();
    if (!list) return;
    list->lockRemoveIdenticalPtr(delegate.get());
}

void OSCNode::addDelegatesFromNode(const std::shared_ptr<OSCNode>& node) {
    if (!node) return;
    const auto theirs = node->delegateArray();
    if (!theirs) return;
    const auto taken = theirs->lockCreateArrayCopyFromObjects();
    const auto mine = delegatesCreatingIfMissing();
    for (const auto& delegate : taken) {
        auto writing = mine->writeLocked();
        if (!mine->containsIdenticalPtr(delegate.get())) mine->addObject(delegate);
    }
    for (const auto& delegate : taken) delegate->nodeNameChanged(*this);
}

void OSCNode::informDelegatesOfNameChange() {
    const auto above = parentNode();
    const auto aboveName = above ? above->fullName() : std::nullopt;
    {
        std::lock_guard guard(nameLock);
        full.reset();
        if (above && above->isRoot) {
            full = "/" + name.value_or("(null)");
        } else if (above) {
            full = aboveName.value_or("(null)") + "/" + name.value_or("(null)");
        }
    }
    if (const auto list = delegateArray()) {
        // Declared before the guard so that a delegate whose last share this is dies after the
        // list is unlocked.
        Delegates::Objects live;
        auto reading = list->readLocked();
        live = list->createArrayCopyFromObjects();
        for (const auto& delegate : live) delegate->nodeNameChanged(*this);
    }
    if (const auto list = nodeContents()) {
        auto reading = list->readLocked();
        for (const auto& child : list->array()) child->informDelegatesOfNameChange();
    }
    if (const auto root = addressSpace()) {
        if (const auto self = sharedSelf()) root->nodeRenamed(self);
    }
}

void OSCNode::dispatchMessage(const std::shared_ptr<OSCMessage>& message) {
    if (!message || deleted()) return;
    switch (message->messageType()) {
        case OSCMessageTypeUnknown:
        case OSCMessageTypeControl: {
            setLastReceivedMessage(message);
            if (const auto list = delegateArray()) {
                SpareDelegateList live;
                list->lockAppendObjectsTo(live.objects);
                for (const auto& delegate : live.objects) delegate->node(*this, message);
            }
            break;
        }
        case OSCMessageTypeQuery:
            answerQuery(message);
            break;
        case OSCMessageTypeReply:
            Log::write("\t\treceived reply %s %s", message->description().c_str(),
                       "-[OSCNode dispatchMessage:]");
            break;
        case OSCMessageTypeError:
            Log::write("\t\treceived error %s %s", message->description().c_str(),
                       "-[OSCNode dispatchMessage:]");
            break;
        default:
            break;
    }
}

// ---- Queries ----

void OSCNode::setQueryDelegate(const std::shared_ptr<OSCNodeQueryDelegate>& delegate) {
    {
        std::lock_guard guard(queryDelegateLock);
        query = delegate;
    }
    if (!delegate) {
        Log::write("**** ERR: query delegate doesn't support OSCNodeQueryDelegate, %s",
                   "-[OSCNode setQueryDelegate:]");
    }
}

std::shared_ptr<OSCNodeQueryDelegate> OSCNode::queryDelegate() const {
    std::lock_guard guard(queryDelegateLock);
    return query.lock();
}

std::shared_ptr<OSCMessage> OSCNode::delegateAnswer(OSCNodeQueryDelegate& delegate,
                                                    const std::shared_ptr<OSCMessage>& asked) {
    const auto replyWith = [&](const auto& append) {
        auto reply = OSCMessage::createReplyForMessage(asked);
        if (reply) append(*reply);
        return reply;
    };
    switch (asked->queryType()) {
        case OSCQueryTypeNamespaceExploration:
            if (const auto names = delegate.namespaceArrayForNode(*this)) {
                return replyWith([&](OSCMessage& reply) {
                    for (const auto& entry : *names) reply.addString(entry);
                });
            }
            return nullptr;
        case OSCQueryTypeDocumentation:
        case OSCQueryTypeTypeSignature:
        case OSCQueryTypeReturnTypeString: {
            const auto text = asked->queryType() == OSCQueryTypeDocumentation
                                  ? delegate.docStringForNode(*this)
                              : asked->queryType() == OSCQueryTypeTypeSignature
                                  ? delegate.typeSignatureForNode(*this)
                                  : delegate.returnTypeStringForNode(*this);
            if (!text) return nullptr;
            return replyWith([&](OSCMessage& reply) { reply.addString(text); });
        }
        case OSCQueryTypeCurrentValue:
            if (const auto value = delegate.currentValueForNode(*this)) {
                return replyWith([&](OSCMessage& reply) { reply.addValue(value); });
            }
            return nullptr;
        default:
            return nullptr;
    }
}

void OSCNode::answerQuery(const std::shared_ptr<OSCMessage>& asked) {
    std::shared_ptr<OSCMessage> reply;
    const int32_t kind = asked->queryType();
    if (const auto delegate = queryDelegate(); delegate && kind >= 0 && kind <= 5) {
        if (kind == OSCQueryTypeUnknown) {
            Log::write("\t\tERR: %s", "-[OSCNode dispatchMessage:]");
        } else {
            reply = delegateAnswer(*delegate, asked);
        }
    }
    if (!reply && autoQueryReply()) reply = generateAutomaticResponseForQuery(asked);
    // Answers go to the process-wide address space, whichever one this node hangs from.
    if (reply) OSCAddressSpace::mainAddressSpace()->_dispatchReplyOrError(reply);
}

std::shared_ptr<OSCMessage> OSCNode::generateAutomaticResponseForQuery(
    const std::shared_ptr<OSCMessage>& asked) {
    if (!asked) return nullptr;
    const int32_t kind = nodeType();
    switch (asked->queryType()) {
        case OSCQueryTypeUnknown:
            Log::write("\t\tERR: INCOMPLETE %s", "-[OSCNode generateAutomaticResponseForQuery:]");
            return nullptr;
        case OSCQueryTypeNamespaceExploration: {
            std::vector<std::string> names;
            const auto list = nodeContents();
            if (listsChildren(kind) && list) {
                auto reading = list->readLocked();
                for (const auto& child : list->array()) {
                    if (!child->hiddenInMenu()) names.push_back(child->nodeName().value_or(""));
                }
            }
            auto reply = OSCMessage::createReplyForMessage(asked);
            if (reply) {
                for (const auto& entry : names) reply->addString(entry);
            }
            return reply;
        }
        case OSCQueryTypeDocumentation: {
            std::optional<std::string> text;
            if (const auto delegate = queryDelegate()) text = delegate->docStringForNode(*this);
            if (!text && autoQueryReply() && kind >= 0 && kind <= 5) {
                std::shared_ptr<OSCMessage> last;
                {
                    std::lock_guard guard(lastReceivedMessageLock);
                    last = lastMessage;
                }
                text = stringWithFormat(kDescriptions[kind], orNull(nodeName()),
                                        last ? last->description().c_str() : "(null)");
            }
            auto reply = OSCMessage::createReplyForMessage(asked);
            if (reply && text) reply->addString(text);
            return reply;
        }
        case OSCQueryTypeTypeSignature:
        case OSCQueryTypeReturnTypeString: {
            auto reply = OSCMessage::createReplyForMessage(asked);
            if (reply && kind >= 2 && kind <= 5) {
                reply->addValue(OSCValue::createWithString(std::string(kTypeSignatures[kind])));
            }
            return reply;
        }
        case OSCQueryTypeCurrentValue: {
            auto reply = OSCMessage::createReplyForMessage(asked);
            if (reply && (kind == OSCNodeTypeNumber || kind == OSCNodeTypeColor ||
                          kind == OSCNodeTypeString)) {
                if (const auto value = lastReceivedValue()) reply->addValue(value);
            }
            return reply;
        }
        default:
            return nullptr;
    }
}

void OSCNode::prepareToBeDeleted() {
    std::shared_ptr<Delegates> list;
    {
        std::lock_guard guard(listsLock);
        list = std::move(delegates);
    }
    if (list) {
        Delegates::Objects live;
        auto writing = list->writeLocked();
        live = list->createArrayCopyFromObjects();
        for (const auto& delegate : live) delegate->nodeDeleted(*this);
        list->array().clear();
    }
    setAutoQueryReply(false);
    {
        std::lock_guard guard(queryDelegateLock);
        query.reset();
    }
    isDeleted.store(true, std::memory_order_release);
}

}  // namespace vitrine
