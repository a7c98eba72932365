#pragma once

#include <pthread.h>

namespace vitrine {

// The read/write lock of the locked collections: a process-private POSIX rwlock. It is NOT
// recursive: a thread that holds it in either mode and asks for it again may block forever.
// unlock() releases whichever mode the calling thread holds. Scoped holding: ReadLocked and
// WriteLocked (basics/RWLockGuard.h).
// Thread safety: all operations may be called from any thread.
class PosixRWLock {
public:
    PosixRWLock();
    ~PosixRWLock();
    PosixRWLock(const PosixRWLock&) = delete;
    PosixRWLock& operator=(const PosixRWLock&) = delete;

    void rdlock() { pthread_rwlock_rdlock(&lock); }
    bool tryRdLock() { return pthread_rwlock_tryrdlock(&lock) == 0; }
    void wrlock() { pthread_rwlock_wrlock(&lock); }
    void unlock() { pthread_rwlock_unlock(&lock); }

private:
    pthread_rwlock_t lock;
};

}  // namespace vitrine
