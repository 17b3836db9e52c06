// The router is asked in both ways at once, each on a thread of its own: a router speaks one, the
// other, both or neither, and a way that gets no answer must not hold up the other. A third thread
// per mapping waits for the first to open the port exactly, then keeps the mapping: it sleeps until
// the lease's half-time or until the owner gives the mapping up, and deletes it then.
#include "net_port_mapping.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "net_interfaces.h"
#include "net_port_way.h"
#include "output_line.h"
#include "platform.h"

namespace Net {

namespace PortRules {

bool exactPort(unsigned asked, unsigned inside, unsigned outside) {
    return inside == asked && outside == asked;
}

bool reservedAddress(uint32_t address) {
    return (address >> 24) == 10 || (address >> 20) == (172u << 4 | 1) ||
           (address >> 16) == (192u << 8 | 168) || (address >> 22) == (100u << 2 | 1);
}

std::chrono::seconds renewalAfter(unsigned granted) {
    if (granted == 0) {
        return std::chrono::seconds(0);
    }
    return std::chrono::seconds(std::max(granted / 2, 1u));
}

std::chrono::milliseconds answerWait(std::chrono::milliseconds library,
                                     std::chrono::steady_clock::time_point deadline,
                                     std::chrono::steady_clock::time_point now) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    return std::max(std::min(library, left), std::chrono::milliseconds(0));
}

}  // namespace PortRules

namespace {

using Clock = PortClock;

// How soon a renewal that failed is tried again, in seconds (the lease has half its time left).
constexpr unsigned kRetry = 120;

// The mappings' threads, counted for finishAll. Never destroyed: a thread may still be ending
// while the program's statics go.
struct Threads {
    std::mutex mutex;
    std::condition_variable ended;
    int running = 0;
};
Threads& threads() {
    static Threads* all = new Threads;
    return *all;
}

void countThread(int change) {
    Threads& all = threads();
    std::lock_guard<std::mutex> hold(all.mutex);
    all.running += change;
    all.ended.notify_all();
}

// Runs work on a counted thread; false when no thread could be had.
bool startCounted(std::function<void()> work) {
    countThread(1);
    if (Platform::startDetachedThread([work] {
            work();
            countThread(-1);
        })) {
        return true;
    }
    countThread(-1);
    return false;
}

}  // namespace

struct PortMapping::Shared {
    explicit Shared(unsigned port) : port(port) {}

    const unsigned port;
    std::mutex mutex;
    std::condition_variable changed;
    State state = State::kAsking;
    uint32_t outside = 0;
    // False once the owner has given the mapping up.
    bool wanted = true;
    // The ways still asking, the first to have opened the port until the keeper takes it, and
    // the others that opened it too.
    int asking = 0;
    std::shared_ptr<PortWay> winner;
    std::vector<std::shared_ptr<PortWay>> extras;
};

namespace {

using Shared = PortMapping::Shared;

// Asks in one way, beside the others. The first to open the port is the keeper's to keep; one
// that may have opened it besides is the keeper's to delete at the end (on a router that speaks
// both ways it is the same mapping: deleting it now would delete the kept one). One that may have
// opened it when nobody wants it any more, or too late, deletes it itself.
void askOneWay(const std::shared_ptr<Shared>& shared, const std::shared_ptr<PortWay>& way,
               Clock::time_point deadline) {
    const Asked asked = way->open(shared->port, deadline, [&shared] {
        std::lock_guard<std::mutex> hold(shared->mutex);
        return !shared->wanted || shared->state != PortMapping::State::kAsking || shared->winner;
    });
    const bool opened = asked != Asked::kNot;
    bool kept = false;
    {
        std::lock_guard<std::mutex> hold(shared->mutex);
        --shared->asking;
        if (opened && shared->wanted && shared->state != PortMapping::State::kRefused) {
            if (asked == Asked::kOpened && shared->state == PortMapping::State::kAsking &&
                !shared->winner) {
                shared->winner = way;
            } else {
                shared->extras.push_back(way);
            }
            kept = true;
        } else if (opened) {
            // Counted before the lock goes, so that finishAll waits for the deletion.
            countThread(1);
        }
        shared->changed.notify_all();
    }
    if (opened && !kept) {
        way->close(shared->port);
        countThread(-1);
    }
}

// The keeper: starts both ways, takes the first that opens the port, renews its lease while the
// mapping is wanted, and deletes it then.
void keep(const std::shared_ptr<Shared>& shared) {
    const auto deadline = Clock::now() + PortRules::kAttempt;
    const unsigned port = shared->port;
    for (const std::shared_ptr<PortWay>& way : {upnpWay(), natPmpWay()}) {
        if (!way) {
            continue;
        }
        {
            std::lock_guard<std::mutex> hold(shared->mutex);
            ++shared->asking;
        }
        // Not counted: until a way holds a mapping, finishAll has nothing to wait for.
        if (!Platform::startDetachedThread(
                [shared, way, deadline] { askOneWay(shared, way, deadline); })) {
            std::lock_guard<std::mutex> hold(shared->mutex);
            --shared->asking;
        }
    }
    std::shared_ptr<PortWay> way;
    std::unique_lock<std::mutex> hold(shared->mutex);
    shared->changed.wait_until(hold, deadline, [&shared] {
        return shared->winner || shared->asking == 0 || !shared->wanted;
    });
    way = std::move(shared->winner);
    shared->state = way ? PortMapping::State::kOpen : PortMapping::State::kRefused;
    if (way) {
        shared->outside = way->outside;
    }
    const bool wanted = shared->wanted;
    // What a way may have opened without an answer, when none opened the port.
    std::vector<std::shared_ptr<PortWay>> unanswered;
    if (!way) {
        unanswered = std::move(shared->extras);
    }
    hold.unlock();
    if (wanted) {
        // No trace where no router opens the port: the waiting screen says so, and the trace of
        // a game on one network stays as it was.
        if (way) {
            System::err() << "Port " << port << " forwarded by the router (" << way->name()
                          << "), outside address " << dotted(way->outside);
        }
        Platform::wakeMain();
    }
    if (!way) {
        for (const auto& each : unanswered) {
            each->close(port);
        }
        return;
    }
    const auto given = [&shared] { return !shared->wanted; };
    for (;;) {
        hold.lock();
        const auto renewal = PortRules::renewalAfter(way->granted);
        if (renewal.count() == 0) {
            shared->changed.wait(hold, given);
        } else {
            shared->changed.wait_for(hold, renewal, given);
        }
        if (given()) {
            break;
        }
        hold.unlock();
        if (way->open(port, Clock::now() + PortRules::kAttempt, kNeverStop) != Asked::kOpened) {
            System::err() << "Port " << port << ": the router did not renew the lease";
            way->granted = kRetry * 2;
        }
    }
    std::vector<std::shared_ptr<PortWay>> ways = std::move(shared->extras);
    hold.unlock();
    ways.push_back(way);
    for (const auto& each : ways) {
        each->close(port);
    }
    System::err() << "Port " << port << " given back to the router";
}

}  // namespace

PortMapping::PortMapping(unsigned port) : shared(std::make_shared<Shared>(port)) {
    const char* setting = std::getenv("FIVEINAROW_PORT_MAPPING");
    if (setting != nullptr && std::string(setting) == "0") {
        shared->state = State::kOff;
        return;
    }
    std::shared_ptr<Shared> kept = shared;
    if (!startCounted([kept] { keep(kept); })) {
        shared->state = State::kRefused;
    }
}

PortMapping::~PortMapping() {
    std::lock_guard<std::mutex> hold(shared->mutex);
    shared->wanted = false;
    shared->changed.notify_all();
}

PortMapping::State PortMapping::state() const {
    std::lock_guard<std::mutex> hold(shared->mutex);
    return shared->state;
}

std::string PortMapping::outsideAddress() const {
    std::lock_guard<std::mutex> hold(shared->mutex);
    return shared->state == State::kOpen ? dotted(shared->outside) : std::string();
}

bool PortMapping::behindAnotherRouter() const {
    std::lock_guard<std::mutex> hold(shared->mutex);
    return shared->state == State::kOpen && PortRules::reservedAddress(shared->outside);
}

void PortMapping::finishAll() {
    Threads& all = threads();
    std::unique_lock<std::mutex> hold(all.mutex);
    all.ended.wait_for(hold, std::chrono::seconds(1), [&all] { return all.running == 0; });
}

}  // namespace Net
