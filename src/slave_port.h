// The slave's port as its master reaches it: a master that is neither on this machine nor on a
// network this machine is directly on connects back through the router in front of the slave,
// which is asked to forward the port from the moment the master's address is known.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "net_host.h"
#include "net_lookup.h"
#include "net_port_mapping.h"
#include "prompt_choices.h"

namespace Games {

// The router's forwarding of the slave's port, asked for only where the master is far. It is
// also the nick prompt's choices, of which it shows none: the prompt's passes advance the look-up
// of the master's name, so that the router is asked while the nick is typed. Main thread only.
class SlavePort : public System::PromptChoices {
public:
    // How long the nick waits at most, once entered, for the router's answer.
    static constexpr std::chrono::seconds kGrace{3};

    // master: the address typed or chosen; ways: where the list heard that master, if it did
    // (the first one is dialled first).
    SlavePort(const std::string& master, const std::vector<Net::Host>& ways, unsigned port);

    // Asks the router once the master is known to be far. Never blocks; nothing drawn changes.
    bool update() override;
    void draw() override {}
    Platform::SocketWatch watch() const override { return Platform::SocketWatch(); }
    int restMs() const override { return Platform::kForever; }
    bool step(int, std::string&) override { return false; }
    bool click(int, int, std::string&) override { return false; }

    // Whether the router has answered, or there is nothing to ask: the master may be told to
    // connect back.
    bool answered();
    // The waiting screen's line: whether the router opened the port, or that the master may not
    // reach it; "" while that is not known, and when asking routers is turned off.
    std::string line() const;
    // Gives the forwarding up: the master has connected back, or will not.
    void release();

private:
    // Asks the router unless address (host byte order) is near.
    void askUnlessNear(uint32_t address);

    unsigned port;
    std::unique_ptr<Net::HostLookup> lookup;
    std::unique_ptr<Net::PortMapping> mapping;
};

}  // namespace Games
