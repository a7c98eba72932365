#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "basics/Log.h"
#include "basics/MutNRLockArray.h"
#include "basics/MutNRLockDict.h"
#include "support/TestJar.h"

using namespace vitrine;
using vitrine::testing::jar;
using vitrine::testing::TestJar;

namespace {

using NRArray = MutNRLockArray<TestJar>;
using Holder = ObjectHolder<TestJar>;
using Jars = std::vector<std::shared_ptr<TestJar>>;

std::vector<std::string> names(const Jars& jars) {
    std::vector<std::string> out;
    for (const auto& j : jars) out.push_back(j ? j->name : "(null)");
    return out;
}

}  // namespace

TEST(MutNRLockArray, DeadWeakEntriesAreCountedButSkipped) {
    NRArray array;
    array.setZwrFlag(true);
    auto a = jar("a");
    array.lockAddObject(a);
    a.reset();
    EXPECT_EQ(array.lockCount(), 1u);
    EXPECT_EQ(array.lockObjectAtIndex(0), nullptr);
    EXPECT_EQ(array.lockLastObject(), nullptr);
    EXPECT_TRUE(array.lockCreateArrayCopyFromObjects().empty());
    int calls = 0;
    array.lockBruteForceMakeObjectsPerformSelector([&](TestJar&) { ++calls; });
    array.lockMakeObjectsPerformSelector([&](TestJar&, int) { ++calls; }, 1);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(array.lockIndexOfObject(jar("a")), kNotFoundIndex);
    EXPECT_EQ(*array.lockValueForKey(&TestJar::name), std::vector<std::string>{""});
    ASSERT_NE(array.lockFirstObject(), nullptr);  // the holder itself is still listed
    EXPECT_EQ(array.lockFirstObject()->object(), nullptr);
}

TEST(MutNRLockArray, ObjectsWrappedByTheFlagAndHoldersAddedUnchanged) {
    auto a = jar("a");
    auto b = jar("b");
    NRArray array;
    array.lockAddObject(a);
    array.setZwrFlag(true);
    array.lockAddObject(b);
    auto holder = Holder::createWithObject(jar("c"));
    array.lockAddObject(holder);
    const auto holders = array.lockCreateArrayCopy();
    ASSERT_EQ(holders.size(), 3u);
    EXPECT_FALSE(holders[0]->isWeak());
    EXPECT_TRUE(holders[1]->isWeak());
    EXPECT_EQ(holders[2], holder);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(holder.get()), 2u);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(b.get()), 1u);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(jar("b").get()), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(nullptr), kNotFoundIndex);
    EXPECT_TRUE(array.lockContainsIdenticalPtr(a.get()));
    array.lockRemoveIdenticalPtr(a.get());
    array.lockRemoveIdenticalPtr(holder.get());
    EXPECT_EQ(names(array.lockCreateArrayCopyFromObjects()), std::vector<std::string>{"b"});
}

TEST(MutNRLockArray, EqualityLookupsUnwrapAndRemoveOnlyTheFirst) {
    auto a = jar("a");
    auto b = jar("b");
    auto a2 = jar("a");
    NRArray array;
    array.lockAddObjectsFromArray(Jars{a, b, a2});
    EXPECT_EQ(array.lockIndexOfObject(jar("a")), 0u);
    EXPECT_TRUE(array.lockContainsObject(jar("b")));
    EXPECT_EQ(array.indexOfObject(std::shared_ptr<TestJar>()), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfObject(std::shared_ptr<TestJar>()), kNullObjectIndex);
    array.lockRemoveObject(jar("a"));
    const Jars left = array.lockCreateArrayCopyFromObjects();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], b);
    EXPECT_EQ(left[1], a2);
}

TEST(MutNRLockArray, NullObjectsLogTheHolderBailOnlyInThePlainForms) {
    NRArray array;
    LogCapture capture;
    EXPECT_FALSE(array.insertObject(std::shared_ptr<TestJar>(), 0));
    array.addObject(std::shared_ptr<TestJar>());
    array.setZwrFlag(true);
    array.addObject(std::shared_ptr<TestJar>());
    EXPECT_FALSE(array.lockInsertObject(std::shared_ptr<TestJar>(), 0));
    array.lockAddObject(std::shared_ptr<TestJar>());
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"\t\terr: -[ObjectHolder initWithObject:] - BAIL",
                                        "\t\terr: -[ObjectHolder initWithObject:] - BAIL",
                                        "\t\terr: -[ObjectHolder initWithZWRObject:] - BAIL"}));
    EXPECT_EQ(array.lockCount(), 0u);
    EXPECT_FALSE(array.lockInsertObject(jar("a"), 1));
    EXPECT_TRUE(array.lockInsertObject(jar("a"), 0));
}

TEST(MutNRLockArray, ObjectsAtIndexesSkipsDeadAndAnswersEmptyForNull) {
    NRArray array;
    array.setZwrFlag(true);
    auto a = jar("a");
    auto b = jar("b");
    array.lockAddObjectsFromArray(Jars{a, b});
    b.reset();
    EXPECT_TRUE(array.lockObjectsAtIndexes(nullptr).empty());
    const IndexSet both{0, 1, 5};
    EXPECT_EQ(names(array.lockObjectsAtIndexes(&both)), std::vector<std::string>{"a"});
}

TEST(MutNRLockArray, NullSlotIsLoggedAsNotAHolder) {
    NRArray array;
    auto a = jar("a");
    array.lockAddObject(a);
    array.wrlock();
    array.array().push_back(nullptr);
    array.unlock();
    LogCapture capture;
    EXPECT_EQ(array.lockCreateArrayCopyFromObjects(), Jars{a});
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\terr: object in MutNRLockArray wasn't a holder! "
                                       "-[MutNRLockArray createArrayCopyFromObjects], (null)"});
    EXPECT_EQ(array.lockObjectAtIndex(1), nullptr);
    EXPECT_EQ(array.lockIndexOfObject(jar("z")), kNotFoundIndex);
}

TEST(MutNRLockArray, CopyingFromOtherCollections) {
    auto a = jar("a");
    auto b = jar("b");
    auto source = NRArray::arrayWithCapacity(10);
    source->setZwrFlag(true);
    source->lockAddObject(a);
    NRArray array;
    array.lockAddObjectsFromArray(source);
    EXPECT_EQ(array.lockCreateArrayCopy(), source->lockCreateArrayCopy());  // shared holders

    auto owning = MutLockArray<TestJar>::arrayWithCapacity(0);
    owning->lockAddObject(b);
    array.lockAddObjectsFromArray(owning);
    EXPECT_EQ(names(array.lockCreateArrayCopyFromObjects()), (std::vector<std::string>{"a", "b"}));
    EXPECT_FALSE(array.lockCreateArrayCopy()[1]->isWeak());  // wrapped by this array's flag

    array.lockReplaceWithObjectsFromArray(nullptr);
    EXPECT_EQ(array.lockCount(), 2u);
    array.lockReplaceWithObjectsFromArray(owning);
    EXPECT_EQ(names(array.lockCreateArrayCopyFromObjects()), std::vector<std::string>{"b"});

    array.lockAddObjectsFromArray(Jars{a, a});
    const Jars once{a};
    array.lockRemoveIdenticalPtrsInArray(&once);
    EXPECT_EQ(names(array.lockCreateArrayCopyFromObjects()), (std::vector<std::string>{"b", "a"}));
}

// A temporary share taken under the lock may turn out to be the object's last one; the object
// must then die after the lock is released, so that its destructor may use the collection.
TEST(MutNRLockArray, ObjectWhoseLastOwnerLetGoDiesOutsideTheLock) {
    struct Probe : TestJar {
        Probe(NRArray* list, bool* lockWasFree) : TestJar("probe"), list(list), free(lockWasFree) {}
        ~Probe() override {
            *free = list->tryRdLock();
            if (*free) list->unlock();
        }
        NRArray* list;
        bool* free;
    };
    NRArray array;
    bool lockWasFree = false;
    std::shared_ptr<TestJar> owner = std::make_shared<Probe>(&array, &lockWasFree);
    array.lockAddObject(owner);
    // The write-locked projection drops the only outside owner while the lock is held.
    array.lockValueForKey([&](TestJar& j) {
        owner.reset();
        return j.name;
    });
    EXPECT_TRUE(lockWasFree);
}

TEST(MutNRLockArray, Description) {
    NRArray array;
    auto a = jar("a");
    array.lockAddObject(a);
    const void* holder = array.lockFirstObject().get();
    EXPECT_EQ(array.description(),
              stringWithFormat("<MutNRLockArray: (\n    ObjectHolder: %p : <Jar a>\n)>", holder));
}

TEST(MutNRLockDict, WrapsPlainlyAndUnwrapsOnTheWayOut) {
    MutNRLockDict<TestJar> dict;
    auto a = jar("a");
    auto b = jar("b");
    LogCapture capture;
    dict.lockSetObject(a, "a");
    dict.lockSetObject(std::shared_ptr<TestJar>(), "x");
    dict.lockSetObject(b, std::nullopt);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>{"\t\terr: -[ObjectHolder initWithObject:] - BAIL"});
    auto holder = ObjectHolder<TestJar>::createWithObject(b);
    dict.lockSetObject(holder, "b");
    EXPECT_EQ(dict.lockObjectForKey("a"), a);
    EXPECT_EQ(dict.lockCreateDictCopy().at("b"), holder);  // stored unchanged
    EXPECT_FALSE(dict.lockCreateDictCopy().at("a")->isWeak());

    b.reset();
    EXPECT_EQ(dict.lockObjectForKey("b"), nullptr);
    EXPECT_EQ(dict.lockCount(), 2u);
    dict.rdlock();
    const auto values = dict.allValues();
    dict.unlock();
    EXPECT_EQ(values.size(), 2u);
    EXPECT_EQ(std::count(values.begin(), values.end(), nullptr), 1);
    EXPECT_EQ(dict.lockAllValues().size(), 2u);  // the holders
}

TEST(MutNRLockDict, AddingEntriesFromOtherCollections) {
    auto a = jar("a");
    auto source = MutNRLockDict<TestJar>::dictionaryWithCapacity(-5);
    source->lockSetObject(a, "a");
    MutNRLockDict<TestJar> dict;
    dict.lockAddEntriesFromDictionary(source);
    EXPECT_EQ(dict.lockCreateDictCopy().at("a"), source->lockCreateDictCopy().at("a"));

    auto owning = MutLockDict<TestJar>::dictionaryWithCapacity(0);
    owning->lockSetObject(a, "again");
    dict.lockAddEntriesFromDictionary(owning);
    const std::unordered_map<std::string, std::shared_ptr<TestJar>> plain{{"p", a}};
    dict.lockAddEntriesFromDictionary(&plain);
    dict.lockAddEntriesFromDictionary(nullptr);
    EXPECT_EQ(dict.lockCount(), 3u);
    EXPECT_EQ(dict.lockObjectForKey("again"), a);
    EXPECT_EQ(dict.lockObjectForKey("p"), a);
}
