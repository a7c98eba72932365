#include "basics/PosixRWLock.h"

namespace vitrine {

PosixRWLock::PosixRWLock() {
    pthread_rwlockattr_t attributes;
    pthread_rwlockattr_init(&attributes);
    pthread_rwlockattr_setpshared(&attributes, PTHREAD_PROCESS_PRIVATE);
    pthread_rwlock_init(&lock, &attributes);
    pthread_rwlockattr_destroy(&attributes);
}

PosixRWLock::~PosixRWLock() {
    pthread_rwlock_destroy(&lock);
}

}  // namespace vitrine
