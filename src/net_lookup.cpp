// Name look-up on a helper thread.
#include "net_lookup.h"

#include <mutex>

#include "platform.h"

namespace Net {

struct HostLookup::Result {
    mutable std::mutex mutex;
    bool done = false;
    std::vector<in_addr> found;
    std::string error;
};

namespace {

// Blocks for as long as the resolver takes. Touches nothing but its own values: it may still
// run when the look-up has been dropped, and even while the program ends. When nothing is found,
// error says why.
std::vector<in_addr> resolve(const std::string& name, std::string& error) {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    std::vector<in_addr> found;
    int status = getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (status != 0) {
        error = Platform::lookupErrorText(status);
        return found;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in)) {
            found.push_back(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
        }
    }
    freeaddrinfo(list);
    if (found.empty()) {
        error = unknownName();
    }
    return found;
}

}  // namespace

HostLookup::HostLookup(const std::string& name) : result(std::make_shared<Result>()) {
    // The thread's own share of the result and its own copy of the name: nothing of the caller.
    auto work = [share = result, name] {
        std::string error;
        std::vector<in_addr> found = resolve(name, error);
        std::lock_guard<std::mutex> lock(share->mutex);
        share->found = found;
        share->error = error;
        share->done = true;
        // The owner polls between frames and may be resting.
        Platform::wakeMain();
    };
    if (!Platform::startDetachedThread(work)) {
        work();
    }
}

bool HostLookup::done() const {
    std::lock_guard<std::mutex> lock(result->mutex);
    return result->done;
}

std::vector<Host> HostLookup::addresses(unsigned port) const {
    std::lock_guard<std::mutex> lock(result->mutex);
    std::vector<Host> hosts;
    for (const in_addr& address : result->found) {
        sockaddr_in sin;
        memset(&sin, 0, sizeof sin);
        sin.sin_family = AF_INET;
        sin.sin_addr = address;
        hosts.push_back(Host(sin, port));
    }
    return hosts;
}

std::string HostLookup::error() const {
    std::lock_guard<std::mutex> lock(result->mutex);
    return result->error;
}

std::string unknownName() {
    return Platform::lookupErrorText(EAI_NONAME);
}

}  // namespace Net
