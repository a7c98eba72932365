#pragma once

namespace vitrine {

// Scope guards over anything with rdlock / wrlock / unlock: a PosixRWLock, or a locked collection
// (MutLockArray, MutLockDict and their non-retaining forms, which hand them out as readLocked() /
// writeLocked()). The lock is taken at construction and released when the guard's scope ends,
// also when it is left by an exception. Guards are neither copied nor moved; a function returning
// one by value hands it over through guaranteed copy elision, so
//     auto reading = list.readLocked();
// holds the read lock until `reading` goes out of scope. A guard that is not kept is a lock
// released at once, hence [[nodiscard]].
// Thread safety: a guard belongs to the thread that made it (POSIX rwlocks are released by their
// owner).
template <class Lockable>
class [[nodiscard]] ReadLocked {
public:
    explicit ReadLocked(Lockable& lockable) : held(lockable) { held.rdlock(); }
    ~ReadLocked() { held.unlock(); }
    ReadLocked(const ReadLocked&) = delete;
    ReadLocked& operator=(const ReadLocked&) = delete;

private:
    Lockable& held;
};

template <class Lockable>
class [[nodiscard]] WriteLocked {
public:
    explicit WriteLocked(Lockable& lockable) : held(lockable) { held.wrlock(); }
    ~WriteLocked() { held.unlock(); }
    WriteLocked(const WriteLocked&) = delete;
    WriteLocked& operator=(const WriteLocked&) = delete;

private:
    Lockable& held;
};

}  // namespace vitrine
