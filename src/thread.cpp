// Guarded values (instantiated here for the six value types the program may use) and threads on
// POSIX threads.
#include "thread.h"

namespace System {

template <typename T>
Mutexed<T>::Mutexed() : data() {
    pthread_mutex_init(&mutex, nullptr);
}

template <typename T>
Mutexed<T>::Mutexed(T n) : data(n) {
    pthread_mutex_init(&mutex, nullptr);
}

template <typename T>
Mutexed<T>::~Mutexed() {
    pthread_mutex_destroy(&mutex);
}

template <typename T>
void Mutexed<T>::operator=(T n) {
    pthread_mutex_lock(&mutex);
    data = n;
    pthread_mutex_unlock(&mutex);
}

template <typename T>
T Mutexed<T>::get() {
    pthread_mutex_lock(&mutex);
    T copy = data;
    pthread_mutex_unlock(&mutex);
    return copy;
}

template <typename T>
T Mutexed<T>::operator*() {
    return get();
}

template <typename T>
void Mutexed<T>::lock() {
    pthread_mutex_lock(&mutex);
}

template <typename T>
void Mutexed<T>::unlock() {
    pthread_mutex_unlock(&mutex);
}

template class Mutexed<unsigned char*>;
template class Mutexed<std::string>;
template class Mutexed<bool>;
template class Mutexed<char>;
template class Mutexed<int>;
template class Mutexed<unsigned int>;

void* _threadWrapper(void* args) {
    _threadArgs* argz = static_cast<_threadArgs*>(args);
    Thread* t = static_cast<Thread*>(argz->object);
    void* threadArgs = argz->args;
    delete argz;
    void* ret = t->tmain(threadArgs);
    return ret;
}

Thread::Thread() : id(), started(false) {}

void Thread::start(void* args) {
    // A record of its own for every start, so that overlapping starts cannot overwrite each
    // other's arguments before the new threads have read them.
    _threadArgs* argz = new _threadArgs{this, args};
    if (pthread_create(&id, nullptr, _threadWrapper, argz) == 0) {
        started = true;
    } else {
        delete argz;
    }
}

void Thread::wait4() {
    if (!started) {
        return;
    }
    pthread_join(id, nullptr);
    started = false;
}

}  // namespace System
