#pragma once

#include <pthread.h>

namespace vitrine {

// The read/write lock of the locked collections: a process-private POSIX rwlock. It is NOT
// recursive: a thread that holds it in either mode and asks for it again may block forever.
// unlock() releases whichever mode the calling thread holds.
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

    // Scope guards for the library's own locked forms.
    class Read {
    public:
        explicit Read(PosixRWLock& l) : held(l) { held.rdlock(); }
        ~Read() { held.unlock(); }
        Read(const Read&) = delete;
        Read& operator=(const Read&) = delete;

    private:
        PosixRWLock& held;
    };
    class Write {
    public:
        explicit Write(PosixRWLock& l) : held(l) { held.wrlock(); }
        ~Write() { held.unlock(); }
        Write(const Write&) = delete;
        Write& operator=(const Write&) = delete;

    private:
        PosixRWLock& held;
    };

private:
    pthread_rwlock_t lock;
};

}  // namespace vitrine
