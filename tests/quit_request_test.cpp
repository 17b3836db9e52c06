// The signals that end the program: the first only raises the request that the main thread acts
// on; a second one ends the process at once with that signal's own action. Each case runs in a
// child process of its own, as it changes the signal handlers and may end the process.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "quit_request.h"

namespace {

constexpr int kStillAlive = 3;
constexpr int kNoRequest = 4;

// Waits (bounded) for the request and writes its reason on standard error; a child that sees
// none ends with kNoRequest.
void expectRequest() {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < end) {
        try {
            System::checkQuit();
        } catch (const System::QuitRequest& q) {
            fprintf(stderr, "request: %s\n", q.reason().c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    _exit(kNoRequest);
}

// Has signal taken by a thread other than this one, as a signal sent to the whole process (by a
// terminal or a service manager) may be. That thread stays busy in library calls until then()
// (what the signal should do) has been seen on this one: ThreadSanitizer hands a thread its
// signal only at such a call.
template <typename Then>
void takenByAnotherThread(int signal, Then then) {
    std::atomic<bool> seen{false};
    std::thread taker([signal, &seen] {
        pthread_kill(pthread_self(), signal);
        while (!seen.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    then();
    seen.store(true);
    taker.join();
}

// Gives a signal on its way time to arrive; a child still here afterwards ends with kStillAlive.
void outliveIt() {
    std::this_thread::sleep_for(std::chrono::seconds(5));
    _exit(kStillAlive);
}

class QuitRequestDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(QuitRequestDeathTest, TheFirstSignalOnlyRequestsTheEnd) {
    EXPECT_EXIT(
        {
            System::watchSignals();
            raise(SIGINT);
            expectRequest();
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "request: signal 2");
}

TEST_F(QuitRequestDeathTest, ASecondSignalEndsTheProcessWithItsOwnAction) {
    EXPECT_EXIT(
        {
            System::watchSignals();
            raise(SIGINT);
            expectRequest();
            raise(SIGINT);
            outliveIt();
        },
        ::testing::KilledBySignal(SIGINT), "request: signal 2");
}

TEST_F(QuitRequestDeathTest, SignalsTakenByAnyThreadCountTogether) {
    // A different signal the second time: its own action ends the process.
    EXPECT_EXIT(
        {
            System::watchSignals();
            takenByAnotherThread(SIGHUP, expectRequest);
            takenByAnotherThread(SIGTERM, outliveIt);
        },
        ::testing::KilledBySignal(SIGTERM), "request: signal 1");
}

TEST_F(QuitRequestDeathTest, TheCloseButtonIsNoSignal) {
    // After the close button a signal is still the first one; the close button stays the cause.
    EXPECT_EXIT(
        {
            System::watchSignals();
            System::requestQuit(System::QuitRequest::kCloseButton);
            raise(SIGTERM);
            expectRequest();
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "request: close button");
}

}  // namespace
