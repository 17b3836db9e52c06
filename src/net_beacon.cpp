// The master's answers to the discovery's queries, and its announcements.
#include "net_beacon.h"

#include <algorithm>

#include "output_line.h"

namespace Net {

namespace {
// Queries read in one pass: a flood must not keep the waiting screen from its frames.
constexpr int kMaxPerPass = 1000;
// Ports below this belong to the system's services, which a reply could be made to attack.
constexpr unsigned kFirstUserPort = 1024;
// Senders remembered at most: spoofed ones must not grow the table without bound.
constexpr size_t kMaxSenders = 1024;
}  // namespace

void ReplyLimit::refill(Bucket& bucket, double rate, DiscoveryClock::time_point now) {
    if (now > bucket.at) {
        double seconds = std::chrono::duration<double>(now - bucket.at).count();
        bucket.tokens = std::min(rate, bucket.tokens + seconds * rate);
        bucket.at = now;
    }
}

bool ReplyLimit::allow(uint32_t sender, DiscoveryClock::time_point now) {
    refill(all, kInAll, now);
    auto found = senders.find(sender);
    if (found == senders.end()) {
        if (senders.size() >= kMaxSenders) {
            // Those whose bucket is full again are as good as new.
            for (auto i = senders.begin(); i != senders.end();) {
                refill(i->second, kPerSender, now);
                i = i->second.tokens >= kPerSender ? senders.erase(i) : std::next(i);
            }
            if (senders.size() >= kMaxSenders) {
                return false;
            }
        }
        found = senders.emplace(sender, Bucket{kPerSender, now}).first;
    }
    Bucket& one = found->second;
    refill(one, kPerSender, now);
    if (one.tokens < 1 || all.tokens < 1) {
        return false;
    }
    one.tokens -= 1;
    all.tokens -= 1;
    return true;
}

Beacon::Beacon(const std::string& nick, DiscoveryPorts ports, TargetList targets)
    : nick(listedNick(nick)), number(randomNumber()), ports(ports), targets(targets) {}

Beacon::~Beacon() {
    stop();
}

void Beacon::start() {
    if (!socket.open(ports.master)) {
        System::err() << "Not listed on the network: UDP port " << ports.master << " is taken";
        return;
    }
    toEveryone(Datagram::kAnnouncement);
}

void Beacon::stop() {
    if (socket.isOpen()) {
        toEveryone(Datagram::kGone);
        socket.close();
    }
}

void Beacon::toEveryone(Datagram::Kind kind) {
    Datagram d;
    d.kind = kind;
    d.hosting = number;
    d.nick = nick;
    std::vector<unsigned char> bytes = build(d);
    for (uint32_t to : targets()) {
        socket.sendTo(to, ports.slave, bytes);
    }
}

std::vector<unsigned char> Beacon::replyTo(const unsigned char* bytes, size_t size,
                                           uint32_t address, unsigned port,
                                           DiscoveryClock::time_point now,
                                           const Interfaces& interfaceList) {
    Datagram query;
    if (port < kFirstUserPort || !nearby(address, interfaceList) || !parse(bytes, size, query) ||
        query.kind != Datagram::kQuery || !limit.allow(address, now)) {
        return {};
    }
    Datagram reply;
    reply.kind = Datagram::kReply;
    reply.token = query.token;
    reply.hosting = number;
    reply.nick = nick;
    std::vector<unsigned char> answer = build(reply);
    // Never more than was sent: nobody may use a master to multiply its traffic.
    if (answer.size() > size) {
        return {};
    }
    return answer;
}

void Beacon::answer(DiscoveryClock::time_point now) {
    std::vector<unsigned char> bytes;
    uint32_t address;
    unsigned port;
    Interfaces interfaces;
    for (int i = 0; i < kMaxPerPass && socket.receive(bytes, kDatagramSize, address, port); i++) {
        // Read when a query comes, so that a network joined while the master waits counts.
        if (i == 0) {
            interfaces = Platform::interfaces();
        }
        std::vector<unsigned char> reply =
            replyTo(bytes.data(), bytes.size(), address, port, now, interfaces);
        if (!reply.empty()) {
            socket.sendTo(address, port, reply);
        }
    }
}

}  // namespace Net
