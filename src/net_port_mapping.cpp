// The router is asked in both ways at once, each on a thread of its own: a router speaks one, the
// other, both or neither, and a way that gets no answer must not hold up the other. A third thread
// per mapping waits for the first to open the port exactly, then keeps the mapping: it sleeps until
// the lease's half-time or until the owner gives the mapping up, and deletes it then.
#include "net_port_mapping.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
// Declares select() and ntohl() too: through <sys/time.h> and <netinet/in.h>, or on Windows
// through the sockets library's header.
#include <natpmp.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "net_interfaces.h"
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

using Clock = std::chrono::steady_clock;
using Stop = std::function<bool()>;

// UPnP's search waits for this long a silence after the last answer (milliseconds).
constexpr int kDiscoveryDelay = 1000;
// How often a NAT-PMP wait looks whether it is still wanted.
constexpr std::chrono::milliseconds kStopCheck(100);
// How soon a renewal that failed is tried again, in seconds (the lease has half its time left).
constexpr unsigned kRetry = 120;
// UPnP's answer of a router that gives only leases without end.
constexpr int kOnlyPermanentLeases = 725;

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

// One way of asking the router.
class Way {
public:
    virtual ~Way() = default;
    virtual const char* name() const = 0;
    // Asks the router to forward port for a lease (again, to renew it); true once it forwards
    // exactly that port. Gives up at deadline, or as soon as stop() says so.
    virtual bool open(unsigned port, Clock::time_point deadline, const Stop& stop) = 0;
    // Deletes what open made.
    virtual void close(unsigned port) = 0;

    // What the last open learnt: the router's outside address (host byte order) and the lease
    // it gave, in seconds (0: without end).
    uint32_t outside = 0;
    unsigned granted = 0;
};

const Stop never = [] { return false; };

// One exchange of NAT-PMP requests and answers with the default gateway.
class NatPmpSession {
public:
    NatPmpSession() : ready(initnatpmp(&nat, 0, 0) == 0) {}
    ~NatPmpSession() {
        if (ready) {
            closenatpmp(&nat);
        }
    }
    NatPmpSession(const NatPmpSession&) = delete;
    NatPmpSession& operator=(const NatPmpSession&) = delete;

    // Sends the request that send makes, and reads its answer (of type) into answer, retrying
    // as the library says; false at deadline, at stop() or on a failure the router reports.
    bool exchange(const std::function<int(natpmp_t*)>& send, unsigned type, natpmpresp_t& answer,
                  Clock::time_point deadline, const Stop& stop) {
        if (!ready || send(&nat) < 0) {
            return false;
        }
        for (;;) {
            timeval next{};
            if (getnatpmprequesttimeout(&nat, &next) < 0 || stop() || Clock::now() >= deadline) {
                return false;
            }
            auto library = std::chrono::milliseconds(next.tv_sec * 1000 + next.tv_usec / 1000);
            auto wait =
                std::min(PortRules::answerWait(library, deadline, Clock::now()), kStopCheck);
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(nat.s, &readable);
            timeval rest{static_cast<long>(wait.count() / 1000),
                         static_cast<long>(wait.count() % 1000 * 1000)};
            select(nat.s + 1, &readable, nullptr, nullptr, &rest);
            const int status = readnatpmpresponseorretry(&nat, &answer);
            if (status == NATPMP_TRYAGAIN) {
                continue;
            }
            if (status < 0) {
                return false;
            }
            if (answer.type == type) {
                return true;
            }
            // A late copy of an earlier answer: the request goes again.
            if (send(&nat) < 0) {
                return false;
            }
        }
    }

private:
    natpmp_t nat{};
    bool ready;
};

class NatPmp : public Way {
public:
    const char* name() const override { return "NAT-PMP"; }

    bool open(unsigned port, Clock::time_point deadline, const Stop& stop) override {
        NatPmpSession session;
        natpmpresp_t answer{};
        if (!session.exchange(sendpublicaddressrequest, NATPMP_RESPTYPE_PUBLICADDRESS, answer,
                              deadline, stop)) {
            return false;
        }
        outside = ntohl(answer.pnu.publicaddress.addr.s_addr);
        if (!session.exchange(request(port, PortRules::kLease), NATPMP_RESPTYPE_TCPPORTMAPPING,
                              answer, deadline, stop)) {
            return false;
        }
        const auto& mapping = answer.pnu.newportmapping;
        if (!PortRules::exactPort(port, mapping.privateport, mapping.mappedpublicport)) {
            System::out() << "NAT-PMP: the router forwards port " << mapping.mappedpublicport
                          << " rather than " << port << "; given back";
            release(session, port);
            return false;
        }
        granted = mapping.lifetime;
        return true;
    }

    void close(unsigned port) override {
        NatPmpSession session;
        release(session, port);
    }

private:
    // A request for port; a lifetime of 0 deletes the mapping.
    static std::function<int(natpmp_t*)> request(unsigned port, unsigned lifetime) {
        return [port, lifetime](natpmp_t* nat) {
            return sendnewportmappingrequest(nat, NATPMP_PROTOCOL_TCP, static_cast<uint16_t>(port),
                                             lifetime == 0 ? 0 : static_cast<uint16_t>(port),
                                             lifetime);
        };
    }

    static void release(NatPmpSession& session, unsigned port) {
        natpmpresp_t answer{};
        session.exchange(request(port, 0), NATPMP_RESPTYPE_TCPPORTMAPPING, answer,
                         Clock::now() + std::chrono::seconds(1), never);
    }
};

class Upnp : public Way {
public:
    Upnp() = default;
    ~Upnp() override {
        if (found) {
            FreeUPNPUrls(&urls);
        }
    }
    Upnp(const Upnp&) = delete;
    Upnp& operator=(const Upnp&) = delete;

    const char* name() const override { return "UPnP"; }

    // The library's calls end by their own time-outs: whoever waits for the deadline does not
    // wait for them.
    bool open(unsigned port, Clock::time_point, const Stop& stop) override {
        if (!found && !find()) {
            return false;
        }
        char address[40] = "";
        unsigned long outsideAddress = 0;
        if (UPNP_GetExternalIPAddress(urls.controlURL, data.first.servicetype, address) != 0 ||
            !Platform::readDotted(address, outsideAddress)) {
            return false;
        }
        outside = ntohl(static_cast<uint32_t>(outsideAddress));
        if (stop()) {
            return false;
        }
        const std::string ports = std::to_string(port);
        granted = PortRules::kLease;
        int status = add(ports, std::to_string(granted));
        if (status == kOnlyPermanentLeases) {
            granted = 0;
            status = add(ports, "0");
        }
        if (status != 0) {
            System::out() << "UPnP: the router refuses port " << port << " (" << status << ")";
        }
        return status == 0;
    }

    void close(unsigned port) override {
        UPNP_DeletePortMapping(urls.controlURL, data.first.servicetype,
                               std::to_string(port).c_str(), "TCP", nullptr);
    }

private:
    bool find() {
        int error = 0;
        UPNPDev* devices =
            upnpDiscover(kDiscoveryDelay, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
        if (devices == nullptr) {
            return false;
        }
        found = UPNP_GetValidIGD(devices, &urls, &data, inside, sizeof inside) != 0;
        freeUPNPDevlist(devices);
        return found;
    }

    // Both sides' port is the one asked for: any other answer is an error (718 when taken).
    int add(const std::string& ports, const std::string& lease) {
        return UPNP_AddPortMapping(urls.controlURL, data.first.servicetype, ports.c_str(),
                                   ports.c_str(), inside, "fiveinarow", "TCP", nullptr,
                                   lease.c_str());
    }

    bool found = false;
    UPNPUrls urls{};
    IGDdatas data{};
    // This machine's address on the router's side.
    char inside[64] = "";
};

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
    std::shared_ptr<Way> winner;
    std::vector<std::shared_ptr<Way>> extras;
};

namespace {

using Shared = PortMapping::Shared;

// Asks in one way, beside the others. The first to open the port is the keeper's to keep; one
// that opens it after that is the keeper's to delete at the end (on a router that speaks both ways
// it is the same mapping: deleting it now would delete the kept one). One that opens it when
// nobody wants it any more deletes it itself.
void askOneWay(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Way>& way,
               Clock::time_point deadline) {
    const bool opened = way->open(shared->port, deadline, [&shared] {
        std::lock_guard<std::mutex> hold(shared->mutex);
        return !shared->wanted || shared->state != PortMapping::State::kAsking || shared->winner;
    });
    bool kept = false;
    {
        std::lock_guard<std::mutex> hold(shared->mutex);
        --shared->asking;
        if (opened && shared->wanted && shared->state != PortMapping::State::kRefused) {
            if (shared->state == PortMapping::State::kAsking && !shared->winner) {
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
    for (std::shared_ptr<Way> way :
         {std::shared_ptr<Way>(new Upnp), std::shared_ptr<Way>(new NatPmp)}) {
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
    std::shared_ptr<Way> way;
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
    hold.unlock();
    if (wanted) {
        if (way) {
            System::out() << "Port " << port << " forwarded by the router (" << way->name()
                          << "), outside address " << dotted(way->outside);
        } else {
            System::out() << "Port " << port << ": no router forwards it";
        }
        Platform::wakeMain();
    }
    if (!way) {
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
        if (!way->open(port, Clock::now() + PortRules::kAttempt, never)) {
            System::out() << "Port " << port << ": the router did not renew the lease";
            way->granted = kRetry * 2;
        }
    }
    std::vector<std::shared_ptr<Way>> ways = std::move(shared->extras);
    hold.unlock();
    ways.push_back(way);
    for (const auto& each : ways) {
        each->close(port);
    }
    System::out() << "Port " << port << " given back to the router";
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
