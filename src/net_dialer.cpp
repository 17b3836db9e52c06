// Connecting without blocking: look-up, then each address in turn with its time-out.
#include "net_dialer.h"

#include <algorithm>

#include "output_line.h"
#include "platform.h"

namespace Net {

Dialer::Dialer(const std::string& name, unsigned port, std::chrono::milliseconds timeout)
    : text(name),
      port(port),
      timeout(timeout),
      lookup(new HostLookup(name)),
      found(true),
      next(0),
      done(false) {}

Dialer::Dialer(const std::vector<Host>& addresses, const std::string& text,
               std::chrono::milliseconds timeout)
    : text(text),
      port(0),
      timeout(timeout),
      addresses(addresses),
      found(true),
      next(0),
      done(false) {}

bool Dialer::poll() {
    if (done) {
        return true;
    }
    if (!failure.empty()) {
        throw ConnectionException("%s", failure.c_str());
    }
    try {
        done = addressesKnown() && connected();
    } catch (ConnectionException& e) {
        failure = e.message();
        throw;
    }
    return done;
}

bool Dialer::addressesKnown() {
    if (lookup) {
        if (!lookup->done()) {
            return false;
        }
        addresses = lookup->addresses(port);
        std::string reason = lookup->error();
        lookup.reset();
        if (addresses.empty()) {
            readAsDotted(reason);
        }
    } else if (addresses.empty()) {
        readAsDotted(unknownName());
    }
    return true;
}

void Dialer::readAsDotted(const std::string& reason) {
    found = false;
    sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    // A text that is no address is connected nowhere.
    unsigned long address;
    if (!Platform::readDotted(text.c_str(), address)) {
        trace();
        throw ConnectionException(kCannotConnect, reason.c_str());
    }
    sin.sin_addr.s_addr = address;
    addresses.push_back(Host(sin, port));
}

bool Dialer::connected() {
    for (;;) {
        try {
            if (!current->isOpen()) {
                deadline = Clock::now() + timeout;
                if (current->startConnect(addresses[next++])) {
                    break;
                }
            }
            if (current->connectDone()) {
                break;
            }
            if (Clock::now() < deadline) {
                return false;
            }
            current.destroy();
            throw ConnectionException(kCannotConnect,
                                      Platform::errorText(Platform::kTimedOut).c_str());
        } catch (ConnectionException&) {
            // The next address, if any; else this last reason is the one to show.
            if (next < addresses.size()) {
                continue;
            }
            trace();
            throw;
        }
    }
    trace();
    return true;
}

Platform::SocketWatch Dialer::watch() const {
    Platform::SocketWatch w;
    if (!done && failure.empty() && current->isOpen()) {
        w.socket = current->descriptor();
        w.event = Platform::SocketEvent::kConnectEnds;
    }
    return w;
}

int Dialer::restMs() const {
    if (watch().socket == -1) {
        return Platform::kForever;
    }
    return Platform::restUntil(deadline);
}

void Dialer::trace() {
    if (found) {
        System::err() << "Found host " << text;
    } else {
        System::err() << "Trying IP adrress " << text;
    }
}

}  // namespace Net
