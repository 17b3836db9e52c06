// Arbitrary datagrams for the discovery's reader, as a master and as a slave take them: neither
// may crash, a master's answer is never longer than what it was sent, and a datagram the reader
// accepts is one that build() makes again byte for byte.
#include <cstdlib>

#include "net_beacon.h"
#include "net_finder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Net::Datagram d;
    if (Net::parse(data, size, d) &&
        Net::build(d) != std::vector<unsigned char>(data, data + size)) {
        abort();
    }
    static Net::Beacon beacon("fuzz");
    auto now = Net::DiscoveryClock::now();
    if (beacon.replyTo(data, size, 0x7f000001, 40000, now, {}).size() > size) {
        abort();
    }
    static Net::GameFinder finder;
    finder.take(data, size, 0x7f000001, 31211, now, {});
    finder.expire(now);
    return 0;
}
