// Connecting without blocking: look-up, then each address in turn with its time-out.
#include "net_dialer.h"

#include "output_line.h"

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
      done(false) {
    readAsDotted();
}

Dialer::~Dialer() {
    // A connect still in progress is abandoned; a finished one belongs to the caller.
    if (!done) {
        current.destroy();
    }
}

bool Dialer::poll() {
    if (done) {
        return true;
    }
    if (lookup) {
        if (!lookup->done()) {
            return false;
        }
        addresses = lookup->addresses(port);
        lookup.reset();
        readAsDotted();
    }
    done = connected();
    return done;
}

void Dialer::readAsDotted() {
    if (!addresses.empty()) {
        return;
    }
    found = false;
    sockaddr_in sin;
    memset(&sin, 0, sizeof sin);
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr(text.c_str());
    addresses.push_back(Host(sin, port));
}

bool Dialer::connected() {
    for (;;) {
        try {
            if (!current.isOpen()) {
                deadline = Clock::now() + timeout;
                if (current.startConnect(addresses[next++])) {
                    break;
                }
            }
            if (current.connectDone()) {
                break;
            }
            if (Clock::now() < deadline) {
                return false;
            }
            current.destroy();
            throw ConnectionException("ClinetSocket: Cannot connect to server - %s",
                                      strerror(ETIMEDOUT));
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

void Dialer::trace() {
    if (found) {
        System::err() << "Found host " << text;
    } else {
        System::err() << "Trying IP adrress " << text;
    }
}

}  // namespace Net
