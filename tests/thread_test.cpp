// Guarded values and threads: single accesses lock, reads are whole copies, lock() excludes other
// accesses, a thread's result is its exit value, and every start has its own arguments.
#include "thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "peer_helpers.h"

using namespace Testing;

namespace {

// Runs fn(args) as its body; join() collects the exit value.
class FunctionThread final : public System::Thread {
public:
    explicit FunctionThread(void* (*fn)(void*)) : fn(fn) {}
    ~FunctionThread() { wait4(); }
    void* tmain(void* args) override { return fn(args); }
    void* join() {
        void* result = nullptr;
        pthread_join(id, &result);
        started = false;
        return result;
    }
    bool isStarted() const { return started; }

private:
    void* (*fn)(void*);
};

void* echo(void* args) {
    return args;
}

void* raiseFlag(void* args) {
    static_cast<std::atomic<bool>*>(args)->store(true);
    return nullptr;
}

void* waitForRelease(void* args) {
    auto* release = static_cast<std::atomic<bool>*>(args);
    waitUntil([&] { return release->load(); });
    return nullptr;
}

}  // namespace

// A default value is the type's zero, never what the memory held.
TEST(MutexedTest, ReadsGiveTheStoredValueOrZero) {
    System::Mutexed<int> number(5);
    EXPECT_EQ(number.get(), 5);
    number = -7;
    EXPECT_EQ(*number, -7);
    System::Mutexed<bool> flag;
    EXPECT_FALSE(*flag);
    System::Mutexed<unsigned int> count;
    EXPECT_EQ(*count, 0u);
    System::Mutexed<unsigned char*> pointer;
    EXPECT_EQ(*pointer, nullptr);
}

TEST(MutexedTest, EachAccessReleasesTheMutex) {
    // A second access after each kind of access would wait forever if one kept the mutex.
    System::Mutexed<int> number(1);
    ASSERT_TRUE(finishesWithin([&number] {
        number = 2;
        number.get();
        *number;
        number.lock();
        number.unlock();
        number = 3;
    }));
    EXPECT_EQ(*number, 3);
}

TEST(MutexedTest, PointerHolderCopiesBytesWithoutBlockingItself) {
    static unsigned char cells[4] = {1, 2, 0, 2};
    static System::Mutexed<unsigned char*> data(cells);
    unsigned char copy[4] = {};
    ASSERT_TRUE(finishesWithin([&copy] {
        unsigned char* ptr = *data;
        std::lock_guard hold(data);
        memcpy(copy, ptr, sizeof copy);
    }));
    EXPECT_EQ(memcmp(copy, cells, sizeof copy), 0);
}

TEST(MutexedTest, LockKeepsOtherAccessesOut) {
    static System::Mutexed<int> number(0);
    static std::atomic<bool> assigned(false);
    std::unique_lock hold(number);
    std::thread other([] {
        number = 42;
        assigned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(assigned.load());
    hold.unlock();
    EXPECT_TRUE(waitUntil([] { return assigned.load(); }));
    other.join();
    EXPECT_EQ(*number, 42);
}

TEST(MutexedTest, ConcurrentAssignmentsAreNeverTorn) {
    const std::string as(200, 'a');
    const std::string bs(300, 'b');
    System::Mutexed<std::string> text(as);
    System::Mutexed<unsigned int> word(0u);
    std::atomic<bool> done(false);
    std::thread writer([&] {
        for (int i = 0; i < 20000; i++) {
            text = (i % 2) ? bs : as;
            word = (i % 2) ? 0xFFFFFFFFu : 0u;
        }
        done = true;
    });
    int torn = 0;
    while (!done.load()) {
        std::string seen = *text;
        unsigned int w = *word;
        if (seen != as && seen != bs) {
            torn++;
        }
        if (w != 0u && w != 0xFFFFFFFFu) {
            torn++;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

TEST(ThreadTest, ResultOfTmainIsTheExitValue) {
    FunctionThread t(echo);
    int marker = 0;
    t.start(&marker);
    EXPECT_TRUE(t.isStarted());
    EXPECT_EQ(t.join(), &marker);
}

TEST(ThreadTest, WaitOnAFinishedThreadReturnsAtOnce) {
    std::atomic<bool> ran(false);
    FunctionThread t(raiseFlag);
    t.start(&ran);
    ASSERT_TRUE(waitUntil([&] { return ran.load(); }));
    ASSERT_TRUE(finishesWithin([&t] { t.wait4(); }, std::chrono::seconds(1)));
    EXPECT_FALSE(t.isStarted());
    // A second wait, and one on a thread never started, return at once as well.
    EXPECT_TRUE(finishesWithin([&t] { t.wait4(); }, std::chrono::milliseconds(1000)));
    static FunctionThread never(echo);
    EXPECT_TRUE(finishesWithin([] { never.wait4(); }, std::chrono::milliseconds(1000)));
}

TEST(ThreadTest, WaitBlocksUntilTmainReturns) {
    static std::atomic<bool> release(false);
    static FunctionThread t(waitForRelease);
    t.start(&release);
    static std::atomic<bool> joined(false);
    std::thread waiter([] {
        t.wait4();
        joined = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(joined.load());
    release = true;
    EXPECT_TRUE(waitUntil([] { return joined.load(); }));
    waiter.join();
}

TEST(ThreadTest, EveryStartHasItsOwnArguments) {
    // Starts follow one another without waiting for the threads to begin; each must still run
    // with the argument it was started with.
    constexpr int kThreads = 64;
    FunctionThread* threads[kThreads];
    int args[kThreads];
    for (int i = 0; i < kThreads; i++) {
        threads[i] = new FunctionThread(echo);
        args[i] = i;
    }
    for (int i = 0; i < kThreads; i++) {
        threads[i]->start(&args[i]);
    }
    for (int i = 0; i < kThreads; i++) {
        EXPECT_EQ(threads[i]->join(), &args[i]) << "thread " << i;
        delete threads[i];
    }
}

TEST(ThreadTest, AJoinedThreadCanBeStartedAgain) {
    FunctionThread t(echo);
    int first = 1;
    int second = 2;
    t.start(&first);
    EXPECT_EQ(t.join(), &first);
    t.start(&second);
    EXPECT_EQ(t.join(), &second);
}
