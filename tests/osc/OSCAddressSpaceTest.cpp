#include <gtest/gtest.h>

#include "basics/Log.h"
#include "osc/OSCAddressSpace.h"
#include "support/OscWire.h"

using namespace vitrine;
using namespace vitrine::test;

namespace {

// Writes down, in order, what a node tells its delegate (on the dispatching thread).
struct NodeRecorder : OSCNodeDelegate {
    void node(OSCNode& node, const std::shared_ptr<OSCMessage>& message) override {
        add("message " + node.fullName().value_or("?") + " " + message->address().value_or("?"));
    }
    void nodeNameChanged(OSCNode& node) override { add("named " + node.fullName().value_or("?")); }
    void nodeDeleted(OSCNode& node) override { add("deleted " + node.nodeName().value_or("?")); }
    void add(std::string event) { events.push_back(std::move(event)); }
    std::vector<std::string> events;
};

struct SpaceRecorder : OSCAddressSpaceDelegate {
    void nodeRenamed(const std::shared_ptr<OSCNode>& node) override {
        renamed.push_back(node->fullName().value_or("?"));
    }
    void queryResponseNeedsToBeSent(const std::shared_ptr<OSCMessage>& message) override {
        answers.push_back(encoded(message));
    }
    std::vector<std::string> renamed;
    std::vector<Bytes> answers;
};

struct NotADelegate : XJObject {};

std::vector<std::string> namesOf(
    const std::optional<std::vector<std::shared_ptr<OSCNode>>>& nodes) {
    std::vector<std::string> names;
    for (const auto& node : nodes.value_or(std::vector<std::shared_ptr<OSCNode>>{}))
        names.push_back(node->fullName().value_or("?"));
    return names;
}

std::shared_ptr<OSCMessage> control(const std::string& address) {
    return OSCMessage::createWithAddress(address);
}

class AddressSpace : public ::testing::Test {
protected:
    void SetUp() override { space->setDelegate(recorder); }
    void TearDown() override {
        space->setDelegate({});
        space->setLastReceivedMessage(nullptr);
        if (const auto list = space->nodeContents()) {
            for (const auto& child : list->lockCreateArrayCopy()) space->deleteLocalNode(child);
        }
    }
    std::shared_ptr<OSCNode> at(const std::string& address, bool create = true) {
        return space->findNodeForAddress(address, create);
    }

    std::shared_ptr<OSCAddressSpace> space = OSCAddressSpace::mainAddressSpace();
    std::shared_ptr<SpaceRecorder> recorder = std::make_shared<SpaceRecorder>();
};

TEST_F(AddressSpace, CreatesDirectoriesDownToTheAddressAndFindsTheSameNodeAgain) {
    const auto c = at("/a/b/c");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->fullName(), "/a/b/c");
    EXPECT_EQ(at("/a")->nodeType(), OSCNodeTypeDirectory);
    EXPECT_EQ(at("/a/b")->nodeType(), OSCNodeTypeDirectory);
    EXPECT_EQ(c->nodeType(), OSCNodeTypeUnknown);
    EXPECT_EQ(at("/a/b/c/"), c);
    EXPECT_EQ(recorder->renamed, (std::vector<std::string>{"/a", "/a/b", "/a/b/c"}));
    // A single component is a leaf like any last component.
    EXPECT_EQ(at("/solo")->nodeType(), OSCNodeTypeUnknown);
    EXPECT_EQ(at("/"), space);
    EXPECT_EQ(at("/nowhere", false), nullptr);

    LogCapture capture;
    EXPECT_EQ(space->findNodeForAddress(std::nullopt), nullptr);
    std::string deep;
    for (size_t i = 0; i <= OSCNode::kMaxCreatedDepth; ++i) deep += "/d";
    EXPECT_EQ(at(deep), nullptr);
    EXPECT_EQ(at("/d", false), nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "\terr: p was nil -[OSCNode findNodeForAddress:createIfMissing:]",
                  "\terr: address of 129 components is deeper than 128, nothing created "
                  "-[OSCNode findNodeForAddressArray:createIfMissing:]"}));
}

TEST_F(AddressSpace, KeepsChildrenInCaseInsensitiveOrderAndMatchesPatternsByLevel) {
    for (const char* name : {"B", "a", "C"}) space->addLocalNode(OSCNode::createWithName(name));
    std::string tree;
    space->_logDescriptionToString(tree, 0);
    EXPECT_EQ(tree, "<(null)>\t{\n\t<a>\n\t<B>\n\t<C>\n}");
    space->deleteLocalNode(at("/a"));

    at("/a/y");
    at("/a/x");
    at("/b/z");
    at("/b/x");
    EXPECT_EQ(namesOf(space->findNodesMatchingAddress("/a/.")),
              (std::vector<std::string>{"/a/x", "/a/y"}));
    EXPECT_EQ(namesOf(space->findNodesMatchingAddress("/./x")),
              (std::vector<std::string>{"/a/x", "/b/x"}));
    EXPECT_FALSE(space->findNodesMatchingAddress("/a/q"));

    LogCapture capture;
    EXPECT_FALSE(space->findNodesMatchingAddress("/a/[x"));
    // Not cached, so compiled (and refused) once per child tried.
    EXPECT_EQ(
        capture.count("\t\terr 7 while compiling regex in -[OSCPOSIXRegExpHolder initWithString:]"),
        2u);
    EXPECT_FALSE(space->findNodesMatchingAddress(std::nullopt));
    EXPECT_TRUE(capture.contains("\terr: a was nil -[OSCNode findNodesMatchingAddress:]"));
}

TEST_F(AddressSpace, RenamesAndMovesWholeSubtreesAndTellsEveryDelegate) {
    const auto a = at("/a");
    const auto d = at("/a/d");
    const auto onA = std::make_shared<NodeRecorder>();
    const auto onD = std::make_shared<NodeRecorder>();
    a->addDelegate(onA);
    d->addDelegate(onD);
    a->setNodeName("e");
    EXPECT_EQ(d->fullName(), "/e/d");
    EXPECT_EQ(onA->events, (std::vector<std::string>{"named /e"}));
    EXPECT_EQ(onD->events, (std::vector<std::string>{"named /e/d"}));

    space->renameAddress("/e", "/c");
    EXPECT_EQ(d->fullName(), "/c/d");
    EXPECT_EQ(at("/c", false), a);
    EXPECT_EQ(at("/e", false), nullptr);
    space->renameAddress("/p", "/q/r");
    EXPECT_TRUE(at("/q/r", false));

    // An existing node keeps its place and takes over the delegates of the one placed on it.
    const auto stranger = OSCNode::createWithName("x");
    const auto onStranger = std::make_shared<NodeRecorder>();
    stranger->addDelegate(onStranger);
    space->setNode(stranger, std::string("/c/d"));
    EXPECT_EQ(at("/c/d", false), d);
    space->dispatchMessage(control("/c/d"));
    EXPECT_EQ(onStranger->events.back(), "message /c/d /c/d");

    // Null deletes.
    space->setNode(nullptr, std::string("/c/d"));
    EXPECT_EQ(onD->events.back(), "deleted d");
    EXPECT_TRUE(d->deleted());
    d->dispatchMessage(control("/c/d"));
    EXPECT_EQ(d->lastReceivedMessage(), nullptr);

    // A detached node goes under a parent that is made for it, or stays detached.
    const auto y = OSCNode::createWithName("n");
    space->setNode(y, std::string("/x/y"), false);
    EXPECT_EQ(y->parentNode(), nullptr);
    space->setNode(y, std::string("/x/y"));
    EXPECT_EQ(y->fullName(), "/x/y");
    EXPECT_EQ(at("/x", false)->nodeType(), OSCNodeTypeDirectory);
    y->removeFromAddressSpace();
    EXPECT_EQ(at("/x/y", false), nullptr);

    LogCapture capture;
    space->renameAddress(std::nullopt, "/z");
    space->renameAddress("/z", std::nullopt);
    space->setNode(y, std::string("/"));
    EXPECT_EQ(
        capture.lines(),
        (std::vector<std::string>{
            "\terr: before was nil -[OSCAddressSpace renameAddress:to:]",
            "\terr: after was nil -[OSCAddressSpace renameAddress:to:]",
            "\terr: a was (\n) in -[OSCAddressSpace setNode:forAddressArray:createIfMissing:]"}));
}

TEST_F(AddressSpace, DispatchesLiterallyToTheNodeItsDelegatesAndTheRoot) {
    const auto first = std::make_shared<NodeRecorder>();
    const auto second = std::make_shared<NodeRecorder>();
    space->addDelegate(first, std::string("/a/b"));
    space->addDelegate(second, std::string("/a/b"));
    space->addDelegate(first, std::string("/a/b"));  // once only
    auto message = control("/a/b");
    message->addFloat(0.25f);
    space->dispatchMessage(message);
    EXPECT_EQ(first->events, (std::vector<std::string>{"message /a/b /a/b"}));
    EXPECT_EQ(second->events, first->events);
    EXPECT_EQ(at("/a/b")->lastReceivedValue()->floatValue(), 0.25f);

    // Wildcards are not expanded: the message makes and reaches a node named ".*".
    space->dispatchMessage(control("/a/.*"));
    EXPECT_EQ(first->events.size(), 1u);
    EXPECT_TRUE(at("/a/.*", false));

    const auto root = std::make_shared<NodeRecorder>();
    space->addDelegate(root);
    space->dispatchMessage(control("/"));
    EXPECT_EQ(root->events.size(), 1u);
    space->removeDelegate(root);

    // Delegates die quietly; replies only log; a reply has no address to go to.
    {
        const auto shortLived = std::make_shared<NodeRecorder>();
        space->addDelegate(shortLived, std::string("/a/b"));
    }
    LogCapture capture;
    space->dispatchMessage(message);
    EXPECT_EQ(first->events.size(), 2u);
    auto reply = OSCMessage::createWithAddress(std::string("/a/b"));
    reply->_setMessageType(OSCMessageTypeReply);
    at("/a/b")->dispatchMessage(reply);
    space->dispatchMessage(OSCMessage::createReplyForAddress(std::string("/a/b")));
    space->addDelegate(std::make_shared<NotADelegate>(), std::string("/a"));
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{
                  "\t\treceived reply " + reply->description() + " -[OSCNode dispatchMessage:]",
                  "\terr: p was nil -[OSCNode findNodeForAddress:createIfMissing:]",
                  "\terr: tried to add a non-conforming delegate: "
                  "-[OSCAddressSpace addDelegate:forPath:]"}));
}

// A delegate that dispatches on from its callback, as a forwarding controller does: the nested
// dispatch collects its own live delegates while the outer one is still calling its own.
struct Forwarder : NodeRecorder {
    void node(OSCNode& node, const std::shared_ptr<OSCMessage>& message) override {
        NodeRecorder::node(node, message);
        if (const auto target = to.lock()) target->dispatchMessage(message);
    }
    std::weak_ptr<OSCNode> to;
};

TEST_F(AddressSpace, DelegatesMayDispatchFromTheirCallbackAndBadPatternsLogPerChildTried) {
    const auto forwarder = std::make_shared<Forwarder>();
    const auto after = std::make_shared<NodeRecorder>();
    const auto below = std::make_shared<NodeRecorder>();
    forwarder->to = at("/b/x");
    space->addDelegate(forwarder, std::string("/a/x"));
    space->addDelegate(after, std::string("/a/x"));
    space->addDelegate(below, std::string("/b/x"));
    at("/b/y");
    for (int round = 0; round < 2; ++round) space->dispatchMessage(control("/a/x"));
    EXPECT_EQ(forwarder->events, (std::vector<std::string>(2, "message /a/x /a/x")));
    EXPECT_EQ(after->events, forwarder->events);
    EXPECT_EQ(below->events, (std::vector<std::string>(2, "message /b/x /a/x")));

    // A component that does not compile is refused for every named child of every node at its
    // level, and the search ends there.
    LogCapture capture;
    EXPECT_FALSE(space->findNodesMatchingAddress("/./[x/z"));
    EXPECT_EQ(
        capture.count("\t\terr 7 while compiling regex in -[OSCPOSIXRegExpHolder initWithString:]"),
        3u);
    EXPECT_EQ(namesOf(space->findNodesMatchingAddress("/./x")),
              (std::vector<std::string>{"/a/x", "/b/x"}));
}

struct DocDelegate : OSCNodeQueryDelegate {
    std::optional<std::vector<std::string>> namespaceArrayForNode(OSCNode&) override { return {}; }
    std::optional<std::string> docStringForNode(OSCNode&) override { return "the level"; }
    std::optional<std::string> typeSignatureForNode(OSCNode&) override { return {}; }
    std::shared_ptr<OSCValue> currentValueForNode(OSCNode&) override { return nullptr; }
    std::optional<std::string> returnTypeStringForNode(OSCNode&) override { return {}; }
};

TEST_F(AddressSpace, AnswersQueriesAutomaticallyWithExactBytes) {
    const auto ask = [&](OSCQueryType type, const std::string& address) {
        recorder->answers.clear();
        space->dispatchMessage(OSCMessage::createQueryType(type, address));
        return hex(recorder->answers.empty() ? Bytes{} : recorder->answers.front());
    };
    const auto join = [](std::initializer_list<Bytes> parts) { return hex(test::join(parts)); };
    at("/dir/b");
    at("/dir/a");
    at("/dir/hidden")->setHiddenInMenu(true);
    at("/dir")->setAutoQueryReply(true);
    EXPECT_EQ(ask(OSCQueryTypeNamespaceExploration, "/dir"),
              join({field("#reply"), field(",sss"), field("/dir/"), field("a"), field("b")}));

    const auto point = at("/point");
    point->setNodeType(OSCNodeType2DPoint);
    point->setAutoQueryReply(true);
    EXPECT_EQ(ask(OSCQueryTypeTypeSignature, "/point"),
              join({field("#reply"), field(",ss"), field("/point/#type-signature"), field("ff")}));
    EXPECT_EQ(ask(OSCQueryTypeNamespaceExploration, "/point"),
              join({field("#reply"), field(",s"), field("/point/")}));

    const auto level = at("/level");
    level->setNodeType(OSCNodeTypeNumber);
    level->setAutoQueryReply(true);
    EXPECT_EQ(ask(OSCQueryTypeCurrentValue, "/level"),
              join({field("#reply"), field(",s"), field("/level/#current-value")}));
    auto set = control("/level");
    set->addFloat(0.5f);
    space->dispatchMessage(set);
    EXPECT_EQ(
        ask(OSCQueryTypeCurrentValue, "/level"),
        join({field("#reply"), field(",sf"), field("/level/#current-value"), word(0x3F000000)}));

    EXPECT_EQ(ask(OSCQueryTypeDocumentation, "/"),
              join({field("#reply"), field(",ss"), field("/#documentation"),
                    field("(null): Directory-type OSC node- potentially contains subnodes.  this "
                          "node does not have any other specific data type.  last received "
                          "message is (null)")}));

    // A query delegate's text wins; without it and without automatic answers nothing is said.
    const auto doc = std::make_shared<DocDelegate>();
    level->setQueryDelegate(doc);
    EXPECT_EQ(
        ask(OSCQueryTypeDocumentation, "/level"),
        join({field("#reply"), field(",ss"), field("/level/#documentation"), field("the level")}));
    LogCapture capture;
    at("/quiet");
    EXPECT_EQ(ask(OSCQueryTypeDocumentation, "/quiet"), "");
    EXPECT_EQ(at("/quiet")->lastReceivedMessage(), nullptr);
    EXPECT_TRUE(capture.lines().empty());
    level->setQueryDelegate(nullptr);
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"**** ERR: query delegate doesn't support "
                                        "OSCNodeQueryDelegate, -[OSCNode setQueryDelegate:]"}));
}

TEST(AddressSpaceText, DescribesTheTreeAndAnEmptySpace) {
    OSCAddressSpace own;
    EXPECT_EQ(own.description(), "\n********\tOSC Address Space\t********\n");
    EXPECT_EQ(OSCNode::createWithName(std::nullopt), nullptr);
    EXPECT_EQ(OSCNode::createWithName("/jar/")->description(), "<OSCNode jar>");
}

}  // namespace
