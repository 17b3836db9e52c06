// Guarded values and threads: a value that carries its own mutex, and an abstract thread whose
// body a subclass supplies. The two threads of a network game share nothing but such values.
#pragma once

#include <pthread.h>

#include <string>

namespace System {

// A value with its own non-recursive mutex. Each read and assignment locks for exactly that one
// access. For a pointer value the mutex also guards the bytes behind it: read the pointer with
// operator*, then hold the value's mutex with a scope lock (std::lock_guard hold(value)) while
// working on the bytes; never read or assign the same value while holding it (the thread would
// wait on itself). Not copyable: a copy would share or duplicate a mutex that may be held.
template <typename T>
class Mutexed {
public:
    // The value is value-initialised (false, 0, null, empty).
    Mutexed();
    explicit Mutexed(T n);
    Mutexed(const Mutexed&) = delete;
    Mutexed& operator=(const Mutexed&) = delete;
    ~Mutexed();

    // Locks, stores n, unlocks. Returns nothing: assignments do not chain.
    void operator=(T n);
    // Locks, copies the value, unlocks, returns the copy (a string is copied whole).
    T get();
    T operator*();
    void lock();
    void unlock();

private:
    pthread_mutex_t mutex;
    T data;
};

extern template class Mutexed<unsigned char*>;
extern template class Mutexed<std::string>;
extern template class Mutexed<bool>;
extern template class Mutexed<char>;
extern template class Mutexed<int>;
extern template class Mutexed<unsigned int>;

// What a new thread needs to run: the Thread whose tmain to call and the argument for it. Each
// start allocates its own; the new thread frees it once it has read it.
typedef struct _threadArgs {
    void* object;
    void* args;
} _threadArgs;

// The start routine handed to the threads library: runs tmain of the record's Thread and returns
// its result as the thread's exit value.
void* _threadWrapper(void* args);

// A thread whose body is tmain. start() runs it on a new thread; wait4() joins it. Both are called
// by the owner's thread only. Not copyable: a copy would be a second handle to join.
class Thread {
public:
    Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // The thread's body; its result becomes the thread's exit value. Must not throw.
    virtual void* tmain(void* args) = 0;
    // Runs tmain(args) on a new thread and returns without waiting for it to begin. A thread
    // object is started once; after wait4() it may be started again.
    void start(void* args);
    // Blocks until tmain has returned and discards its result. Returns at once when the thread was
    // never started or has already been joined.
    void wait4();

protected:
    // Destroyed only as the subclass it is; the owner joins the thread first.
    ~Thread() = default;

    pthread_t id;
    bool started;
};

}  // namespace System
