// Passes per second of the network game's turn loops in a real window with their rests turned
// off (what one pass costs), beside a bare loop that only clears an 800 x 600 x 32 frame and
// copies it to the window; and how soon a resting turn and a key wait give way to a request to
// quit (the close button's). What the loops cost while they rest is bench/wait_bench.py's. Needs a
// display (scripts/bench.sh starts Xvfb) and data/ptr.tga below the working directory: run it from
// the repository root.
#include <allegro.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

#include "frame.h"
#include "input.h"
#include "network_game.h"
#include "quit_request.h"
#include "silenced.h"
#include "statistics.h"
#include "system.h"
#include "text_entry.h"

namespace {

// Short rounds, each loop in turn: the window's frame rate follows the X server's share of the
// processors, which changes from second to second on a busy machine.
constexpr int kDefaultRounds = 12;
constexpr std::chrono::milliseconds kPassTime{500};
// How long a loop runs before the request to quit comes.
constexpr std::chrono::milliseconds kQuitAfter{50};

using Clock = std::chrono::steady_clock;

// Calls raise() once, from a thread of its own, when the time after has passed; the thread is
// joined on destruction.
class Alarm {
public:
    Alarm(std::chrono::milliseconds after, std::function<void()> raise)
        : thread([after, raise] {
              std::this_thread::sleep_for(after);
              raise();
          }) {}
    Alarm(const Alarm&) = delete;
    Alarm& operator=(const Alarm&) = delete;
    ~Alarm() { thread.join(); }

private:
    std::thread thread;
};

// The passes of one loop and the time they took, over all rounds and round by round.
struct Tally {
    unsigned long passes = 0;
    double seconds = 0;
    std::vector<double> rounds;

    double rate() const { return seconds > 0 ? passes / seconds : 0; }
};

// Runs loop (which returns its passes) until an alarm inside it ends it; adds to tally.
void timed(Tally& tally, const std::function<unsigned long()>& loop) {
    Clock::time_point start = Clock::now();
    unsigned long passes = loop();
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    tally.seconds += seconds;
    tally.passes += passes;
    tally.rounds.push_back(passes / seconds);
}

// The median over the rounds of t's rate over bare's in the same round: a round in which another
// program took the processors moves it less than it moves the overall rates.
double ratio(const Tally& t, const Tally& bare) {
    std::vector<double> r;
    for (size_t i = 0; i < t.rounds.size() && i < bare.rounds.size(); i++) {
        r.push_back(t.rounds[i] / bare.rounds[i]);
    }
    return Bench::median(r);
}

// Runs wait until a request to quit, made from another thread as the close button's callback
// makes it, ends it; returns the seconds from the request to its end.
double secondsToQuit(const std::function<void()>& wait) {
    Clock::time_point asked, left;
    {
        Alarm alarm(kQuitAfter, [&asked] {
            asked = Clock::now();
            System::requestQuit(System::QuitRequest::kCloseButton);
        });
        try {
            wait();
        } catch (const System::QuitRequest&) {
            left = Clock::now();
        }
    }
    System::forgetQuitRequest();
    return std::chrono::duration<double>(left - asked).count();
}

// A network game without a peer, whose turn loops run until a flag of its state is raised from
// another thread, as the listener would. No listener thread is started.
class TurnLoops : public Games::NetworkGame {
public:
    // The remote turn, ended by a board "arriving" (newData); returns its passes.
    unsigned long remoteTurn() {
        unsigned long before = System::frames();
        {
            Alarm alarm(kPassTime, [this] { listener.state.newData = true; });
            remotePlayer(2);
        }
        return System::frames() - before;
    }

    // The local turn, with nobody clicking, ended by the peer leaving (remoteInterrupt).
    unsigned long localTurn() {
        unsigned long before = System::frames();
        {
            Alarm alarm(kPassTime, [this] { listener.state.remoteInterrupt = true; });
            localPlayer(1);
        }
        listener.state.remoteInterrupt = false;
        return System::frames() - before;
    }

    // The local turn, with nobody clicking, ended by a request to quit; returns the seconds from
    // the request to the turn's end.
    double quitTurn() {
        return secondsToQuit([this] { localPlayer(1); });
    }

protected:
    bool playerOne() override { return false; }
    bool playerTwo() override { return false; }
};

// The least a frame takes: clear the back buffer and copy it to the window.
unsigned long bareLoop() {
    std::unique_ptr<BITMAP, void (*)(BITMAP*)> buffer(create_bitmap(SCREEN_W, SCREEN_H),
                                                      destroy_bitmap);
    if (buffer == nullptr) {
        throw System::Exception("Cannot create the bare loop's buffer");
    }
    std::atomic<bool> stop{false};
    unsigned long passes = 0;
    Alarm alarm(kPassTime, [&stop] { stop = true; });
    while (!stop) {
        clear_bitmap(buffer.get());
        blit(buffer.get(), screen, 0, 0, 0, 0, SCREEN_W, SCREEN_H);
        passes++;
    }
    return passes;
}

void printRow(const char* name, const Tally& t, const Tally* bare) {
    printf("  %-44s %9.0f", name, t.rate());
    if (bare != nullptr) {
        printf("   x%.2f", ratio(t, *bare));
    }
    printf("\n");
}

void printQuit(const char* name, const std::vector<double>& seconds) {
    printf("  %-52s %7.2f %7.2f\n", name, Bench::median(seconds) * 1000,
           Bench::percentile(seconds, 100) * 1000);
}

int run(int rounds) {
    {
        // init() announces itself on standard output; the figures alone go there.
        Bench::Silenced quiet(std::cout);
        System::init();
    }
    Tally bare, remote, local;
    std::vector<double> quitTurn, quitKeyWait;
    {
        TurnLoops game;
        // The local turn's trace line when the peer leaves, once per round.
        Bench::Silenced quiet(std::cerr);
        auto unpaced = [](unsigned long (TurnLoops::*turn)(), TurnLoops& g) {
            System::setPaced(false);
            unsigned long passes = (g.*turn)();
            System::setPaced(true);
            return passes;
        };
        std::function<void()> loops[] = {
            [&] { timed(bare, bareLoop); },
            [&] { timed(remote, [&] { return unpaced(&TurnLoops::remoteTurn, game); }); },
            [&] { timed(local, [&] { return unpaced(&TurnLoops::localTurn, game); }); },
            [&] { quitTurn.push_back(game.quitTurn()); },
            [&] {
                quitKeyWait.push_back(secondsToQuit([] {
                    System::TypedKeys keys;
                    System::waitForKey(keys);
                }));
            },
        };
        // Each loop takes each place in the round in turn: none always follows the same one.
        constexpr int kLoops = sizeof loops / sizeof loops[0];
        for (int r = 0; r < rounds; r++) {
            for (int i = 0; i < kLoops; i++) {
                loops[(r + i) % kLoops]();
            }
        }
    }
    printf(
        "Turn loops, unpaced, in an %dx%dx%d window (passes per second, %d rounds of %.1f s "
        "each)\n",
        SCREEN_W, SCREEN_H, bitmap_color_depth(screen), rounds, kPassTime.count() / 1000.0);
    printf("  %-44s %9s   %s\n", "", "passes/s", "over bare (median of the rounds)");
    printRow("bare clear_bitmap + blit to screen", bare, nullptr);
    printRow("NetworkGame::remotePlayer (waiting for a move)", remote, &bare);
    printRow("NetworkGame::localPlayer (nobody clicking)", local, &bare);
    printf("From a request to quit to the end of the wait (ms, median and largest of %d)\n",
           rounds);
    printQuit("NetworkGame::localPlayer", quitTurn);
    printQuit("System::waitForKey (prompts, notices, end screens)", quitKeyWait);
    System::done();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : kDefaultRounds;
    if (rounds <= 0) {
        fprintf(stderr, "usage: %s [rounds, default %d]\n", argv[0], kDefaultRounds);
        return 2;
    }
    try {
        return run(rounds);
    } catch (System::Exception& e) {
        fprintf(stderr, "turn_loop_bench: %s\n", e.message().c_str());
    } catch (const System::QuitRequest& q) {
        fprintf(stderr, "turn_loop_bench: stopped (%s)\n", q.reason().c_str());
    }
    return 1;
}
END_OF_MAIN()
