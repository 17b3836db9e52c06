// A build without libnatpmp asks by UPnP alone.
#include "net_port_way.h"

namespace Net {

std::shared_ptr<PortWay> natPmpWay() {
    return nullptr;
}

}  // namespace Net
