#include <gtest/gtest.h>

#include <stdexcept>

#include "basics/Log.h"
#include "basics/MutLockArray.h"
#include "basics/MutLockDict.h"
#include "basics/MutNRLockArray.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;

namespace {

using JarArray = MutLockArray<TestJar>;
using JarDict = MutLockDict<TestJar>;
using NRArray = MutNRLockArray<TestJar>;
using Jars = JarArray::Array;
using Names = std::vector<std::string>;
const std::shared_ptr<TestJar> kNoJar;
const std::string kBail = "\t\terr: -[ObjectHolder initWithObject:] - BAIL";

// Converts to its jar, or throws: stands in for anything that fails while a list is refilled.
struct JarOrFailure {
    std::shared_ptr<TestJar> jar;
    operator std::shared_ptr<TestJar>() const {
        return jar ? jar : throw std::runtime_error("list went away");
    }
};

Names names(JarArray& array) {
    Names out;
    for (const auto& j : array.lockCreateArrayCopy()) out.push_back(j ? j->name : "(null)");
    return out;
}

}  // namespace

TEST(MutLockArray, IndexesOutsideTheListChangeNothing) {
    JarArray array;
    array.lockRemoveLastObject();
    array.lockAddObjectsFromArray(Jars{jar("a"), jar("b"), jar("c")});
    EXPECT_FALSE(array.lockInsertObject(jar("x"), 4));  // above the count
    for (const std::uint64_t outside : {std::uint64_t{3}, ~std::uint64_t{0}}) {
        EXPECT_EQ(array.lockObjectAtIndex(outside), nullptr);
        array.lockRemoveObjectAtIndex(outside);
    }
    // Replacing at indexes needs a set inside the list and as many objects as indexes.
    const IndexSet edges{0, 2}, outside{1, 3}, some{0, 2, 7};
    const Jars one{jar("q")}, two{jar("x"), jar("z")};
    array.lockReplaceObjectsAtIndexes(&edges, &one);
    array.lockReplaceObjectsAtIndexes(&outside, &two);
    EXPECT_EQ(names(array), (Names{"a", "b", "c"}));
    array.lockReplaceObjectsAtIndexes(&edges, &two);
    EXPECT_EQ(*array.lockObjectsAtIndexes(&some), two);
    array.lockRemoveObjectsAtIndexes(&some);
    EXPECT_EQ(names(array), (Names{"b"}));
}

TEST(MutLockArray, AFailedRefillIsLoggedAndReleasesTheLockAndAListMayReadItself) {
    auto array = JarArray::arrayWithCapacity(4);
    const std::vector<JarOrFailure> failing{{jar("a")}, {jar("b")}, {nullptr}};
    LogCapture capture;
    array->lockReplaceWithObjectsFromArray(failing);
    EXPECT_EQ(capture.lines(),
              Names{"\t\tERR: -[MutLockArray replaceWithObjectsFromArray:] - list went away"});
    array->wrlock();                    // hangs if the failed refill kept the lock
    array->addObjectsFromArray(array);  // its own content, once
    array->replaceWithObjectsFromArray(array);
    array->unlock();
    EXPECT_EQ(names(*array), (Names{"a", "b", "a", "b"}));
}

TEST(MutLockDict, NullKeysObjectsAndCapacitiesAreRefusedAndEqualKeysReplace) {
    EXPECT_EQ(JarDict::createWithCapacity(-1), nullptr);
    JarDict dict;
    dict.lockSetObject(nullptr, "k");
    dict.lockSetObject(jar("a"), std::nullopt);
    EXPECT_EQ(dict.lockAllKeys(), std::nullopt);
    dict.lockSetObject(jar("first"), "k");
    dict.lockSetObject(jar("second"), "k");
    EXPECT_EQ(dict.lockObjectForKey("k")->name, "second");
}

TEST(LockedCollections, DescriptionsOfListsDictionariesAndHolders) {
    auto a = jar("a");
    JarArray array;
    array.lockAddObjectsFromArray(Jars{a, jar("b")});
    EXPECT_EQ(array.description(), "<MutLockArray: (\n    <Jar a>,\n    <Jar b>\n)>");
    JarDict dict;
    dict.lockSetObject(jar("c"), "k");
    EXPECT_EQ(dict.description(), "<MutLockDict: {\n    k = <Jar c>;\n}>");
    NRArray weak;
    weak.lockAddObject(a);
    const void* holder = weak.lockFirstObject().get();
    EXPECT_EQ(weak.description(),
              stringWithFormat("<MutNRLockArray: (\n    ObjectHolder: %p : <Jar a>\n)>", holder));
    array.lockRemoveAllObjects();
    a.reset();
    EXPECT_EQ(weak.lockFirstObject()->description(), stringWithFormat("ObjectHolder: %p", holder));
}

// Dead weak entries stay in the list and are counted, but no read hands them out or calls them.
TEST(MutNRLockArray, DeadWeakEntriesAreCountedButSkipped) {
    NRArray array;
    array.setZwrFlag(true);
    auto a = jar("a"), b = jar("b");
    array.lockAddObjectsFromArray(Jars{a, b});
    a.reset();
    EXPECT_EQ(array.lockCount(), 2u);
    EXPECT_EQ(array.lockObjectAtIndex(0), nullptr);
    const IndexSet all{0, 1, 5};
    EXPECT_EQ(array.lockObjectsAtIndexes(&all), Jars{b});
    Names called;
    array.lockBruteForceMakeObjectsPerformSelector([&](TestJar& j) { called.push_back(j.name); });
    array.lockMakeObjectsPerformSelector([&](TestJar& j, int) { called.push_back(j.name); }, 1);
    EXPECT_EQ(called, (Names{"b", "b"}));
    EXPECT_EQ(*array.lockValueForKey(&TestJar::name), (Names{"", "b"}));
    EXPECT_EQ(array.lockIndexOfObject(jar("a")), kNotFoundIndex);  // a dead object equals nothing
}

// The locked forms return before locking on a null object; the plain forms log the holder's
// BAIL line. A null slot can only be placed through the inner list, and only the copy says so.
TEST(MutNRLockArray, NullObjectsLogTheHolderBailOnlyInThePlainFormsAndNullSlotsAreSkipped) {
    NRArray array;
    LogCapture capture;
    EXPECT_FALSE(array.insertObject(kNoJar, 0));
    array.addObject(kNoJar);
    array.setZwrFlag(true);
    array.addObject(kNoJar);
    array.lockAddObject(kNoJar);
    EXPECT_EQ(array.lockCount(), 0u);
    auto a = jar("a");
    array.lockAddObject(a);
    array.wrlock();
    array.array().push_back(nullptr);
    array.unlock();
    EXPECT_EQ(array.lockCreateArrayCopyFromObjects(), Jars{a});
    EXPECT_EQ(array.lockIndexOfObject(jar("z")), kNotFoundIndex);
    EXPECT_EQ(capture.lines(),
              (Names{kBail, kBail, "\t\terr: -[ObjectHolder initWithZWRObject:] - BAIL",
                     "\t\terr: object in MutNRLockArray wasn't a holder! "
                     "-[MutNRLockArray createArrayCopyFromObjects], (null)"}));
}

// A temporary share taken under the lock may turn out to be the object's last one; the object
// must then die after the lock is released, so that its destructor may use the collection.
TEST(MutNRLockArray, ObjectWhoseLastOwnerLetGoDiesOutsideTheLock) {
    struct Probe : TestJar {
        Probe(NRArray* list, bool* lockWasFree) : TestJar("probe"), list(list), free(lockWasFree) {}
        ~Probe() override {
            if ((*free = list->tryRdLock())) list->unlock();
        }
        NRArray* list;
        bool* free;
    };
    NRArray array;
    bool lockWasFree = false;
    std::shared_ptr<TestJar> owner = std::make_shared<Probe>(&array, &lockWasFree);
    array.lockAddObject(owner);
    array.lockValueForKey([&](TestJar& j) {  // runs under the write lock
        owner.reset();
        return j.name;
    });
    EXPECT_TRUE(lockWasFree);
}
