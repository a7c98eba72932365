#include <gtest/gtest.h>

#include <algorithm>

#include "basics/Log.h"
#include "basics/MutNRLockArray.h"
#include "basics/MutNRLockDict.h"
#include "support/TestJar.h"

using namespace vitrine;
using namespace vitrine::testing;

namespace {

using NRArray = MutNRLockArray<TestJar>;
using Holder = ObjectHolder<TestJar>;
using Jars = std::vector<std::shared_ptr<TestJar>>;
using Names = std::vector<std::string>;
const std::shared_ptr<TestJar> kNoJar;
const std::string kBail = "\t\terr: -[ObjectHolder initWithObject:] - BAIL";

}  // namespace

TEST(ObjectHolder, DeadObjectsReadNullEqualNothingAndTakeNoCalls) {
    auto a = jar("a"), sameName = jar("a");
    auto plain = Holder::createWithObject(a);
    auto weak = Holder::createWithZWRObject(sameName);
    const void* address = weak.get();
    EXPECT_TRUE(plain->isEqual(*weak));
    EXPECT_FALSE(plain->isEqual(*a));  // a holder never equals a non-holder
    EXPECT_EQ(weak->description(), stringWithFormat("ObjectHolder: %p : <Jar a>", address));
    sameName.reset();
    EXPECT_FALSE(weak->isEqual(*weak));
    EXPECT_FALSE(weak->perform([](TestJar&) { ADD_FAILURE(); }));
    EXPECT_EQ(weak->description(), stringWithFormat("ObjectHolder: %p", address));
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
}

TEST(MutNRLockArray, WrapsByTheFlagSharesHoldersOfItsKindAndFindsByEqualityOrIdentity) {
    auto a = jar("a"), b = jar("b"), a2 = jar("a");
    NRArray array;
    array.lockAddObject(a);
    EXPECT_EQ(array.description(),
              stringWithFormat("<MutNRLockArray: (\n    ObjectHolder: %p : <Jar a>\n)>",
                               static_cast<void*>(array.lockFirstObject().get())));
    array.setZwrFlag(true);
    auto source = NRArray::arrayWithCapacity(10);
    source->lockAddObject(b);
    array.lockAddObjectsFromArray(source);
    array.lockAddObject(a2);
    auto holder = Holder::createWithObject(jar("c"));
    array.lockAddObject(holder);  // added unchanged
    const auto holders = array.lockCreateArrayCopy();
    EXPECT_TRUE(!holders[0]->isWeak() && holders[2]->isWeak() && holders[3] == holder);
    EXPECT_EQ(holders[1], source->lockFirstObject());
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(holder.get()), 3u);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(b.get()), 1u);
    EXPECT_EQ(array.lockIndexOfIdenticalPtr(jar("b").get()), kNotFoundIndex);
    EXPECT_EQ(array.lockIndexOfObject(kNoJar), kNullObjectIndex);
    array.lockRemoveObject(jar("a"));  // only the first equal one
    array.lockRemoveIdenticalPtr(holder.get());
    EXPECT_EQ(array.lockCreateArrayCopyFromObjects(), (Jars{b, a2}));
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

TEST(MutNRLockDict, WrapsPlainlyUnwrapsOnTheWayOutAndTakesEntriesFromAnyDictionary) {
    MutNRLockDict<TestJar> dict;
    auto a = jar("a"), b = jar("b");
    LogCapture capture;
    dict.lockSetObject(kNoJar, "x");
    dict.lockSetObject(b, std::nullopt);
    EXPECT_EQ(capture.lines(), Names{kBail});
    auto holder = Holder::createWithZWRObject(b);
    dict.lockSetObject(holder, "b");
    EXPECT_EQ(dict.lockCreateDictCopy().at("b"), holder);  // stored unchanged
    b.reset();
    EXPECT_EQ(dict.lockObjectForKey("b"), nullptr);
    auto source = MutNRLockDict<TestJar>::dictionaryWithCapacity(-5);
    source->lockSetObject(a, "shared");
    auto owning = MutLockDict<TestJar>::dictionaryWithCapacity(0);
    owning->lockSetObject(a, "owned");
    dict.lockAddEntriesFromDictionary(source);
    dict.lockAddEntriesFromDictionary(owning);
    const auto copy = dict.lockCreateDictCopy();
    EXPECT_EQ(copy.at("shared"), source->lockCreateDictCopy().at("shared"));
    EXPECT_FALSE(copy.at("owned")->isWeak());
    dict.rdlock();
    const auto values = dict.allValues();  // unwrapped, unlike lockAllValues
    dict.unlock();
    EXPECT_EQ(values.size(), 3u);
    EXPECT_EQ(std::count(values.begin(), values.end(), nullptr), 1);  // the dead one
}
