// UPnP-IGD by miniupnpc.
#include "net_port_way.h"

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <string>

#include "net_port_mapping.h"
#include "net_stdafx.h"
#include "output_line.h"
#include "platform.h"

namespace Net {

namespace {

// The search waits for this long a silence after the last answer (milliseconds).
constexpr int kDiscoveryDelay = 1000;
// The answer of a router that gives only leases without end.
constexpr int kOnlyPermanentLeases = 725;

class Upnp : public PortWay {
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
    Asked open(unsigned port, PortClock::time_point, const Stop& stop) override {
        if (!found && !find()) {
            return Asked::kNot;
        }
        char address[40] = "";
        unsigned long outsideAddress = 0;
        if (UPNP_GetExternalIPAddress(urls.controlURL, data.first.servicetype, address) != 0 ||
            !Platform::readDotted(address, outsideAddress)) {
            return Asked::kNot;
        }
        outside = ntohl(static_cast<uint32_t>(outsideAddress));
        if (stop()) {
            return Asked::kNot;
        }
        const std::string ports = std::to_string(port);
        granted = PortRules::kLease;
        int status = add(ports, std::to_string(granted));
        if (status == kOnlyPermanentLeases) {
            granted = 0;
            status = add(ports, "0");
        }
        if (status > 0) {
            System::err() << "UPnP: the router refuses port " << port << " (" << status << ")";
            return Asked::kNot;
        }
        // The library's own failures (below 0) leave it unknown what the router did.
        return status == 0 ? Asked::kOpened : Asked::kUnanswered;
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

std::shared_ptr<PortWay> upnpWay() {
    return std::make_shared<Upnp>();
}

}  // namespace Net
