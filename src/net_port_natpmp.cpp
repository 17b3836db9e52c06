// NAT-PMP by libnatpmp, its retries driven here so that the attempt's deadline bounds them (its
// own run for about two minutes against a router that does not answer).
#include "net_port_way.h"

// Declares select() too, through <sys/time.h>.
#include <natpmp.h>

#include <algorithm>

#include "net_port_mapping.h"
#include "net_stdafx.h"
#include "output_line.h"

namespace Net {

namespace {

// How often a wait for an answer looks whether it is still wanted.
constexpr std::chrono::milliseconds kStopCheck(100);

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
                  PortClock::time_point deadline, const Stop& stop) {
        if (!ready || send(&nat) < 0) {
            return false;
        }
        for (;;) {
            timeval next{};
            if (getnatpmprequesttimeout(&nat, &next) < 0 || stop() ||
                PortClock::now() >= deadline) {
                return false;
            }
            auto library = std::chrono::milliseconds(next.tv_sec * 1000 + next.tv_usec / 1000);
            auto wait =
                std::min(PortRules::answerWait(library, deadline, PortClock::now()), kStopCheck);
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

class NatPmp : public PortWay {
public:
    const char* name() const override { return "NAT-PMP"; }

    Asked open(unsigned port, PortClock::time_point deadline, const Stop& stop) override {
        NatPmpSession session;
        natpmpresp_t answer{};
        if (!session.exchange(sendpublicaddressrequest, NATPMP_RESPTYPE_PUBLICADDRESS, answer,
                              deadline, stop)) {
            return Asked::kNot;
        }
        outside = ntohl(answer.pnu.publicaddress.addr.s_addr);
        // Once the request has gone, the router may have made the mapping, whatever else comes.
        if (!session.exchange(request(port, PortRules::kLease), NATPMP_RESPTYPE_TCPPORTMAPPING,
                              answer, deadline, stop)) {
            return Asked::kUnanswered;
        }
        const auto& mapping = answer.pnu.newportmapping;
        if (!PortRules::exactPort(port, mapping.privateport, mapping.mappedpublicport)) {
            System::err() << "NAT-PMP: the router forwards port " << mapping.mappedpublicport
                          << " rather than " << port << "; given back";
            release(session, port);
            return Asked::kNot;
        }
        granted = mapping.lifetime;
        return Asked::kOpened;
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
                         PortClock::now() + std::chrono::seconds(1), kNeverStop);
    }
};

}  // namespace

std::shared_ptr<PortWay> natPmpWay() {
    return std::make_shared<NatPmp>();
}

}  // namespace Net
